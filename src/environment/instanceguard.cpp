#include "environment/instanceguard.h"

#include "core/error.h"
#include "core/workfolder.h"
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

namespace {

// Empty when this process may run; otherwise what to tell the person. The lock lives in the
// installation's work folder, so it guards the installation for every user of it.
QString TakeGuard() {
    const QString refusal = SecondInstanceMessage + ExecutableBaseName();
    try {
        const QString folder = JoinPath(GetProgramFolder(), WorkFolderName);
        try {
            EnsureWorkFolder(folder, SharedWorkFolderMode);
        } catch (const WorkFolderDenied&) {
            // This user cannot change the installation, so there is nothing to guard.
            return QString();
        }
        if (!AcquireInstanceGuard(folder, GuardName(GetProgramFolder(), ExecutableBaseName())))
            return refusal;
        return AcquireInstallationGuard(folder) ? QString()
                                                : InstallationBusyMessage + GetProgramFolder();
    } catch (const OrvantoError& error) {
        return refusal + "\n" + error.Message();
    }
}

} // namespace

bool CheckSingleInstance(const std::function<void(const QString&)>& tell) {
    static const QString refusal = TakeGuard();
    if (!refusal.isEmpty())
        tell(refusal);
    return refusal.isEmpty();
}
