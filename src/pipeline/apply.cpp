#include "pipeline/apply.h"

#include "catalogue/cataloguefetch.h"
#include "catalogue/componentfiles.h"
#include "catalogue/requiredfiles.h"
#include "catalogue/runstate.h"
#include "catalogue/services.h"
#include "catalogue/updatecheck.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "core/stoprequest.h"
#include "core/userinterface.h"
#include "environment/databaseconnection.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"
#include "pipeline/commandrunner.h"
#include "pipeline/journal.h"
#include "pipeline/scripts.h"
#include "platform/executable.h"
#include "platform/process.h"

#include <QFileInfo>
#include <QProcess>

namespace {

const QString VelmoraExecutable = QStringLiteral("velmora.exe");
// How long a new updater may take to tell its version before it is refused.
const int VersionProbeMilliseconds = 10000;
// More than any version text; what goes beyond is not read.
const qint64 VersionProbeOutputLimit = 4096;

// Whether the new updater, run as a child from the work folder with "--version", ends by itself
// within the time-out with exit status 0 and prints exactly the version the catalogue announced;
// `failure` gets what went wrong.
bool AnswersWithVersion(const QString& program, const QString& version, QString* failure) {
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("--version")});
    process.setWorkingDirectory(QFileInfo(program).absolutePath());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setChildProcessModifier(PrepareChildProcess);
    process.start();
    if (!process.waitForStarted(VersionProbeMilliseconds)) {
        *failure = "non avviato (" + process.errorString() + ")";
        return false;
    }
    if (!process.waitForFinished(VersionProbeMilliseconds)) {
        process.kill();
        process.waitForFinished(-1);
        *failure = QStringLiteral("nessuna risposta a --version entro %1 s")
                       .arg(VersionProbeMilliseconds / 1000);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        *failure = QStringLiteral("terminato in modo anomalo con --version");
        return false;
    }
    if (process.exitCode() != 0) {
        *failure = QStringLiteral("terminato con codice %1 con --version").arg(process.exitCode());
        return false;
    }
    const QString told = QString::fromUtf8(process.read(VersionProbeOutputLimit)).trimmed();
    if (told != version) {
        *failure =
            "con --version ha indicato la versione '" + told + "' invece di '" + version + "'";
        return false;
    }
    return true;
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
    // The folders of the installation whose names changed since they were last synced: each
    // batch of renames is on the disk before the journal's next step.
    QStringList renamed;
    const auto syncRenamed = [&] {
        files.SyncFoldersOf(renamed);
        renamed.clear();
    };
    const QList<SelectedFile> selected = SelectedFiles(run);
    // After each entry: the run may stop there, the journal saying what to undo.
    const auto advance = [&] {
        ui.SetUpdateProgress(run.DownloadedCount, ++done);
        ui.ProcessEvents();
        ThrowIfStopped();
    };
    bool scriptsRun = false;
    for (const auto& [row, file] : selected) {
        const QString source = JoinPath(run.CopyFolder, file.FileName);
        if (!FileExists(source)) {
            services.Log.Reason("File mancante nella cartella di lavoro: " + source);
            return false;
        }
        if (file.ComponentName == Component::Schema) {
            // The schema row's scripts run together, at the first of them.
            if (scriptsRun)
                continue;
            scriptsRun = true;
            syncRenamed();
            QStringList scripts;
            for (const SelectedFile& entry : selected) {
                if (entry.File.ComponentName == Component::Schema)
                    scripts.append(entry.File.FileName);
            }
            for (const QString& script : scripts) {
                if (!FileExists(JoinPath(run.CopyFolder, script))) {
                    services.Log.Reason("File mancante nella cartella di lavoro: " +
                                        JoinPath(run.CopyFolder, script));
                    return false;
                }
            }
            if (!RunScripts(services, journal, scripts, advance))
                return false;
            continue;
        } else {
            const bool updater = file.FileName.toLower() == UpdaterExecutableName.toLower();
            // The running updater is given up only for a program that can take its place and
            // that starts, ends cleanly and tells the version the catalogue announced.
            if (updater && !IsRunnableProgram(source)) {
                services.Log.Reason("Il nuovo Orvanto non può essere eseguito su questo sistema: " +
                                    source);
                return false;
            }
            const QString target = InstalledPath(file);
            if (updater) {
                // Tried with the owner and mode it will have (a package may not keep the bits).
                if (FileExists(target))
                    files.CopyOwnerAndMode(target, source);
                else
                    files.AdoptFolderAccess(source, GetProgramFolder());
            }
            QString failure;
            if (updater && !AnswersWithVersion(source, row.SubItem(1), &failure)) {
                services.Log.Reason("Il nuovo Orvanto " + source + " non funziona: " + failure);
                return false;
            }
            // The new file's data is on the disk before its name moves into the installation.
            files.SyncFile(source);
            files.ReplaceKeepingCopy(source, target, KeptCopyPath(target));
            renamed.append(target);
            if (file.FileName.toLower() == VelmoraExecutable)
                journal.NewVelmoraVersion = row.SubItem(1);
            else if (updater)
                newOrvanto = row.SubItem(1);
        }
        advance();
    }

    // Every new file is on the disk, with its name, before the journal says so.
    syncRenamed();
    journal.Phase = UpdateJournal::Stage::Applied;
    WriteJournal(files, journal);
    FinishUpdate(files, journal);

    if (!newOrvanto.isEmpty()) {
        // Asked to stop, the run ends with the update installed rather than start anew.
        ThrowIfStopped();
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
    // The catalogue is as a rule the one checked before the update: the server is asked whether
    // it changed.
    CatalogueFetch unchanged(services, CatalogueFetch::Ask::IfChanged);
    ActionControllaExecute(services, unchanged);
    return true;
}

void FinishUpdate(FileSystem& files, const UpdateJournal& journal) {
    if (!journal.NewVelmoraVersion.isEmpty())
        WriteIniValue(files, FindSettingsFile(), QStringLiteral("PRINCIPALE"),
                      QStringLiteral("Versione"), journal.NewVelmoraVersion);
    RemoveJournal(files);
}
