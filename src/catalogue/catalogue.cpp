#include "catalogue/catalogue.h"

#include <QRegularExpression>

QString ScriptFileName(long long step) {
    return QStringLiteral("modifiche%1.sql").arg(step, 3, 10, QLatin1Char('0'));
}

long long ScriptStep(const QString& fileName) {
    static const QRegularExpression name(QStringLiteral("^modifiche(\\d{3,18})\\.sql$"));
    const QRegularExpressionMatch match = name.match(fileName);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}
