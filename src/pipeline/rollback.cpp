#include "pipeline/rollback.h"

#include "catalogue/requiredfiles.h"
#include "core/filesystem.h"
#include "core/runstate.h"
#include "core/services.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "pipeline/commandrunner.h"
#include "pipeline/journal.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

QString StagingFolder() {
    return AddTrailingSeparator(JoinPath(GetProgramFolder(), QStringLiteral("Orvo/Ripristino")));
}

// Unpacks the whole archive into an empty staging folder and syncs what came out.
RollbackResult Stage(FileSystem& files, const QString& archive, const QString& staging) {
    QDir(staging).removeRecursively();
    if (!QDir().mkpath(staging))
        return RollbackResult::StagingFailed;
    if (RunCommand(ArchiveRestoreCommand(archive, staging)) != 0)
        return TestArchive(archive) ? RollbackResult::StagingFailed
                                    : RollbackResult::ArchiveUnusable;
    for (const QString& name : QDir(staging).entryList(QDir::Files | QDir::Hidden))
        files.SyncFile(staging + name);
    files.SyncFolder(staging);
    return RollbackResult::Done;
}

// Puts a staged file in the place of an installed one; the present file becomes the kept copy.
void PutBack(FileSystem& files, const QString& staged, const QString& target, bool keepPresent) {
    if (keepPresent && FileExists(target))
        files.Rename(target, KeptCopyPath(target));
    files.Rename(staged, target);
}

} // namespace

RollbackResult RollBack(const Services& services, const UpdateJournal& journal) {
    FileSystem& files = services.Files;
    const QString staging = StagingFolder();
    const RollbackResult staged = Stage(files, journal.Archive, staging);
    if (staged != RollbackResult::Done)
        return staged;
    // From here on the installation is being put back, whatever the journal said before.
    UpdateJournal rollingBack = journal;
    rollingBack.Phase = UpdateJournal::Stage::Applying;
    WriteJournal(files, rollingBack);

    QSet<QString> touchedFolders;
    const auto put = [&](const QString& name, const QString& target, bool keepPresent) {
        if (!FileExists(staging + name))
            return false;
        PutBack(files, staging + name, target, keepPresent);
        touchedFolders.insert(QFileInfo(target).absolutePath());
        return true;
    };
    const RequiredFileList required = services.Run.RequiredFiles;
    for (const RequiredFile& file : required) {
        if (file.ComponentName == Component::Archiver || file.ComponentName == Component::Schema)
            continue;
        const QString target = InstalledPath(file);
        if (!put(file.FileName, target, true) && journal.AddedFiles.contains(target)) {
            files.Remove(target);
            touchedFolders.insert(QFileInfo(target).absolutePath());
        }
    }
    services.Connection.Close();
    if (!journal.DatabasePath.isEmpty())
        put(QFileInfo(journal.DatabasePath).fileName(), journal.DatabasePath, false);
    if (!journal.SettingsPath.isEmpty())
        put(QFileInfo(journal.SettingsPath).fileName(), journal.SettingsPath, false);
    for (const QString& folder : touchedFolders)
        files.SyncFolder(folder);
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
