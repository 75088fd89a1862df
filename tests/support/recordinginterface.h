#pragma once

#include "core/userinterface.h"

#include <QList>
#include <QString>
#include <QStringList>

// A user-interface port that records what the core tells the person and answers questions from
// a list given in advance (No when the list is empty).
class RecordingInterface : public UserInterface {
public:
    QStringList Messages;
    // The kind of each message, in the same order.
    QList<MessageKind> MessageKinds;
    QStringList Errors;
    QStringList Reasons;
    QStringList Questions;
    QList<bool> Answers;
    QStringList Log;
    QStringList Events;
    QStringList OpenedAddresses;
    QString DownloadCaption;
    bool DownloadVisible = false;
    bool UpdateVisible = false;
    int DownloadMaximum = 0;
    int DownloadPosition = 0;
    int UpdateMaximum = 0;
    int UpdatePosition = 0;
    bool Busy = false;
    bool ActionsEnabled = true;
    int EventPasses = 0;

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
};
