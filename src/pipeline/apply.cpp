#include "pipeline/apply.h"

#include "catalogue/requiredfiles.h"
#include "catalogue/updatecheck.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "core/runstate.h"
#include "core/services.h"
#include "core/userinterface.h"
#include "environment/databaseconnection.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"
#include "pipeline/commandrunner.h"
#include "pipeline/journal.h"
#include "platform/executable.h"
#include "platform/process.h"

#include <QFile>

namespace {

const QString VelmoraExecutable = QStringLiteral("velmora.exe");

// Moves an installed file aside to its kept copy and puts the new file in its place with the
// permissions of the file it replaces. The work folder's copy is not needed afterwards, so it is
// moved when it can be, which never leaves half a file; across file systems it is copied beside
// the target first.
void ReplaceFile(FileSystem& files, const QString& source, const QString& target) {
    if (FileExists(target))
        files.SetPermissions(source, QFile::permissions(target));
    files.ReplaceKeepingCopy(source, target, KeptCopyPath(target));
}

} // namespace

bool ApplyUpdates(const Services& services, UpdateJournal& journal) {
    RunState& run = services.Run;
    UserInterface& ui = services.Ui;
    FileSystem& files = services.Files;
    services.Connection.Close();
    int done = 0;
    ui.SetUpdateProgress(run.DownloadedCount, done);
    ui.SetUpdateVisible(true);
    ui.ProcessEvents();

    QString newOrvanto;
    QStringList installed;
    for (const auto& [row, file] : SelectedFiles(run)) {
        const QString source = JoinPath(run.CopyFolder, file.FileName);
        if (!FileExists(source)) {
            services.Log.Reason("File mancante nella cartella di lavoro: " + source);
            return false;
        }
        if (file.ComponentName == Component::Schema) {
            journal.RunningScript = file.FileName;
            WriteJournal(files, journal);
            QString failure;
            if (RunCommand(ScriptCommand(run.IsqlCommand, source, run.DatabasePath), nullptr,
                           &failure) != 0) {
                services.Log.Reason("Script " + file.FileName + ": " + failure);
                return false;
            }
            journal.RunningScript.clear();
            WriteJournal(files, journal);
        } else {
            const bool updater = file.FileName.toLower() == UpdaterExecutableName.toLower();
            // The running updater is given up only for a program that can take its place.
            if (updater && !IsRunnableProgram(source)) {
                services.Log.Reason("Il nuovo Orvanto non può essere eseguito su questo sistema: " +
                                    source);
                return false;
            }
            ReplaceFile(files, source, InstalledPath(file));
            installed.append(InstalledPath(file));
            if (file.FileName.toLower() == VelmoraExecutable)
                journal.NewVelmoraVersion = row.SubItem(1);
            else if (updater)
                newOrvanto = row.SubItem(1);
        }
        ui.SetUpdateProgress(run.DownloadedCount, ++done);
        ui.ProcessEvents();
    }

    // Every new file is on the disk before the journal says so.
    for (const QString& path : installed)
        files.SyncFile(path);
    files.SyncFoldersOf(installed);
    journal.Phase = UpdateJournal::Stage::Applied;
    WriteJournal(files, journal);
    FinishUpdate(files, journal);

    if (!newOrvanto.isEmpty()) {
        // The log ends here for this process; the new updater goes on with its own entries.
        services.Log.Write("Esito: aggiornamento riuscito, si avvia Orvanto " + newOrvanto);
        ReplaceProcess(JoinPath(GetProgramFolder(), UpdaterExecutableName),
                       QStringList{UpdaterExecutableName} + run.RestartArguments);
        // The new updater could not be started: the update is undone.
        services.Log.Reason("Impossibile avviare il nuovo Orvanto: " +
                            JoinPath(GetProgramFolder(), UpdaterExecutableName));
        journal.Phase = UpdateJournal::Stage::Applying;
        WriteJournal(files, journal);
        return false;
    }
    ActionControllaExecute(services);
    return true;
}

void FinishUpdate(FileSystem& files, const UpdateJournal& journal) {
    if (!journal.NewVelmoraVersion.isEmpty())
        WriteIniValue(files, FindSettingsFile(), QStringLiteral("PRINCIPALE"),
                      QStringLiteral("Versione"), journal.NewVelmoraVersion);
    RemoveJournal(files);
}
