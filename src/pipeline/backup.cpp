#include "pipeline/backup.h"

#include "catalogue/requiredfiles.h"
#include "catalogue/runstate.h"
#include "catalogue/services.h"
#include "core/error.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "core/workfolder.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "pipeline/commandrunner.h"
#include "pipeline/journal.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Database scripts will run: their row is ticked and the check listed at least one of them.
bool ScriptsDue(const RunState& run) {
    const bool ticked =
        std::any_of(run.Checklist.begin(), run.Checklist.end(), [](const ChecklistRow& row) {
            return row.Checked && row.Caption == Component::Schema;
        });
    return ticked && std::any_of(run.RequiredFiles.begin(), run.RequiredFiles.end(),
                                 [](const RequiredFile& file) {
                                     return file.ComponentName == Component::Schema;
                                 });
}

// Whether the database file joins the backup. Without isql no script can run, and the first
// taking-part script entry decides. With isql the database is archived when scripts are due and
// the file is local to an embedded installation, so that a failed script can be undone; a server's
// database is not archived.
bool DatabaseJoinsBackup(const Services& services) {
    const RunState& run = services.Run;
    if (run.IsqlCommand.isEmpty()) {
        return std::any_of(run.RequiredFiles.begin(), run.RequiredFiles.end(),
                           [&](const RequiredFile& file) {
                               return file.ComponentName == Component::Schema &&
                                      IsFileIncluded(run.RequiredFiles, file.FileName);
                           });
    }
    return ScriptsDue(run) && IsEmbeddedConnection(&services.Connection) &&
           FileExists(JoinPath(GetProgramFolder(), run.DatabasePath));
}

const QString PartialSuffix = QStringLiteral(".part");

// While the archiver writes the archive, its files are the runner's alone: the archive holds the
// database and the settings, so it is never readable by others, not even half made.
class PrivateFilesScope {
public:
    PrivateFilesScope() : Saved(::umask(077)) {}
    ~PrivateFilesScope() { ::umask(Saved); }
    PrivateFilesScope(const PrivateFilesScope&) = delete;
    PrivateFilesScope& operator=(const PrivateFilesScope&) = delete;

private:
    mode_t Saved;
};

// The finished archive may be read by those who may read the file it protects most (the
// database when it holds it, else the settings), never by more: it stays the runner's and
// writable by the runner alone, takes the model's group when the model lets its group read it,
// and others may read it only when they may read the model. Without a model it stays private.
void GiveArchiveAccess(const QString& archive, const QString& model) {
    const QByteArray path = QFile::encodeName(archive);
    struct stat status {};
    if (model.isEmpty() || ::stat(QFile::encodeName(model).constData(), &status) != 0) {
        ::chmod(path.constData(), 0600);
        return;
    }
    mode_t mode = 0600 | (status.st_mode & S_IROTH);
    if ((status.st_mode & S_IRGRP) &&
        (::getegid() == status.st_gid || ::chown(path.constData(), -1, status.st_gid) == 0))
        mode |= S_IRGRP;
    ::chmod(path.constData(), mode);
}

} // namespace

QString BackupArchiveName(const QDateTime& moment) {
    return moment.toString(QStringLiteral("yyMMdd_HHmmss")) + ".7z";
}

bool MakeBackup(const Services& services, UpdateJournal& journal) {
    const RunState& run = services.Run;
    journal.Archive = JoinPath(run.BackupFolder, BackupArchiveName(QDateTime::currentDateTime()));
    // The archives hold the database: their folder is the owner's only.
    try {
        EnsureWorkFolder(run.BackupFolder, PrivateWorkFolderMode);
    } catch (const OrvantoError& error) {
        services.Log.Reason(error.Message());
        return false;
    }
    QStringList installed;
    for (const RequiredFile& file : run.RequiredFiles) {
        const QString path = InstalledPath(file);
        if (FileExists(path))
            installed.append(path);
    }
    // A settings file that is a link is archived as the file it leads to, under that name.
    const QString settings =
        FindSettingsFile().isEmpty() ? QString() : FollowLinks(FindSettingsFile());
    if (!settings.isEmpty())
        installed.append(settings);
    // The archive is made under a name of its own and takes its real name only once complete and
    // on the disk, so that an interrupted backup never looks like one that can be restored.
    const QString partial = journal.Archive + PartialSuffix;
    services.Files.Remove(partial);
    // Without any file the archiver would pack its whole working folder.
    QString failure;
    const bool database = DatabaseJoinsBackup(services);
    {
        const PrivateFilesScope privateFiles;
        if (!installed.isEmpty() &&
            RunCommand(BackupCommand(partial, installed), nullptr, &failure) != 0) {
            services.Log.Reason(failure);
            return false;
        }
        if (database &&
            RunCommand(DatabaseBackupCommand(partial, run.DatabasePath), nullptr, &failure) != 0) {
            services.Log.Reason(failure);
            return false;
        }
    }
    if (installed.isEmpty() && !database)
        return true;
    GiveArchiveAccess(partial,
                      database ? JoinPath(GetProgramFolder(), run.DatabasePath) : settings);
    services.Files.SyncFile(partial);
    services.Files.Rename(partial, journal.Archive);
    services.Files.SyncFolder(run.BackupFolder);
    journal.SettingsPath = settings;
    journal.DatabasePath = database ? JoinPath(GetProgramFolder(), run.DatabasePath) : QString();
    return true;
}

void ApplyBackupRetention(const QString& backupFolder, const QDate& today) {
    const QStringList names = QDir(backupFolder).entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        bool digits = name.size() >= 6;
        for (int i = 0; digits && i < 6; ++i)
            digits = name[i] >= '0' && name[i] <= '9';
        if (!digits)
            continue;
        const QDate made(2000 + name.left(2).toInt(), name.mid(2, 2).toInt(),
                         name.mid(4, 2).toInt());
        if (made.isValid() && made.daysTo(today) > BackupRetentionDays)
            QFile::remove(JoinPath(backupFolder, name));
    }
}
