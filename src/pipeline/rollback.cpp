#include "pipeline/rollback.h"

#include "catalogue/requiredfiles.h"
#include "core/error.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "core/runstate.h"
#include "core/services.h"
#include "core/stoprequest.h"
#include "core/workfolder.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "pipeline/commandrunner.h"
#include "pipeline/journal.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Unpacks the whole archive into an empty staging folder and syncs what came out; the log gets
// the reason when that cannot be done. Throws OrvantoError naming the staging folder when it is a
// link or a file.
RollbackResult Stage(FileSystem& files, RunLog& log, const QString& archive,
                     const QString& staging) {
    // A link there is never followed: emptying it would empty another folder.
    CheckWorkSubfolder(staging);
    QDir(staging).removeRecursively();
    try {
        EnsureWorkFolder(staging, PrivateWorkFolderMode);
    } catch (const OrvantoError& error) {
        log.Reason(error.Message());
        return RollbackResult::StagingFailed;
    }
    QString failure;
    if (RunCommand(ArchiveRestoreCommand(archive, staging), nullptr, &failure) != 0) {
        log.Reason(failure);
        return TestArchive(archive) ? RollbackResult::StagingFailed
                                    : RollbackResult::ArchiveUnusable;
    }
    for (const QString& name : QDir(staging).entryList(QDir::Files | QDir::Hidden))
        files.SyncFile(staging + name);
    files.SyncFolder(staging);
    return RollbackResult::Done;
}

} // namespace

RollbackResult RollBack(const Services& services, const UpdateJournal& journal) {
    const StopShield shield;
    FileSystem& files = services.Files;
    const QString staging = StagingFolder();
    const RollbackResult staged = Stage(files, services.Log, journal.Archive, staging);
    if (staged != RollbackResult::Done)
        return staged;
    ThrowIfStopped();
    // From here on the installation is being put back, whatever the journal said before.
    UpdateJournal rollingBack = journal;
    rollingBack.Phase = UpdateJournal::Stage::Applying;
    WriteJournal(files, rollingBack);

    // Installed files get back their archived content, the present one becoming the kept copy;
    // the database and the settings are simply replaced. Each keeps the owner and mode of the
    // file it replaces.
    QStringList touched;
    const auto put = [&](const QString& name, const QString& target, bool keepPresent) {
        const QString staged = staging + name;
        if (!FileExists(staged))
            return false;
        ThrowIfStopped();
        if (keepPresent)
            files.ReplaceKeepingCopy(staged, target, KeptCopyPath(target));
        else
            files.Replace(staged, target);
        touched.append(target);
        return true;
    };
    const RequiredFileList required = services.Run.RequiredFiles;
    for (const RequiredFile& file : required) {
        if (file.ComponentName == Component::Archiver || file.ComponentName == Component::Schema)
            continue;
        const QString target = InstalledPath(file);
        if (!put(file.FileName, target, true) && journal.AddedFiles.contains(target)) {
            files.Remove(target);
            touched.append(target);
        }
    }
    services.Connection.Close();
    if (!journal.DatabasePath.isEmpty())
        put(QFileInfo(journal.DatabasePath).fileName(), journal.DatabasePath, false);
    // A settings file that is a link gets its content back where the link leads.
    if (!journal.SettingsPath.isEmpty())
        put(QFileInfo(journal.SettingsPath).fileName(), FollowLinks(journal.SettingsPath), false);
    files.SyncFoldersOf(touched);
    RemoveJournal(files);
    QDir(staging).removeRecursively();
    return RollbackResult::Done;
}

RollbackResult RestoreBackup(const Services& services, const QString& archive) {
    UpdateJournal journal;
    journal.Archive = archive;
    if (!services.Run.DatabasePath.isEmpty())
        journal.DatabasePath = JoinPath(GetProgramFolder(), services.Run.DatabasePath);
    return RollBack(services, journal);
}
