#pragma once

#include "app/workflow.h"
#include "core/userinterface.h"

#include <QWidget>
#include <memory>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QStackedWidget;
class QStatusBar;
class QTableWidget;
class QTableWidgetItem;
class QToolButton;
class TFormRipristina;
struct RunStopped;

// The main window: the checklist card and the info card, the actions, and the widget side of
// the user-interface port. The run itself belongs to the workflow it owns.
class TFormOrvanto : public QWidget, public UserInterface {
    Q_OBJECT
public:
    // Throws when the settings file cannot be opened.
    TFormOrvanto(const QStringList& arguments, TFormRipristina* restoreDialog,
                 QWidget* owner = nullptr);
    ~TFormOrvanto() override;

    Workflow& Run() { return *Flow; }

    void FormShow();
    void ResetAndCheck();

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

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildLayout();
    QWidget* BuildMainCard();
    QWidget* BuildInfoCard();
    void BuildActions();
    void ActionControllaExecute();
    void ActionAggiornaExecute();
    void ActionRipristinaExecute();
    void ActionNovitaExecute();
    void ActionMostraTuttoExecute();
    void ActionImpostazioniExecute();
    void ActionBackToMainExecute();
    void ListViewItemChanged(QTableWidgetItem* item);
    void Guarded(const std::function<void()>& action);
    void WatchForStop();
    void EndAfterStop(const RunStopped& stop);

    TFormRipristina* RestoreDialog;
    bool Shown = false;
    bool FillingList = false;
    // Actions running now, one inside another's pending events at most.
    int Running = 0;
    bool Stopping = false;

    QStackedWidget* CardPanelMain = nullptr;
    QTableWidget* ListViewVersioni = nullptr;
    QGroupBox* GroupBoxDownload = nullptr;
    QProgressBar* ProgressBarDownload = nullptr;
    QGroupBox* GroupBoxAggiornamento = nullptr;
    QProgressBar* ProgressBarAggiornamento = nullptr;
    QToolButton* ButtonAggiorna = nullptr;
    QToolButton* ButtonRipristina = nullptr;
    QCheckBox* CheckBoxRemoteUrl = nullptr;
    QCheckBox* CheckBoxEmbedded = nullptr;
    QLineEdit* EditApplicationPath = nullptr;
    QLineEdit* EditIniPath = nullptr;
    QLineEdit* EditCatalogueProtection = nullptr;
    QLineEdit* EditRunLog = nullptr;
    QLabel* LabelServer = nullptr;
    QLineEdit* EditServer = nullptr;
    QLineEdit* EditFirebirdDirectory = nullptr;
    QLabel* LabelArchivioPos = nullptr;
    QLineEdit* EditArchivioPos = nullptr;
    QLineEdit* EditComandoIsql = nullptr;
    QPlainTextEdit* MemoLog = nullptr;

    QAction* ActionControlla = nullptr;
    QAction* ActionAggiorna = nullptr;
    QAction* ActionRipristina = nullptr;
    QAction* ActionNovita = nullptr;
    QAction* ActionMostraTutto = nullptr;
    QAction* ActionImpostazioni = nullptr;
    QAction* ActionBackToMain = nullptr;
    QMenu* PopupMenu = nullptr;
    QMenu* PopupMenuAggiorna = nullptr;

    std::unique_ptr<Workflow> Flow;
};
