#include "catalogue/catalogue.h"

QString ScriptFileName(long long step) {
    return QStringLiteral("modifiche%1.sql").arg(step, 3, 10, QLatin1Char('0'));
}
