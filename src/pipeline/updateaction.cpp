#include "pipeline/updateaction.h"

#include "catalogue/componentfiles.h"
#include "catalogue/requiredfiles.h"
#include "catalogue/services.h"
#include "core/busyscope.h"
#include "core/error.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "core/stoprequest.h"
#include "core/userinterface.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "pipeline/apply.h"
#include "pipeline/backup.h"
#include "pipeline/download.h"
#include "pipeline/journal.h"
#include "pipeline/rollback.h"
#include "pipeline/workfolderscan.h"

#include <optional>

namespace {

// What became of an update that a request to stop ended.
const QString UntouchedOutcome = QStringLiteral("l'installazione non è stata modificata");
const QString RolledBackOutcome =
    QStringLiteral("l'installazione è stata riportata com'era prima dell'aggiornamento");
const QString InstalledOutcome = QStringLiteral("l'aggiornamento è stato installato");
const QString UnfinishedOutcome =
    QStringLiteral("l'aggiornamento non è terminato: il prossimo avvio di Orvanto lo concluderà");

// The installed files that the update adds: files of the selection that are not there yet. The
// archiver is never put back or removed by a rollback, so it is not listed.
QStringList AddedFiles(const RunState& run) {
    QStringList added;
    for (const SelectedFile& selected : SelectedFiles(run)) {
        const RequiredFile& file = selected.File;
        if (file.ComponentName != Component::Schema && file.ComponentName != Component::Archiver &&
            !FileExists(InstalledPath(file)))
            added.append(InstalledPath(file));
    }
    return added;
}

// Puts the installation back from the backup; true when that was done. An error's reason goes
// to the log, and the journal stays: the next start finishes the rollback.
bool RollBackFromBackup(const Services& services, const UpdateJournal& journal) {
    try {
        return services.Log.TimedStep(QStringLiteral("ripristino dalla copia di sicurezza"), [&] {
            return RollBack(services, journal) == RollbackResult::Done;
        });
    } catch (const std::exception& error) {
        services.Log.Reason(ExceptionMessage(error));
        services.Ui.AppendLog(ExceptionMessage(error));
        return false;
    }
}

// Applies the update; when that fails, half-way or with an error, or the run is asked to stop
// before every file is applied, the installation is put back from the backup. An error's reason
// goes to the log.
bool ApplyOrRollBack(const Services& services, UpdateJournal& journal) {
    try {
        if (services.Log.TimedStep(QStringLiteral("applicazione degli aggiornamenti"),
                                   [&] { return ApplyUpdates(services, journal); }))
            return true;
    } catch (RunStopped& stop) {
        // Without a journal the update has finished: the closing check was stopped.
        if (!UpdateUnfinished())
            stop.Outcome = InstalledOutcome;
        else if (RollBackFromBackup(services, journal))
            stop.Outcome = RolledBackOutcome;
        throw;
    } catch (const std::exception& error) {
        // Without a journal the update has finished and only the closing check failed: that
        // error is the check's own.
        if (!UpdateUnfinished())
            throw;
        services.Log.Reason(ExceptionMessage(error));
        services.Ui.AppendLog(ExceptionMessage(error));
    }
    RollBackFromBackup(services, journal);
    return false;
}

// The files the update is about to fetch, as the run log names them.
void LogSelection(const Services& services) {
    QStringList names;
    for (const SelectedFile& selected : SelectedFiles(services.Run))
        names.append(selected.File.FileName);
    services.Log.Write("Da aggiornare: " + names.join(QStringLiteral(", ")));
}

// Runs the steps in their order; the message of the step that failed, or nothing.
std::optional<QString> RunSteps(const Services& services) {
    const BusyScope busy(services.Ui);
    RunLog& log = services.Log;
    // An update left unfinished must be ended before another one may start.
    if (UpdateUnfinished())
        return UnfinishedUpdateMessage;
    LogSelection(services);
    if (!log.TimedStep(QStringLiteral("scaricamento"), [&] { return DownloadUpdates(services); }))
        return DownloadFailedMessage;
    services.Connection.Close();
    UpdateJournal journal;
    if (!log.TimedStep(QStringLiteral("copia di sicurezza"),
                       [&] { return MakeBackup(services, journal); }))
        return BackupFailedMessage;
    journal.AddedFiles = AddedFiles(services.Run);
    WriteJournal(services.Files, journal);
    if (!ApplyOrRollBack(services, journal))
        return ApplyFailedMessage;
    ScanWorkFolders(services.Run, 3);
    return std::nullopt;
}

} // namespace

bool ActionAggiornaExecute(const Services& services, const std::function<void()>& reset) {
    std::optional<QString> failure;
    try {
        failure = RunSteps(services);
    } catch (RunStopped& stop) {
        if (UpdateUnfinished()) {
            stop.Outcome = UnfinishedOutcome;
        } else {
            if (stop.Outcome.isEmpty())
                stop.Outcome = UntouchedOutcome;
            // Partial downloads and archives, and packages that no step will use.
            ScanWorkFolders(services.Run, 1 | 2);
        }
        services.Log.Write("Esito: aggiornamento interrotto, " + stop.Outcome);
        throw;
    } catch (const std::exception&) {
        services.Log.Write(FailedOutcome);
        throw;
    }
    if (!failure) {
        services.Log.Write(QStringLiteral("Esito: aggiornamento riuscito"));
        return true;
    }
    services.Ui.ShowMessage(*failure, MessageKind::UpdateFailure);
    // The outcome comes after the check that follows, whose entries are marked as such.
    services.Log.Write(RecheckAfterFailure);
    try {
        reset();
    } catch (const std::exception&) {
        services.Log.Write(FailedOutcome);
        throw;
    }
    services.Log.Write(FailedOutcome);
    return false;
}
