#include "pipeline/rollback.h"

#include "catalogue/requiredfiles.h"
#include "core/runstate.h"
#include "core/services.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "pipeline/commandrunner.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Restores one installed file: the present file is moved aside to its kept copy, the archive's
// file is extracted in its place, and when the archive brought nothing back the kept copy takes
// its name again.
void RestoreFile(const QString& archive, const RequiredFile& file) {
    const QString folder = JoinPath(GetProgramFolder(), file.Subfolder);
    const QString target = JoinPath(folder, file.FileName);
    const QString kept = KeptCopyPath(target);
    bool movedAside = false;
    if (FileExists(target)) {
        if (FileExists(kept))
            QFile::remove(kept);
        movedAside = QFile::rename(target, kept);
    }
    RunCommand(FileRestoreCommand(archive, folder, file.FileName));
    if (movedAside && !FileExists(target))
        QFile::rename(kept, target);
}

} // namespace

bool RestoreBackup(const Services& services, const QString& archive) {
    if (!TestArchive(archive))
        return true;
    const RequiredFileList files = services.Run.RequiredFiles;
    for (const RequiredFile& file : files) {
        if (file.ComponentName != Component::Archiver && file.ComponentName != Component::Schema)
            RestoreFile(archive, file);
    }
    services.Connection.Close();
    if (!services.Run.DatabasePath.isEmpty()) {
        // A relative database path names a file of the program folder.
        const QFileInfo database(JoinPath(GetProgramFolder(), services.Run.DatabasePath));
        RunCommand(DatabaseRestoreCommand(archive, AddTrailingSeparator(database.path()),
                                          database.fileName()));
    }
    return true;
}
