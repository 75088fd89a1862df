#include "app/workflow.h"

#include "catalogue/cataloguefetch.h"
#include "catalogue/signedcatalogue.h"
#include "catalogue/updatecheck.h"
#include "catalogue/versioni.h"
#include "core/busyscope.h"
#include "core/error.h"
#include "core/stoprequest.h"
#include "core/userinterface.h"
#include "environment/analysis.h"
#include "environment/impostazioni.h"
#include "environment/lowlevel.h"
#include "pipeline/journal.h"
#include "pipeline/recovery.h"
#include "pipeline/rollback.h"
#include "pipeline/updateaction.h"
#include "pipeline/workfolderscan.h"
#include "platform/stopsignals.h"
#include "restore/newslink.h"

#include <QCoreApplication>
#include <QFileInfo>

bool VerboseRequested(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        for (const char* marker : {"verbose", "/v", "-v"}) {
            if (argument.contains(QLatin1String(marker), Qt::CaseInsensitive))
                return true;
        }
    }
    return false;
}

void RunGuarded(UserInterface& ui, const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        ui.ShowError(ExceptionMessage(error));
    }
}

QString StopMessage(const RunStopped& stop) {
    return "Interrotto (" + SignalName(stop.Signal) + ")" +
           (stop.Outcome.isEmpty() ? QString() : ": " + stop.Outcome);
}

namespace {

const QString UnusableArchiveMessage =
    QStringLiteral("L'archivio %1 manca o è danneggiato: non è stato ripristinato nulla.");
const QString StagingFailedMessage =
    QStringLiteral("Non è stato possibile estrarre l'archivio %1 (spazio su disco insufficiente?): "
                   "non è stato ripristinato nulla.");
const QString RestoredMessage =
    QStringLiteral("Ripristino completato: l'installazione è tornata com'era nell'archivio %1.");

// The first entry of a run: the version and the command line it was started with.
void LogStart(RunLog& log, const QStringList& arguments) {
    QStringList line = QCoreApplication::instance() ? QCoreApplication::arguments()
                                                    : QStringList{"Orvanto"} + arguments;
    for (QString& argument : line)
        argument = QuoteIfSpaced(argument);
    log.Write("Avvio di Orvanto " + UpdaterVersion + ", riga di comando: " + line.join(' '));
}

TlsSettings TlsFrom(const Impostazioni& settings) {
    return {settings.GetCaCertificate(), settings.GetVerifyCertificate()};
}

} // namespace

void LogStartupFailure(const QStringList& arguments, const QString& message, int exitCode) {
    RunLog log(RunLogPath());
    LogStart(log, arguments);
    log.Write("Errore: " + message);
    log.Exit(exitCode);
}

Workflow::Workflow(UserInterface& ui, const QStringList& arguments)
    : Workflow(ui, arguments, Impostazioni()) {}

Workflow::Workflow(UserInterface& ui, const QStringList& arguments, const Impostazioni& settings)
    : TheLog(RunLogPath()), Interface(ui, TheLog),
      IdHTTP(Interface, TlsFrom(settings)), Steps{Run,   Interface, IdHTTP, SQLConnectionMain,
                                                  Files, TheLog} {
    LogStart(TheLog, arguments);
    Run.Verbose = VerboseRequested(arguments);
    Run.Info.IniPath = settings.GetFileName();
    Run.DatabaseAlias = settings.GetDatabase();
    Run.Info.ArchivioLabel = "Percorso archivio dati (database " + Run.DatabaseAlias + ")";
    Run.RemoteUrl = settings.GetRemoteUrl();
    Run.PublicKey = settings.GetPublicKey();
    Run.LockWaitSeconds = settings.GetLockWaitSeconds();
    Run.ServerBackupFolder = settings.GetServerBackupFolder();
    Run.Info.CatalogueProtection = CatalogueProtection(Run.RemoteUrl, Run.PublicKey);
    Run.CopyFolder = AddTrailingSeparator(JoinPath(GetProgramFolder(), "Orvo/Copiare"));
    Run.BackupFolder = AddTrailingSeparator(JoinPath(GetProgramFolder(), "Orvo/Backup"));
    Run.Info.Server = settings.GetDatabaseServer();
    SQLConnectionMain.SetDatabase(BuildDatabaseParameter(Run.Info.Server, Run.DatabaseAlias));
    BuildRequiredFiles(Run.RequiredFiles);
}

void Workflow::WriteLog(const QString& line) {
    if (Run.Verbose)
        Interface.ShowMessage(line, MessageKind::Notice);
    Interface.AppendLog(line);
}

void Workflow::ResetAndCheck() {
    Interface.ShowMainCard();
    Run.Checklist.clear();
    Run.UpdateButtonVisible = false;
    Interface.ChecklistChanged();
    Interface.SetDownloadVisible(false);
    Interface.SetUpdateVisible(false);
    Run.Info.EmbeddedState = 0;
    Interface.EnvironmentChanged();
    Interface.ClearLog();
    // The catalogue and its signature travel while the installation is examined.
    CatalogueFetch catalogue(Steps);
    RecoverInterruptedUpdate();
    AnalyseEnvironment();
    ScanWorkFolders(Run, 5);
    ::ActionControllaExecute(Steps, catalogue);
}

void Workflow::RecoverInterruptedUpdate() {
    const BusyScope busy(Interface);
    CheckWorkFolders(Run);
    ::RecoverInterruptedUpdate(Steps);
}

void Workflow::AnalyseEnvironment() {
    ::AnalyseEnvironment(Run, SQLConnectionMain, [this](const QString& line) { WriteLog(line); });
    WriteLog(Run.Info.CatalogueProtection);
    Interface.EnvironmentChanged();
}

void Workflow::ActionControllaExecute() {
    ::ActionControllaExecute(Steps);
}

void Workflow::ActionMostraTuttoExecute() {
    Run.ShowAll = true;
    ActionControllaExecute();
}

bool Workflow::ActionAggiornaExecute() {
    return ::ActionAggiornaExecute(Steps, [this] { ResetAndCheck(); });
}

void Workflow::RestoreFromBackup(const QString& archivePath) {
    const BusyScope busy(Interface);
    RollbackResult result = RollbackResult::Done;
    TheLog.TimedStep("ripristino della copia di sicurezza " + archivePath, [&] {
        result = RestoreBackup(Steps, archivePath);
        return result == RollbackResult::Done;
    });
    if (result == RollbackResult::ArchiveUnusable)
        throw OrvantoError(UnusableArchiveMessage.arg(QuoteSingle(archivePath)));
    if (result == RollbackResult::StagingFailed)
        throw OrvantoError(StagingFailedMessage.arg(QuoteSingle(archivePath)));
    TheLog.Write(QStringLiteral("Esito: ripristino riuscito"));
    Interface.ShowMessage(RestoredMessage.arg(QuoteSingle(QFileInfo(archivePath).fileName())),
                          MessageKind::Notice);
}

void Workflow::ActionNovitaExecute() {
    OpenDocument(Interface, MakeNewsLink(QString()));
}
