#pragma once

#include <QString>

// What a message means for the run that shows it. The window shows every kind alike; a headless
// run that showed a failure ends with the failure code.
enum class MessageKind {
    // Information: the run goes on to do what it was asked.
    Notice,
    // The run cannot do (all of) what it was asked, or someone must act on what it found; it may
    // go on.
    Failure,
    // The failure that ended the update. The show-time check runs after it; the window shows the
    // message first, a headless run says it last, after that check's lines.
    UpdateFailure,
};

// The one narrow interface through which the core tells the person things and asks them.
// The main window implements it with widgets, the console front end with text, tests with a
// recording fake.
class UserInterface {
public:
    virtual ~UserInterface() = default;

    // A modal message with an OK button; the kind says what it means for the run.
    virtual void ShowMessage(const QString& text, MessageKind kind) = 0;
    // A modal question with Yes and No, No being the default; true for Yes.
    virtual bool AskYesNo(const QString& text) = 0;
    // The program's default error handler: an error box titled "Orvanto".
    virtual void ShowError(const QString& text) = 0;
    // The reasons behind the failure that the message or error just shown tells of, one per
    // line. The console prints them below the message; the window leaves them to the run log.
    virtual void ShowReason(const QString& reason) = 0;

    virtual void AppendLog(const QString& line) = 0;
    virtual void ClearLog() = 0;

    virtual void SetDownloadCaption(const QString& caption) = 0;
    virtual void SetDownloadVisible(bool visible) = 0;
    virtual void SetDownloadProgress(int maximum, int position) = 0;
    virtual void SetUpdateVisible(bool visible) = 0;
    virtual void SetUpdateProgress(int maximum, int position) = 0;

    // The hourglass over the whole application, or the default arrow.
    virtual void SetBusy(bool busy) = 0;
    // Lets pending window events run once.
    virtual void ProcessEvents() = 0;
    // Actions are disabled while a check or the pipeline runs, so that nothing starts twice.
    virtual void SetActionsEnabled(bool enabled) = 0;

    // The run state changed: the checklist rows and the update button, or the info card.
    virtual void ChecklistChanged() = 0;
    virtual void EnvironmentChanged() = 0;
    virtual void ShowMainCard() = 0;

    // Hands a web address to the user's browser without waiting.
    virtual void OpenAddress(const QString& address) = 0;
};
