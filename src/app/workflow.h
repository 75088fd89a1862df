#pragma once

#include "catalogue/runstate.h"
#include "catalogue/services.h"
#include "core/filesystem.h"
#include "core/loggedinterface.h"
#include "core/runlog.h"
#include "environment/databaseconnection.h"
#include "net/httpclient.h"

#include <QStringList>
#include <functional>

class UserInterface;
struct RunStopped;

// True when an argument holds "verbose", "/v" or "-v" anywhere, without regard to case.
bool VerboseRequested(const QStringList& arguments);

// Runs an action and shows any error that escapes it through the default error handler, so that
// no exception leaves an event handler.
void RunGuarded(UserInterface& ui, const std::function<void()>& action);

// What a run that a request to stop ended tells the person and the log: "Interrotto (SIGTERM)",
// and what became of the update after a colon.
QString StopMessage(const RunStopped& stop);

// Writes into the run log a start that ended before the workflow existed (no settings file).
void LogStartupFailure(const QStringList& arguments, const QString& message, int exitCode);

// The controller of a run: the state the main window owns and the operations its actions start.
// The window and the console front end drive the same object.
class Workflow {
public:
    // Reads the verbose switch and the settings; throws when the settings file is missing.
    Workflow(UserInterface& ui, const QStringList& arguments);

    RunState& State() { return Run; }
    // The port the run talks through: the front end's, with the run log behind it.
    UserInterface& Ui() { return Interface; }
    RunLog& Log() { return TheLog; }
    FirebirdConnection& Connection() { return SQLConnectionMain; }

    void WriteLog(const QString& line);
    // The show-time sequence. It first ends an update that an earlier run left unfinished; when
    // that cannot be done it throws, and nothing else runs.
    void ResetAndCheck();
    // Ends an update that an earlier run left unfinished (see RecoverInterruptedUpdate).
    void RecoverInterruptedUpdate();
    // Works out the installation (database, Firebird, isql) and fills the info card and the log.
    void AnalyseEnvironment();
    void ActionControllaExecute();
    void ActionMostraTuttoExecute();
    void ActionNovitaExecute();
    // The update action; true when the update succeeded.
    bool ActionAggiornaExecute();
    // Puts the installation back from a backup archive the user chose and says that it did;
    // throws when the archive cannot be used, in which case nothing was changed.
    void RestoreFromBackup(const QString& archivePath);

private:
    Workflow(UserInterface& ui, const QStringList& arguments, const class Impostazioni& settings);

    RunLog TheLog;
    RunState Run;
    LoggedInterface Interface;
    FirebirdConnection SQLConnectionMain;
    HttpClient IdHTTP;
    FileSystem Files;
    Services Steps;
};
