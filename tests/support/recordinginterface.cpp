#include "support/recordinginterface.h"

void RecordingInterface::ShowMessage(const QString& text, MessageKind kind) {
    Messages.append(text);
    MessageKinds.append(kind);
    Events.append("message: " + text);
}

bool RecordingInterface::AskYesNo(const QString& text) {
    Questions.append(text);
    return Answers.isEmpty() ? false : Answers.takeFirst();
}

void RecordingInterface::ShowError(const QString& text) {
    Errors.append(text);
    Events.append("error: " + text);
}

void RecordingInterface::ShowReason(const QString& reason) {
    Reasons.append(reason);
    Events.append("reason: " + reason);
}

void RecordingInterface::AppendLog(const QString& line) {
    Log.append(line);
    Events.append("log: " + line);
}

void RecordingInterface::ClearLog() {
    Log.clear();
}

void RecordingInterface::SetDownloadCaption(const QString& caption) {
    DownloadCaption = caption;
    Events.append("caption: " + caption);
}

void RecordingInterface::SetDownloadVisible(bool visible) {
    DownloadVisible = visible;
}

void RecordingInterface::SetDownloadProgress(int maximum, int position) {
    DownloadMaximum = maximum;
    DownloadPosition = position;
}

void RecordingInterface::SetUpdateVisible(bool visible) {
    UpdateVisible = visible;
}

void RecordingInterface::SetUpdateProgress(int maximum, int position) {
    UpdateMaximum = maximum;
    UpdatePosition = position;
}

void RecordingInterface::SetBusy(bool busy) {
    Busy = busy;
}

void RecordingInterface::ProcessEvents() {
    ++EventPasses;
}

void RecordingInterface::SetActionsEnabled(bool enabled) {
    ActionsEnabled = enabled;
}

void RecordingInterface::ChecklistChanged() {}

void RecordingInterface::EnvironmentChanged() {}

void RecordingInterface::ShowMainCard() {
    Events.append("main card");
}

void RecordingInterface::OpenAddress(const QString& address) {
    OpenedAddresses.append(address);
}
