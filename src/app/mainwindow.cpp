#include "app/mainwindow.h"

#include "app/hintwindow.h"
#include "app/questionbox.h"
#include "app/restoredialog.h"
#include "app/windowfont.h"
#include "core/stoprequest.h"
#include "environment/lowlevel.h"
#include "platform/desktopwindows.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <iterator>
#include <numeric>

namespace {

const QString Title = QStringLiteral("Orvanto");
const QString ProgressHint = QStringLiteral("Stato di avanzamento dell'aggiornamento");
const QColor SkyBlue(0xA6, 0xCA, 0xF0);
const QColor MoneyGreen(0xC0, 0xDC, 0xC0);
constexpr int ClientHeight = 373;
constexpr int ColumnWidths[] = {300, 100, 100, 130};
constexpr int ChecklistWidth = std::accumulate(std::begin(ColumnWidths), std::end(ColumnWidths), 0);
// How often the window looks for a request to stop the run.
constexpr int StopWatchMilliseconds = 250;

// Read-only fields show the beginning of their text, where a path starts.
void ShowText(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    edit->setCursorPosition(0);
}

// Swallows tooltips: these controls carry their actions' hints without showing them.
class NoToolTip : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::ToolTip; }
};

QIcon ProgramIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x1F, 0x5F, 0xA8));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(1, 1, 30, 30, 6, 6);
    painter.setPen(QPen(Qt::white, 4));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(16, 16), 8.5, 8.5);
    return QIcon(pixmap);
}

QLineEdit* InfoEdit(const QString& name) {
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::NoFocus);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, SkyBlue);
    edit->setPalette(palette);
    return edit;
}

QLabel* InfoLabel(const QString& name, const QString& caption) {
    auto* label = new QLabel(caption);
    label->setObjectName(name);
    return label;
}

QGroupBox* ProgressGroup(const QString& name, const QString& caption, const QString& barName,
                         QProgressBar** bar) {
    auto* group = new QGroupBox(caption);
    group->setObjectName(name);
    group->setFixedHeight(48);
    *bar = new QProgressBar;
    (*bar)->setObjectName(barName);
    (*bar)->setTextVisible(false);
    (*bar)->setRange(0, 1);
    (*bar)->setValue(0);
    (*bar)->setToolTip(ProgressHint);
    auto* layout = new QVBoxLayout(group);
    layout->setContentsMargins(8, 2, 8, 6);
    layout->addWidget(*bar);
    return group;
}

void ShowProgress(QProgressBar* bar, int maximum, int position) {
    // A bar without a range would show a busy indicator; an empty range stays an empty bar.
    bar->setRange(0, maximum > 0 ? maximum : 1);
    bar->setValue(maximum > 0 ? qBound(0, position, maximum) : 0);
}

} // namespace

TFormOrvanto::TFormOrvanto(const QStringList& arguments, TFormRipristina* restoreDialog,
                           QWidget* owner)
    : QWidget(owner), RestoreDialog(restoreDialog) {
    BuildLayout();
    Flow = std::make_unique<Workflow>(*this, arguments);
    TMyHintWindow::Install();
    EnvironmentChanged();
    auto* stopWatch = new QTimer(this);
    connect(stopWatch, &QTimer::timeout, this, &TFormOrvanto::WatchForStop);
    stopWatch->start(StopWatchMilliseconds);
}

TFormOrvanto::~TFormOrvanto() {
    Flow->Log().Write(QStringLiteral("Finestra chiusa"));
}

void TFormOrvanto::BuildLayout() {
    setObjectName(QStringLiteral("FormOrvanto"));
    setWindowTitle(Title);
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());

    BuildActions();
    CardPanelMain = new QStackedWidget(this);
    CardPanelMain->setObjectName(QStringLiteral("CardPanelMain"));
    CardPanelMain->addWidget(BuildMainCard());
    CardPanelMain->addWidget(BuildInfoCard());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(CardPanelMain);

    // As wide as the checklist's columns and its frame, so that every column shows whole.
    setFixedSize(ChecklistWidth + 2 * ListViewVersioni->frameWidth(), ClientHeight);
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFormOrvanto::BuildActions() {
    const auto make = [this](const char* name, const QString& caption, const QString& hint,
                             QStyle::StandardPixmap icon, void (TFormOrvanto::*handler)()) {
        auto* action = new QAction(caption, this);
        action->setObjectName(QLatin1String(name));
        action->setToolTip(hint);
        action->setStatusTip(hint);
        if (icon != QStyle::SP_CustomBase)
            action->setIcon(style()->standardIcon(icon));
        // The letter after "&" is the keyboard accelerator, anywhere in the window.
        if (caption.contains('&')) {
            action->setShortcut(QKeySequence::mnemonic(caption));
            action->setShortcutVisibleInContextMenu(false);
            addAction(action);
        }
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    const auto none = QStyle::SP_CustomBase;
    ActionControlla =
        make("ActionControlla", "&Controlla", "Verifica se sono disponibili nuovi aggiornamenti",
             QStyle::SP_BrowserReload, &TFormOrvanto::ActionControllaExecute);
    ActionAggiorna = make("ActionAggiorna", "&Aggiorna",
                          "Scarica ed installa eventuali aggiornamenti di Velmora",
                          QStyle::SP_ArrowDown, &TFormOrvanto::ActionAggiornaExecute);
    ActionRipristina =
        make("ActionRipristina", "&Ripristina",
             "Ripristina la situazione del programma prima dell'ultimo aggiornamento effettuato.",
             QStyle::SP_DialogResetButton, &TFormOrvanto::ActionRipristinaExecute);
    ActionNovita = make(
        "ActionNovita", QString::fromUtf8("Novità"),
        QString::fromUtf8(
            "Mostra tutte le novità introdotte nell'ultima versione (e non solo) del programma"),
        QStyle::SP_MessageBoxInformation, &TFormOrvanto::ActionNovitaExecute);
    ActionMostraTutto = make("ActionMostraTutto", "&Mostra tutto", QString(), none,
                             &TFormOrvanto::ActionMostraTuttoExecute);
    ActionImpostazioni = make("ActionImpostazioni", QString::fromUtf8("\u2699"),
                              "Mostra impostazioni e dettagli relativi all'ambiente da aggiornare",
                              none, &TFormOrvanto::ActionImpostazioniExecute);
    ActionBackToMain = make("ActionBackToMain", QString::fromUtf8("\U0001F814 Indietro"),
                            "Ritorna alla visualizzazione principale", none,
                            &TFormOrvanto::ActionBackToMainExecute);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
    PopupMenu->addAction(ActionControlla);
    PopupMenu->addAction(ActionAggiorna);
    PopupMenu->addSeparator();
    PopupMenu->addAction(ActionMostraTutto);
    PopupMenuAggiorna = new QMenu(this);
    PopupMenuAggiorna->setObjectName(QStringLiteral("PopupMenuAggiorna"));
    PopupMenuAggiorna->addAction(ActionRipristina);
}

QWidget* TFormOrvanto::BuildMainCard() {
    auto* card = new QWidget;
    card->setObjectName(QStringLiteral("CardMain"));

    ListViewVersioni = new QTableWidget(0, 4);
    ListViewVersioni->setObjectName(QStringLiteral("ListViewVersioni"));
    ListViewVersioni->setHorizontalHeaderLabels(
        {"Componente", "Installato", "Disponibile", "Dimensione (KB)"});
    for (int column = 0; column < 4; ++column) {
        ListViewVersioni->setColumnWidth(column, ColumnWidths[column]);
        ListViewVersioni->horizontalHeaderItem(column)->setTextAlignment(
            (column == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
    }
    ListViewVersioni->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    ListViewVersioni->verticalHeader()->hide();
    ListViewVersioni->verticalHeader()->setDefaultSectionSize(24);
    ListViewVersioni->horizontalHeader()->setHighlightSections(false);
    ListViewVersioni->setShowGrid(true);
    ListViewVersioni->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewVersioni->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewVersioni->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewVersioni->setContextMenuPolicy(Qt::CustomContextMenu);
    ListViewVersioni->installEventFilter(new NoToolTip(ListViewVersioni));
    connect(ListViewVersioni, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenu->popup(ListViewVersioni->viewport()->mapToGlobal(at));
    });
    connect(ListViewVersioni, &QTableWidget::itemChanged, this, &TFormOrvanto::ListViewItemChanged);

    GroupBoxDownload =
        ProgressGroup("GroupBoxDownload", "Download", "ProgressBarDownload", &ProgressBarDownload);
    GroupBoxAggiornamento = ProgressGroup("GroupBoxAggiornamento", "Aggiornamento",
                                          "ProgressBarAggiornamento", &ProgressBarAggiornamento);

    auto* panel = new QWidget;
    panel->setObjectName(QStringLiteral("PanelBottoni"));
    panel->setFixedHeight(40);
    auto* buttons = new QHBoxLayout(panel);
    buttons->setContentsMargins(4, 4, 4, 4);
    buttons->setSpacing(8);
    const auto button = [this, panel](const char* name, QAction* action, int width, bool tooltip) {
        auto* tool = new QToolButton(panel);
        tool->setObjectName(QLatin1String(name));
        tool->setDefaultAction(action);
        tool->setToolButtonStyle(action->icon().isNull() ? Qt::ToolButtonTextOnly
                                                         : Qt::ToolButtonTextBesideIcon);
        tool->setFixedSize(width, 32);
        if (!tooltip)
            tool->installEventFilter(new NoToolTip(tool));
        return tool;
    };
    QToolButton* controlla = button("BitBtnControlla", ActionControlla, 100, true);
    ButtonAggiorna = button("ButtonAggiorna", ActionAggiorna, 120, false);
    ButtonAggiorna->setMenu(PopupMenuAggiorna);
    ButtonAggiorna->setPopupMode(QToolButton::MenuButtonPopup);
    ButtonAggiorna->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ButtonAggiorna, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        PopupMenuAggiorna->popup(ButtonAggiorna->mapToGlobal(at));
    });
    // Once nothing is proposed (after an update, too) the update button hides, and its menu with
    // it: "Ripristina" then takes its place.
    ButtonRipristina = button("ButtonRipristina", ActionRipristina, 120, false);
    ButtonRipristina->hide();
    QToolButton* novita = button("ButtonNovita", ActionNovita, 75, false);
    novita->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QToolButton* impostazioni = button("ButtonImpostazioni", ActionImpostazioni, 30, false);
    buttons->addWidget(controlla);
    buttons->addWidget(ButtonAggiorna);
    buttons->addWidget(ButtonRipristina);
    buttons->addWidget(novita);
    buttons->addStretch();
    buttons->addWidget(impostazioni);

    auto* status = new QStatusBar;
    status->setObjectName(QStringLiteral("StatusBar"));
    status->setSizeGripEnabled(false);
    status->setFixedHeight(20);

    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ListViewVersioni, 1);
    layout->addWidget(GroupBoxDownload);
    layout->addWidget(GroupBoxAggiornamento);
    layout->addWidget(panel);
    layout->addWidget(status);
    return card;
}

QWidget* TFormOrvanto::BuildInfoCard() {
    auto* card = new QWidget;
    card->setObjectName(QStringLiteral("CardInfo"));

    auto* grid = new QWidget;
    grid->setObjectName(QStringLiteral("GridPanelInfo"));
    grid->setFixedHeight(210);
    grid->setFont(SegoeUi(13));
    auto* columns = new QHBoxLayout(grid);
    columns->setContentsMargins(4, 4, 4, 0);
    columns->setSpacing(8);
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    left->setSpacing(1);
    right->setSpacing(1);
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);

    CheckBoxRemoteUrl = new QCheckBox(QStringLiteral("URL"));
    CheckBoxRemoteUrl->setObjectName(QStringLiteral("CheckBoxRemoteUrl"));
    CheckBoxRemoteUrl->setChecked(true);
    CheckBoxRemoteUrl->setEnabled(false);
    EditApplicationPath = InfoEdit("EditApplicationPath");
    EditIniPath = InfoEdit("EditIniPath");
    EditCatalogueProtection = InfoEdit("EditCatalogueProtection");
    EditRunLog = InfoEdit("EditRunLog");
    left->addWidget(CheckBoxRemoteUrl);
    left->addWidget(InfoLabel("LabelApplicationPath", "Percorso applicazione"));
    left->addWidget(EditApplicationPath);
    left->addWidget(InfoLabel("LabelIniPath", "Percorso file impostazioni"));
    left->addWidget(EditIniPath);
    left->addWidget(InfoLabel("LabelCatalogueProtection", "Protezione aggiornamenti"));
    left->addWidget(EditCatalogueProtection);
    left->addWidget(InfoLabel("LabelRunLog", "Registro delle operazioni"));
    left->addWidget(EditRunLog);
    left->addStretch();

    CheckBoxEmbedded = new QCheckBox(QStringLiteral("Embedded"));
    CheckBoxEmbedded->setObjectName(QStringLiteral("CheckBoxEmbedded"));
    CheckBoxEmbedded->setTristate(true);
    CheckBoxEmbedded->setCheckState(Qt::PartiallyChecked);
    CheckBoxEmbedded->setEnabled(false);
    LabelServer = InfoLabel("LabelServer", "Server");
    EditServer = InfoEdit("EditServer");
    EditFirebirdDirectory = InfoEdit("EditFirebirdDirectory");
    LabelArchivioPos = InfoLabel("LabelArchivioPos", "Percorso archivio dati");
    EditArchivioPos = InfoEdit("EditArchivioPos");
    EditComandoIsql = InfoEdit("EditComandoIsql");
    right->addWidget(CheckBoxEmbedded);
    right->addWidget(LabelServer);
    right->addWidget(EditServer);
    right->addWidget(InfoLabel("LabelFirebirdDirectory", "Percorso Firebird DBMS"));
    right->addWidget(EditFirebirdDirectory);
    right->addWidget(LabelArchivioPos);
    right->addWidget(EditArchivioPos);
    right->addWidget(InfoLabel("LabelIsql", "Comando ISQL"));
    right->addWidget(EditComandoIsql);
    right->addStretch();

    MemoLog = new QPlainTextEdit;
    MemoLog->setObjectName(QStringLiteral("MemoLog"));
    MemoLog->setReadOnly(true);
    MemoLog->setFocusPolicy(Qt::NoFocus);
    MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoLog->setFont(SegoeUi(11));
    QPalette palette = MemoLog->palette();
    palette.setColor(QPalette::Base, MoneyGreen);
    MemoLog->setPalette(palette);

    auto* back = new QToolButton;
    back->setObjectName(QStringLiteral("ButtonIndietro"));
    back->setDefaultAction(ActionBackToMain);
    back->setFixedHeight(40);
    back->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    back->installEventFilter(new NoToolTip(back));

    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(grid);
    layout->addSpacing(16);
    layout->addWidget(MemoLog, 1);
    layout->addWidget(back);
    return card;
}

void TFormOrvanto::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (Shown)
        return;
    Shown = true;
    // Runs after the first paint, so that the window is visible while the sequence works.
    QTimer::singleShot(0, this, [this] { Guarded([this] { FormShow(); }); });
}

void TFormOrvanto::FormShow() {
    RequestCloseOfWindowsTitled(QStringLiteral("VELMORA"));
    ResetAndCheck();
}

void TFormOrvanto::ResetAndCheck() {
    Flow->ResetAndCheck();
}

void TFormOrvanto::Guarded(const std::function<void()>& action) {
    ++Running;
    std::optional<RunStopped> stopped;
    try {
        RunGuarded(Flow->Ui(), action);
    } catch (const RunStopped& stop) {
        stopped = stop;
    }
    --Running;
    if (stopped)
        EndAfterStop(*stopped);
}

// A request to stop the run (a signal) closes the window: at once when no action runs, else when
// the action has ended at its next safe point (an update being applied is put back first). A box
// waiting for an answer meanwhile is closed with its default answer.
void TFormOrvanto::WatchForStop() {
    if (StopSignal() == 0)
        return;
    if (QWidget* box = QApplication::activeModalWidget())
        box->close();
    if (Running == 0)
        EndAfterStop(RunStopped{StopSignal(), QString()});
}

void TFormOrvanto::EndAfterStop(const RunStopped& stop) {
    if (Stopping)
        return;
    Stopping = true;
    Flow->Log().Write(StopMessage(stop));
    close();
}

void TFormOrvanto::ActionControllaExecute() {
    Guarded([this] { Flow->ActionControllaExecute(); });
}

void TFormOrvanto::ActionAggiornaExecute() {
    Guarded([this] { Flow->ActionAggiornaExecute(); });
}

void TFormOrvanto::ActionRipristinaExecute() {
    Guarded([this] {
        const std::optional<QString> archive =
            RestoreDialog->ChooseArchive(Flow->State().BackupFolder);
        if (!archive)
            return;
        Flow->RestoreFromBackup(JoinPath(Flow->State().BackupFolder, *archive));
        // The list shows what the restored installation lacks, and the kept copies go.
        Flow->ResetAndCheck();
    });
}

void TFormOrvanto::ActionNovitaExecute() {
    Guarded([this] { Flow->ActionNovitaExecute(); });
}

void TFormOrvanto::ActionMostraTuttoExecute() {
    Guarded([this] { Flow->ActionMostraTuttoExecute(); });
}

void TFormOrvanto::ActionImpostazioniExecute() {
    CardPanelMain->setCurrentIndex((CardPanelMain->currentIndex() + 1) % CardPanelMain->count());
}

void TFormOrvanto::ActionBackToMainExecute() {
    CardPanelMain->setCurrentIndex(qMax(0, CardPanelMain->currentIndex() - 1));
}

void TFormOrvanto::ListViewItemChanged(QTableWidgetItem* item) {
    if (FillingList || item->column() != 0)
        return;
    QList<ChecklistRow>& rows = Flow->State().Checklist;
    if (item->row() < rows.size())
        rows[item->row()].Checked = item->checkState() == Qt::Checked;
}

// Every kind of message is the same information box: what a failure means for the run is the
// headless commands' concern. Once the run is asked to stop, no box waits for an answer.
void TFormOrvanto::ShowMessage(const QString& text, MessageKind) {
    if (StopSignal() == 0)
        ShowBox(this, QMessageBox::Information, Title, text);
}

bool TFormOrvanto::AskYesNo(const QString& text) {
    return StopSignal() == 0 && AskQuestion(this, Title, text);
}

void TFormOrvanto::ShowError(const QString& text) {
    if (StopSignal() == 0)
        ShowBox(this, QMessageBox::Critical, Title, text);
}

// The window keeps its message boxes to their fixed texts; the reasons are in the run log.
void TFormOrvanto::ShowReason(const QString&) {}

void TFormOrvanto::AppendLog(const QString& line) {
    MemoLog->appendPlainText(line);
}

void TFormOrvanto::ClearLog() {
    MemoLog->clear();
}

void TFormOrvanto::SetDownloadCaption(const QString& caption) {
    GroupBoxDownload->setTitle(caption);
}

void TFormOrvanto::SetDownloadVisible(bool visible) {
    GroupBoxDownload->setVisible(visible);
}

void TFormOrvanto::SetDownloadProgress(int maximum, int position) {
    ShowProgress(ProgressBarDownload, maximum, position);
}

void TFormOrvanto::SetUpdateVisible(bool visible) {
    GroupBoxAggiornamento->setVisible(visible);
}

void TFormOrvanto::SetUpdateProgress(int maximum, int position) {
    ShowProgress(ProgressBarAggiornamento, maximum, position);
}

void TFormOrvanto::SetBusy(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        while (QApplication::overrideCursor() != nullptr)
            QApplication::restoreOverrideCursor();
}

void TFormOrvanto::ProcessEvents() {
    QApplication::processEvents();
}

void TFormOrvanto::SetActionsEnabled(bool enabled) {
    for (QAction* action : {ActionControlla, ActionAggiorna, ActionRipristina, ActionMostraTutto})
        action->setEnabled(enabled);
}

void TFormOrvanto::ChecklistChanged() {
    FillingList = true;
    const QList<ChecklistRow>& rows = Flow->State().Checklist;
    ListViewVersioni->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        const ChecklistRow& row = rows[r];
        for (int column = 0; column < 4; ++column) {
            auto* item = new QTableWidgetItem(column == 0 ? row.Caption : row.SubItem(column - 1));
            item->setTextAlignment((column == 0 ? Qt::AlignLeft : Qt::AlignRight) |
                                   Qt::AlignVCenter);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable |
                           (column == 0 ? Qt::ItemIsUserCheckable : Qt::NoItemFlags));
            if (column == 0)
                item->setCheckState(row.Checked ? Qt::Checked : Qt::Unchecked);
            ListViewVersioni->setItem(r, column, item);
        }
    }
    ButtonAggiorna->setVisible(Flow->State().UpdateButtonVisible);
    ButtonRipristina->setVisible(!Flow->State().UpdateButtonVisible);
    FillingList = false;
}

void TFormOrvanto::EnvironmentChanged() {
    const RunState& run = Flow->State();
    const InstallationInfo& info = run.Info;
    CheckBoxRemoteUrl->setText(run.RemoteUrl);
    ShowText(EditApplicationPath, info.ApplicationPath);
    ShowText(EditIniPath, info.IniPath);
    ShowText(EditCatalogueProtection, info.CatalogueProtection);
    ShowText(EditRunLog, Flow->Log().Path());
    ShowText(EditServer, info.Server);
    EditServer->setVisible(!info.Server.isEmpty());
    LabelServer->setVisible(!info.Server.isEmpty());
    LabelArchivioPos->setText(info.ArchivioLabel);
    ShowText(EditFirebirdDirectory, info.FirebirdDirectory);
    ShowText(EditArchivioPos, info.ArchivioPos);
    ShowText(EditComandoIsql, info.ComandoIsql);
    CheckBoxEmbedded->setCheckState(static_cast<Qt::CheckState>(info.EmbeddedState));
}

void TFormOrvanto::ShowMainCard() {
    CardPanelMain->setCurrentIndex(0);
}

void TFormOrvanto::OpenAddress(const QString& address) {
    QDesktopServices::openUrl(QUrl(address));
}
