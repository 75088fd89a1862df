#include "platform/executable.h"

#include <QFileInfo>

QString RunningExecutablePath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}
