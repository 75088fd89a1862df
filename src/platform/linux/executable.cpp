#include "platform/executable.h"

#include <QFileInfo>

const QString UpdaterExecutableName = QStringLiteral("Orvanto");

QString RunningExecutablePath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}
