#include "pipeline/apply.h"

#include "catalogue/requiredfiles.h"
#include "catalogue/updatecheck.h"
#include "core/runstate.h"
#include "core/services.h"
#include "core/userinterface.h"
#include "environment/databaseconnection.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"
#include "pipeline/commandrunner.h"
#include "platform/executable.h"
#include "platform/process.h"

#include <QFile>

namespace {

const QString VelmoraExecutable = QStringLiteral("velmora.exe");

// Moves an installed file aside to its kept copy (an older kept copy is deleted first) and puts
// the new file in its place. The work folder's copy is not needed afterwards (the scan after the
// update deletes it), so it is moved when it can be, which is instant and never leaves half a
// file; across file systems it is copied.
bool ReplaceFile(const QString& source, const QString& target) {
    if (FileExists(target)) {
        const QString kept = KeptCopyPath(target);
        if (QFile::exists(kept) && !QFile::remove(kept))
            return false;
        if (!QFile::rename(target, kept))
            return false;
    }
    return QFile::rename(source, target) || QFile::copy(source, target);
}

} // namespace

bool ApplyUpdates(const Services& services) {
    RunState& run = services.Run;
    UserInterface& ui = services.Ui;
    services.Connection.Close();
    int done = 0;
    ui.SetUpdateProgress(run.DownloadedCount, done);
    ui.SetUpdateVisible(true);
    ui.ProcessEvents();

    QString newVelmora;
    QString newOrvanto;
    for (const auto& [row, file] : SelectedFiles(run)) {
        const QString source = JoinPath(run.CopyFolder, file.FileName);
        if (!FileExists(source))
            return false;
        if (file.ComponentName == Component::Schema) {
            if (RunCommand(ScriptCommand(run.IsqlCommand, source, run.DatabasePath)) != 0)
                return false;
        } else {
            if (!ReplaceFile(source, InstalledPath(file)))
                return false;
            const QString lower = file.FileName.toLower();
            if (lower == VelmoraExecutable)
                newVelmora = row.SubItem(1);
            else if (lower == UpdaterExecutableName.toLower())
                newOrvanto = row.SubItem(1);
        }
        ui.SetUpdateProgress(run.DownloadedCount, ++done);
        ui.ProcessEvents();
    }

    if (!newVelmora.isEmpty())
        WriteIniValue(FindSettingsFile(), QStringLiteral("PRINCIPALE"), QStringLiteral("Versione"),
                      newVelmora);
    if (!newOrvanto.isEmpty()) {
        ReplaceProcess(JoinPath(GetProgramFolder(), UpdaterExecutableName),
                       QStringList{UpdaterExecutableName} + run.RestartArguments);
    }
    ActionControllaExecute(services);
    return true;
}
