#include "pipeline/workfolderscan.h"

#include "catalogue/runstate.h"
#include "environment/lowlevel.h"
#include "pipeline/backup.h"
#include "pipeline/journal.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Removes what a killed download or backup left: files ending in ".part". A link among them is
// removed itself, never followed.
void RemovePartialFiles(const QString& folder) {
    for (const QString& name : QDir(folder).entryList({"*.part"}, QDir::Files | QDir::System))
        QFile::remove(JoinPath(folder, name));
}

// Removes the staging folder a killed rollback left; a link in its place is removed itself,
// so that no other folder is emptied through it.
void RemoveStaging() {
    const QFileInfo staging(QDir::cleanPath(StagingFolder()));
    if (staging.isDir() && !staging.isSymLink())
        QDir(staging.filePath()).removeRecursively();
    else
        QFile::remove(staging.filePath());
}

} // namespace

bool ScanWorkFolders(const RunState& run, int flags) {
    // While an update is unfinished its kept copies and its archive may still be needed.
    if (UpdateUnfinished())
        flags &= ~(2 | 4);
    if (flags & 1) {
        for (const RequiredFile& file : run.RequiredFiles) {
            const QString unpacked = JoinPath(run.CopyFolder, file.FileName);
            if (FileExists(unpacked))
                QFile::remove(unpacked);
            else if (FileExists(unpacked + ".7z"))
                QFile::remove(unpacked + ".7z");
        }
        for (const QString& script : QDir(run.CopyFolder).entryList({"*.sql"}, QDir::Files))
            QFile::remove(JoinPath(run.CopyFolder, script));
        RemovePartialFiles(run.CopyFolder);
        RemoveStaging();
    }
    if (flags & 2) {
        RemovePartialFiles(run.BackupFolder);
        ApplyBackupRetention(run.BackupFolder, QDate::currentDate());
    }
    if (flags & 4) {
        for (const RequiredFile& file : run.RequiredFiles) {
            const QString kept = KeptCopyPath(InstalledPath(file));
            if (FileExists(kept))
                QFile::remove(kept);
        }
    }
    return true;
}
