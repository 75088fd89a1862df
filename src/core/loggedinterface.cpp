#include "core/loggedinterface.h"

#include "core/runlog.h"

LoggedInterface::LoggedInterface(UserInterface& frontEnd, RunLog& log)
    : FrontEnd(frontEnd), Log(log) {}

void LoggedInterface::PassReasons() {
    const QString reasons = Log.TakeReasons();
    if (!reasons.isEmpty())
        FrontEnd.ShowReason(reasons);
}

void LoggedInterface::ShowMessage(const QString& text, MessageKind kind) {
    Log.Write(QStringLiteral("Messaggio: ") + text);
    FrontEnd.ShowMessage(text, kind);
    PassReasons();
}

bool LoggedInterface::AskYesNo(const QString& text) {
    Log.Write(QStringLiteral("Domanda: ") + text);
    const bool yes = FrontEnd.AskYesNo(text);
    Log.Write(yes ? QStringLiteral("Risposta: Sì") : QStringLiteral("Risposta: No"));
    return yes;
}

void LoggedInterface::ShowError(const QString& text) {
    Log.Write(QStringLiteral("Errore: ") + text);
    FrontEnd.ShowError(text);
    PassReasons();
}

void LoggedInterface::ShowReason(const QString& reason) {
    FrontEnd.ShowReason(reason);
}

void LoggedInterface::AppendLog(const QString& line) {
    Log.Write(line);
    FrontEnd.AppendLog(line);
}

void LoggedInterface::ClearLog() {
    FrontEnd.ClearLog();
}

void LoggedInterface::SetDownloadCaption(const QString& caption) {
    FrontEnd.SetDownloadCaption(caption);
}

void LoggedInterface::SetDownloadVisible(bool visible) {
    FrontEnd.SetDownloadVisible(visible);
}

void LoggedInterface::SetDownloadProgress(int maximum, int position) {
    FrontEnd.SetDownloadProgress(maximum, position);
}

void LoggedInterface::SetUpdateVisible(bool visible) {
    FrontEnd.SetUpdateVisible(visible);
}

void LoggedInterface::SetUpdateProgress(int maximum, int position) {
    FrontEnd.SetUpdateProgress(maximum, position);
}

void LoggedInterface::SetBusy(bool busy) {
    FrontEnd.SetBusy(busy);
}

void LoggedInterface::ProcessEvents() {
    FrontEnd.ProcessEvents();
}

void LoggedInterface::SetActionsEnabled(bool enabled) {
    FrontEnd.SetActionsEnabled(enabled);
}

void LoggedInterface::ChecklistChanged() {
    FrontEnd.ChecklistChanged();
}

void LoggedInterface::EnvironmentChanged() {
    FrontEnd.EnvironmentChanged();
}

void LoggedInterface::ShowMainCard() {
    FrontEnd.ShowMainCard();
}

void LoggedInterface::OpenAddress(const QString& address) {
    Log.Write(QStringLiteral("Indirizzo aperto: ") + address);
    FrontEnd.OpenAddress(address);
}
