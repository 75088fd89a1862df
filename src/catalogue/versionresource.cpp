#include "catalogue/versionresource.h"

QString ReadVersionString(const QString&, const QString&) {
    return {};
}
