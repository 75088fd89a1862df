#pragma once

#include "core/userinterface.h"

class RunLog;

// The user-interface port of a run as the core sees it: everything goes on to the front end,
// and what the person is told and asked and the analysis log also go into the run log. The reasons
// the log holds for a failure follow the message that tells of it.
class LoggedInterface : public UserInterface {
public:
    LoggedInterface(UserInterface& frontEnd, RunLog& log);

    void ShowMessage(const QString& text, MessageKind kind) override;
    bool AskYesNo(const QString& text) override;
    void ShowError(const QString& text) override;
    void ShowReason(const QString& reason) override;
    void AppendLog(const QString& line) override;
    void ClearLog() override;
    void SetDownloadCaption(const QString& caption) override;
    void SetDownloadVisible(bool visible) override;
    void SetDownloadProgress(int maximum, int position) override;
    void SetUpdateVisible(bool visible) override;
    void SetUpdateProgress(int maximum, int position) override;
    void SetBusy(bool busy) override;
    void ProcessEvents() override;
    void SetActionsEnabled(bool enabled) override;
    void ChecklistChanged() override;
    void EnvironmentChanged() override;
    void ShowMainCard() override;
    void OpenAddress(const QString& address) override;

private:
    void PassReasons();

    UserInterface& FrontEnd;
    RunLog& Log;
};
