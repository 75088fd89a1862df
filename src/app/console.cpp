#include "app/console.h"

#include "app/commandline.h"
#include "app/terminalprogress.h"
#include "app/workflow.h"
#include "core/error.h"
#include "core/stoprequest.h"
#include "core/userinterface.h"
#include "environment/instanceguard.h"
#include "environment/lowlevel.h"
#include "pipeline/updateaction.h"
#include "restore/backuplist.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

namespace {

// The user-interface port on a terminal: the log and results on standard output, messages,
// questions and progress on standard error. When standard error is a terminal the downloads and
// the update show a live line; otherwise each package's caption is a plain line. Quiet keeps only
// results, messages and errors. A message that tells of a failure, and every error, make the run
// fail; the failure that ended an update is held back, with its reasons, and said last.
class ConsoleInterface : public UserInterface {
public:
    ConsoleInterface(bool assumeYes, bool quiet) : AssumeYes(assumeYes), IsQuiet(quiet) {
        // A "dumb" terminal (an editor's shell) knows no escape sequences.
        if (!quiet && isatty(fileno(stderr)) && qgetenv("TERM") != "dumb")
            Live.emplace(stderr);
    }

    void ShowMessage(const QString& text, MessageKind kind) override {
        Failed = Failed || kind != MessageKind::Notice;
        HoldingReasons = kind == MessageKind::UpdateFailure;
        if (HoldingReasons)
            Held = {text};
        else
            Say(stderr, text);
    }
    bool AskYesNo(const QString& text) override {
        HoldingReasons = false;
        Say(stderr, text + (AssumeYes ? QStringLiteral(" Sì") : QStringLiteral(" No")));
        return AssumeYes;
    }
    void ShowError(const QString& text) override {
        HoldingReasons = false;
        Say(stderr, QStringLiteral("Errore: ") + text);
        Failed = true;
        Errored = true;
    }
    // The reasons come right after the message they explain.
    void ShowReason(const QString& reason) override {
        if (HoldingReasons)
            Held.append(reason);
        else
            Say(stderr, reason);
    }
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

    // The failure that ended the update, and its reasons, once the check after it is done.
    void SayHeld() {
        HoldingReasons = false;
        for (const QString& line : Held)
            Say(stderr, line);
        Held.clear();
    }

    // Something was shown that means the run did not do (all of) its work.
    bool Failed = false;
    // An error was shown: what was running stopped there.
    bool Errored = false;
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
    QStringList Held;
    bool HoldingReasons = false;
};

void PrintChecklist(const RunState& run) {
    for (const ChecklistRow& row : run.Checklist)
        PrintLine(stdout, QStringList{row.Caption, row.SubItem(0), row.SubItem(1), row.SubItem(2),
                                      row.Checked ? "1" : "0"}
                              .join('\t'));
}

// The check; its rows are printed unless it stopped with an error or the update that follows is
// quiet. A check that showed a failure (the work folder not writable, a package missing on the
// server) fails.
int Check(Workflow& flow, ConsoleInterface& ui, bool printRows = true) {
    RunGuarded(flow.Ui(), [&flow] { flow.ResetAndCheck(); });
    if (ui.Errored)
        return ExitCode::Failure;
    if (printRows)
        PrintChecklist(flow.State());
    if (ui.Failed)
        return ExitCode::Failure;
    return AnyChecked(flow.State().Checklist) ? ExitCode::UpdatesProposed : ExitCode::Success;
}

// The check, then the update of what it proposes; with nothing proposed there is nothing to do
// (no backup is made either). A failure the check showed does not stop the update, as in the
// window, but the run fails. The failure that ended the update is said last.
int Update(Workflow& flow, ConsoleInterface& ui) {
    Check(flow, ui, !ui.Quiet());
    if (ui.Errored || !AnyChecked(flow.State().Checklist)) {
        if (ui.Failed)
            flow.Log().Write(FailedOutcome);
        return ui.Failed ? ExitCode::Failure : ExitCode::Success;
    }
    bool updated = false;
    RunGuarded(flow.Ui(), [&flow, &updated] { updated = flow.ActionAggiornaExecute(); });
    ui.SayHeld();
    return updated && !ui.Failed ? ExitCode::Success : ExitCode::Failure;
}

int ListBackups(Workflow& flow, ConsoleInterface& ui) {
    RunGuarded(flow.Ui(), [&flow] { flow.RecoverInterruptedUpdate(); });
    if (ui.Errored)
        return ExitCode::Failure;
    for (const BackupArchive& archive : ListBackupArchives(flow.State().BackupFolder))
        PrintLine(stdout, archive.Name + '\t' + FormatArchiveMoment(archive.Moment));
    return ui.Failed ? ExitCode::Failure : ExitCode::Success;
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
    if (ui.Failed)
        return ExitCode::Failure;
    PrintLine(stdout, name + QStringLiteral("\tripristinato"));
    return ExitCode::Success;
}

} // namespace

void PrintLine(FILE* stream, const QString& text) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

int RunConsoleCommand(const CommandLine& line, const QStringList& arguments) {
    if (!CheckSingleInstance([](const QString& text) { PrintLine(stderr, text); }))
        return ExitCode::SecondInstance;

    ConsoleInterface ui(line.AssumeYes, line.Quiet);
    std::unique_ptr<Workflow> flow;
    try {
        flow = std::make_unique<Workflow>(ui, arguments);
    } catch (const std::exception& error) {
        LogStartupFailure(arguments, ExceptionMessage(error), ExitCode::StartupFailure);
        PrintLine(stderr, ExceptionMessage(error));
        return ExitCode::StartupFailure;
    }
    flow->State().Verbose = line.Verbose;
    flow->State().ShowAll = line.ShowAll;
    // After replacing its own executable the updater goes on with the same command and options in
    // its new executable, which updates what is still proposed.
    flow->State().RestartArguments = arguments;
    int code = ExitCode::Failure;
    try {
        switch (line.What) {
        case CommandLine::Command::Check:
            code = Check(*flow, ui);
            break;
        case CommandLine::Command::Update:
            code = Update(*flow, ui);
            break;
        case CommandLine::Command::ListBackups:
            code = ListBackups(*flow, ui);
            break;
        case CommandLine::Command::Restore:
            code = Restore(*flow, ui, line.Value);
            break;
        default:
            // Not a command on the installation: main answers the others itself.
            break;
        }
    } catch (const RunStopped& stop) {
        flow->Log().Write(StopMessage(stop));
        ui.ShowReason(StopMessage(stop));
        code = ExitCode::StoppedBySignal + stop.Signal;
    }
    flow->Log().Exit(code);
    return code;
}
