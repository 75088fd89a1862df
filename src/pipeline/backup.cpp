#include "pipeline/backup.h"

#include "catalogue/requiredfiles.h"
#include "core/runstate.h"
#include "core/services.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "pipeline/commandrunner.h"

#include <QDir>
#include <QFile>
#include <algorithm>

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

} // namespace

QString BackupArchiveName(const QDateTime& moment) {
    return moment.toString(QStringLiteral("yyMMdd_HHmmss")) + ".7z";
}

bool MakeBackup(const Services& services, QString& archivePath) {
    const RunState& run = services.Run;
    archivePath = JoinPath(run.BackupFolder, BackupArchiveName(QDateTime::currentDateTime()));
    if (!QDir().mkpath(run.BackupFolder))
        return false;
    QStringList installed;
    for (const RequiredFile& file : run.RequiredFiles) {
        const QString path = InstalledPath(file);
        if (FileExists(path))
            installed.append(path);
    }
    // Without any file the archiver would pack its whole working folder.
    if (!installed.isEmpty() && RunCommand(BackupCommand(archivePath, installed)) != 0)
        return false;
    if (!DatabaseJoinsBackup(services))
        return true;
    return RunCommand(DatabaseBackupCommand(archivePath, run.DatabasePath)) == 0;
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
