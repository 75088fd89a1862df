#include "core/instanceguard.h"

#include "environment/lowlevel.h"
#include "platform/executable.h"
#include "platform/singleinstance.h"

#include <QFileInfo>

QByteArray GuardName(const QString& programFolder, const QString& baseName) {
    QString name = programFolder + baseName;
    name.remove('\\');
    name.remove(':');
    return name.toLocal8Bit();
}

QString ExecutableBaseName() {
    return QFileInfo(RunningExecutablePath()).completeBaseName();
}

bool CheckSingleInstance(const std::function<void(const QString&)>& tell) {
    static const bool held =
        AcquireInstanceGuard(GuardName(GetProgramFolder(), ExecutableBaseName()));
    if (!held)
        tell(SecondInstanceMessage + ExecutableBaseName());
    return held;
}
