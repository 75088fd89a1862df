#include "pipeline/updateaction.h"

#include "catalogue/requiredfiles.h"
#include "core/busyscope.h"
#include "core/error.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "core/services.h"
#include "core/userinterface.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "pipeline/apply.h"
#include "pipeline/backup.h"
#include "pipeline/download.h"
#include "pipeline/journal.h"
#include "pipeline/rollback.h"

#include <optional>

namespace {

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

// Applies the update; when that fails, half-way or with an error, the installation is put back
// from the backup. An error's reason goes to the log.
bool ApplyOrRollBack(const Services& services, UpdateJournal& journal) {
    try {
        if (services.Log.TimedStep(QStringLiteral("applicazione degli aggiornamenti"),
                                   [&] { return ApplyUpdates(services, journal); }))
            return true;
    } catch (const std::exception& error) {
        // Without a journal the update has finished and only the closing check failed: that
        // error is the check's own.
        if (!UpdateUnfinished())
            throw;
        services.Log.Reason(ExceptionMessage(error));
        services.Ui.AppendLog(ExceptionMessage(error));
    }
    try {
        services.Log.TimedStep(QStringLiteral("ripristino dalla copia di sicurezza"),
                               [&] { return RollBack(services, journal) == RollbackResult::Done; });
    } catch (const std::exception& error) {
        // The journal stays; the next start finishes the rollback.
        services.Log.Reason(ExceptionMessage(error));
        services.Ui.AppendLog(ExceptionMessage(error));
    }
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
