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

namespace {

const QString VelmoraExecutable = QStringLiteral("velmora.exe");

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
    // The folders of the installation whose names changed since they were last synced: each
    // batch of renames is on the disk before the journal's next step.
    QStringList renamed;
    const auto syncRenamed = [&] {
        files.SyncFoldersOf(renamed);
        renamed.clear();
    };
    for (const auto& [row, file] : SelectedFiles(run)) {
        const QString source = JoinPath(run.CopyFolder, file.FileName);
        if (!FileExists(source)) {
            services.Log.Reason("File mancante nella cartella di lavoro: " + source);
            return false;
        }
        if (file.ComponentName == Component::Schema) {
            syncRenamed();
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
            const QString target = InstalledPath(file);
            // The new file's data is on the disk before its name moves into the installation.
            files.SyncFile(source);
            files.ReplaceKeepingCopy(source, target, KeptCopyPath(target));
            renamed.append(target);
            if (file.FileName.toLower() == VelmoraExecutable)
                journal.NewVelmoraVersion = row.SubItem(1);
            else if (updater)
                newOrvanto = row.SubItem(1);
        }
        ui.SetUpdateProgress(run.DownloadedCount, ++done);
        ui.ProcessEvents();
    }

    // Every new file is on the disk, with its name, before the journal says so.
    syncRenamed();
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
