#include "app/console.h"

#include "app/terminalprogress.h"
#include "app/workflow.h"
#include "core/error.h"
#include "core/instanceguard.h"
#include "core/stoprequest.h"
#include "core/userinterface.h"
#include "environment/lowlevel.h"
#include "restore/backuplist.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

namespace {

const QString Usage = QStringLiteral(
    "Uso: Orvanto [comando]\n"
    "Senza comando apre la finestra di Orvanto.\n"
    "\n"
    "  --check [--show-all]    analizza l'installazione e controlla gli aggiornamenti; stampa il\n"
    "                          registro dell'analisi e una riga per componente (componente,\n"
    "                          installato, disponibile, dimensione in KB, 1 se proposto), "
    "separati\n"
    "                          da tabulazioni. Uscita 0: nessun aggiornamento; 3: aggiornamenti\n"
    "                          proposti; 4: controllo fallito.\n"
    "  --update [--show-all]   controlla e installa gli aggiornamenti proposti. Uscita 0: "
    "riuscito;\n"
    "                          4: non riuscito, con il messaggio e il motivo sullo standard "
    "error.\n"
    "                          Su un terminale una riga mostra l'avanzamento del download e\n"
    "                          dell'aggiornamento.\n"
    "  --list-backups          elenca le copie di sicurezza (archivio, data), separate da "
    "tabulazioni.\n"
    "  --restore NOME [--yes]  ripristina la copia di sicurezza NOME; senza --yes la domanda di\n"
    "                          conferma riceve la risposta predefinita (No). Uscita 0: "
    "ripristinata;\n"
    "                          5: non confermata; 4: archivio non trovato.\n"
    "  --quiet                 con i comandi qui sopra mostra soltanto i risultati, i messaggi e\n"
    "                          gli errori.\n"
    "  --fileversion FILE      stampa la versione (FileVersion) di un file eseguibile Windows.\n"
    "  --version               stampa la versione di Orvanto ed esce (0).\n"
    "  --help                  mostra questo aiuto.\n"
    "\n"
    "Altre uscite: 1 se Orvanto è già in esecuzione dalla stessa cartella, 2 se manca "
    "velmora.ini.\n");

// The user-interface port on a terminal: the log and results on standard output, messages,
// questions and progress on standard error. When standard error is a terminal the downloads and
// the update show a live line; otherwise each package's caption is a plain line. Quiet keeps only
// results, messages and errors.
class ConsoleInterface : public UserInterface {
public:
    ConsoleInterface(bool assumeYes, bool quiet) : AssumeYes(assumeYes), IsQuiet(quiet) {
        // A "dumb" terminal (an editor's shell) knows no escape sequences.
        if (!quiet && isatty(fileno(stderr)) && qgetenv("TERM") != "dumb")
            Live.emplace(stderr);
    }

    void ShowMessage(const QString& text) override { Say(stderr, text); }
    bool AskYesNo(const QString& text) override {
        Say(stderr, text + (AssumeYes ? QStringLiteral(" Sì") : QStringLiteral(" No")));
        return AssumeYes;
    }
    void ShowError(const QString& text) override {
        Say(stderr, QStringLiteral("Errore: ") + text);
        Failed = true;
    }
    void ShowReason(const QString& reason) override { Say(stderr, reason); }
    void AppendLog(const QString& line) override {
        if (!IsQuiet)
            Say(stdout, line);
    }
    void ClearLog() override {}
    // Each package is named as its download starts. The plain group caption comes before the
    // first package and after the last one: there it ends the live line.
    void SetDownloadCaption(const QString& caption) override {
        if (IsQuiet)
            return;
        if (!caption.contains(' ')) {
            if (Live)
                Live->Finish();
            return;
        }
        if (Live)
            Live->SetPackage(caption);
        else if (caption != Caption)
            PrintLine(stderr, caption);
        Caption = caption;
    }
    // The live line follows the update's downloads, not the catalogue fetched by the check.
    void SetDownloadVisible(bool visible) override {
        Downloading = visible;
        if (Live)
            Live->Finish();
    }
    void SetDownloadProgress(int maximum, int position) override {
        if (!Live || !Downloading)
            return;
        if (maximum == 0 && position == 0)
            Live->StartDownload();
        else
            Live->ShowDownload(maximum, position);
    }
    // The progress is set before the update shows, so the live line starts from it.
    void SetUpdateVisible(bool visible) override {
        Updating = visible;
        if (Live && visible)
            Live->ShowUpdate(UpdateTotal, UpdateDone);
        else if (Live)
            Live->Finish();
        else if (visible && !IsQuiet)
            PrintLine(stderr, QStringLiteral("Aggiornamento"));
    }
    void SetUpdateProgress(int maximum, int position) override {
        UpdateTotal = maximum;
        UpdateDone = position;
        if (Live && Updating)
            Live->ShowUpdate(maximum, position);
    }
    void SetBusy(bool) override {}
    void ProcessEvents() override { QCoreApplication::processEvents(); }
    void SetActionsEnabled(bool) override {}
    void ChecklistChanged() override {}
    void EnvironmentChanged() override {}
    void ShowMainCard() override {}
    void OpenAddress(const QString& address) override { Say(stdout, address); }

    bool Failed = false;
    bool Quiet() const { return IsQuiet; }

private:
    // A line of its own: the live line, if shown, makes way for it first.
    void Say(FILE* stream, const QString& text) {
        if (Live)
            Live->Clear();
        PrintLine(stream, text);
    }

    bool AssumeYes;
    bool IsQuiet;
    bool Downloading = false;
    bool Updating = false;
    int UpdateTotal = 0;
    int UpdateDone = 0;
    QString Caption;
    std::optional<TerminalProgress> Live;
};

void PrintChecklist(const RunState& run) {
    for (const ChecklistRow& row : run.Checklist)
        PrintLine(stdout, QStringList{row.Caption, row.SubItem(0), row.SubItem(1), row.SubItem(2),
                                      row.Checked ? "1" : "0"}
                              .join('\t'));
}

// The check; its rows are printed unless the update that follows is quiet.
int Check(Workflow& flow, ConsoleInterface& ui, bool printRows = true) {
    RunGuarded(flow.Ui(), [&flow] { flow.ResetAndCheck(); });
    if (ui.Failed)
        return ExitCode::Failure;
    if (printRows)
        PrintChecklist(flow.State());
    return AnyChecked(flow.State().Checklist) ? ExitCode::UpdatesProposed : ExitCode::Success;
}

// The check, then the update of what it proposes; with nothing proposed there is nothing to do
// (no backup is made either).
int Update(Workflow& flow, ConsoleInterface& ui) {
    const int checked = Check(flow, ui, !ui.Quiet());
    if (checked != ExitCode::UpdatesProposed)
        return checked;
    bool updated = false;
    RunGuarded(flow.Ui(), [&flow, &updated] { updated = flow.ActionAggiornaExecute(); });
    return updated && !ui.Failed ? ExitCode::Success : ExitCode::Failure;
}

int ListBackups(Workflow& flow, ConsoleInterface& ui) {
    RunGuarded(flow.Ui(), [&flow] { flow.RecoverInterruptedUpdate(); });
    if (ui.Failed)
        return ExitCode::Failure;
    for (const BackupArchive& archive : ListBackupArchives(flow.State().BackupFolder))
        PrintLine(stdout, archive.Name + '\t' + FormatArchiveMoment(archive.Moment));
    return ExitCode::Success;
}

int Restore(Workflow& flow, ConsoleInterface& ui, const QString& name) {
    bool listed = false;
    for (const BackupArchive& archive : ListBackupArchives(flow.State().BackupFolder))
        listed = listed || archive.Name == name;
    if (!listed) {
        const QString message = "Archivio non trovato: " + QuoteSingle(name);
        flow.Log().Write(message);
        PrintLine(stderr, message);
        return ExitCode::Failure;
    }
    if (!flow.Ui().AskYesNo(RestoreQuestion(name)))
        return ExitCode::NotConfirmed;
    // The rollback needs the database's place, which the analysis finds.
    RunGuarded(flow.Ui(), [&flow, &name] {
        flow.RecoverInterruptedUpdate();
        flow.AnalyseEnvironment();
        flow.RestoreFromBackup(JoinPath(flow.State().BackupFolder, name));
    });
    return ui.Failed ? ExitCode::Failure : ExitCode::Success;
}

} // namespace

void PrintLine(FILE* stream, const QString& text) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

std::optional<int> RunConsoleCommand(const QStringList& arguments) {
    const QString command = arguments.value(0);
    const QStringList known = {"--check", "--update", "--list-backups", "--restore", "--help"};
    if (!known.contains(command))
        return std::nullopt;
    if (command == "--help") {
        std::fputs(Usage.toLocal8Bit().constData(), stdout);
        return ExitCode::Success;
    }
    if (command == "--restore" && arguments.size() < 2) {
        PrintLine(stderr, QStringLiteral("--restore vuole il nome dell'archivio."));
        return ExitCode::Failure;
    }
    if (!CheckSingleInstance([](const QString& text) { PrintLine(stderr, text); }))
        return ExitCode::SecondInstance;

    ConsoleInterface ui(arguments.contains("--yes"), arguments.contains("--quiet"));
    std::unique_ptr<Workflow> flow;
    try {
        flow = std::make_unique<Workflow>(ui, arguments);
    } catch (const std::exception& error) {
        LogStartupFailure(arguments, ExceptionMessage(error), ExitCode::StartupFailure);
        PrintLine(stderr, ExceptionMessage(error));
        return ExitCode::StartupFailure;
    }
    flow->State().ShowAll = arguments.contains("--show-all");
    // After replacing its own executable the updater starts anew and reports the new state.
    flow->State().RestartArguments =
        flow->State().ShowAll ? QStringList{"--check", "--show-all"} : QStringList{"--check"};
    int code = ExitCode::Failure;
    try {
        code = command == "--check"          ? Check(*flow, ui)
               : command == "--update"       ? Update(*flow, ui)
               : command == "--list-backups" ? ListBackups(*flow, ui)
                                             : Restore(*flow, ui, arguments.value(1));
    } catch (const RunStopped& stop) {
        flow->Log().Write(StopMessage(stop));
        ui.ShowReason(StopMessage(stop));
        code = ExitCode::StoppedBySignal + stop.Signal;
    }
    flow->Log().Exit(code);
    return code;
}
