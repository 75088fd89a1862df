#include "pipeline/rollback.h"

#include "catalogue/requiredfiles.h"
#include "catalogue/runstate.h"
#include "catalogue/services.h"
#include "core/error.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "core/stoprequest.h"
#include "core/workfolder.h"
#include "environment/databaseconnection.h"
#include "environment/inifile.h"
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

const QString MainSection = QStringLiteral("PRINCIPALE");
const QString VersionKey = QStringLiteral("Versione");

// Writes into the settings file Velmora's version as the staged copy of it holds it, leaving the
// rest of the file as it is; nothing changes when the archive holds no settings file, when that
// lacks the key, or when the version is already the same. Returns whether it wrote.
bool RestoreVersion(FileSystem& files, const QString& staging, const QString& settings) {
    if (settings.isEmpty())
        return false;
    QFile staged(staging + QFileInfo(FollowLinks(settings)).fileName());
    if (!staged.open(QIODevice::ReadOnly))
        return false;
    const QString archived = IniText(staged.readAll()).ReadString(MainSection, VersionKey, {});
    if (archived.isNull() || IniFile(settings).ReadString(MainSection, VersionKey, {}) == archived)
        return false;
    WriteIniValue(files, settings, MainSection, VersionKey, archived);
    return true;
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
        if (put(file.FileName, target, true))
            continue;
        if (journal.AddedFiles.contains(target)) {
            files.Remove(target);
            touched.append(target);
        } else if (journal.Restoring && QFileInfo(target).isFile()) {
            // Not part of the installation the archive holds: it stays only as its kept copy.
            ThrowIfStopped();
            files.Remove(KeptCopyPath(target));
            files.Rename(target, KeptCopyPath(target));
            touched.append(target);
        }
    }
    services.Connection.Close();
    if (!journal.DatabasePath.isEmpty())
        put(QFileInfo(journal.DatabasePath).fileName(), journal.DatabasePath, false);
    // A settings file that is a link gets its content, or its version, back where the link leads.
    if (journal.Restoring)
        RestoreVersion(files, staging, journal.SettingsPath);
    else if (!journal.SettingsPath.isEmpty())
        put(QFileInfo(journal.SettingsPath).fileName(), FollowLinks(journal.SettingsPath), false);
    files.SyncFoldersOf(touched);
    RemoveJournal(files);
    QDir(staging).removeRecursively();
    return RollbackResult::Done;
}

RollbackResult RestoreBackup(const Services& services, const QString& archive) {
    UpdateJournal journal;
    journal.Archive = archive;
    journal.Restoring = true;
    journal.SettingsPath = FindSettingsFile();
    if (!services.Run.DatabasePath.isEmpty())
        journal.DatabasePath = JoinPath(GetProgramFolder(), services.Run.DatabasePath);
    return RollBack(services, journal);
}
