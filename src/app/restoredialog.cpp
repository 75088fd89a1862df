#include "app/restoredialog.h"

#include "app/questionbox.h"
#include "app/windowfont.h"
#include "restore/backuplist.h"

#include <QApplication>
#include <QBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>

namespace {

// Wide enough for an archive's name and moment in the windows' font.
constexpr int ColumnWidths[] = {240, 180};
constexpr int ListHeight = 289;

} // namespace

TFormRipristina::TFormRipristina(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("FormRipristina"));
    setWindowTitle(QStringLiteral("Ripristina"));
    setFont(WindowFont());
    setModal(true);

    ListViewBackup = new QTreeWidget(this);
    ListViewBackup->setObjectName(QStringLiteral("ListViewBackup"));
    ListViewBackup->setColumnCount(2);
    ListViewBackup->setHeaderLabels({QStringLiteral("Archivio"), QStringLiteral("Data")});
    ListViewBackup->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    ListViewBackup->setColumnWidth(0, ColumnWidths[0]);
    ListViewBackup->setColumnWidth(1, ColumnWidths[1]);
    // Room for both columns beside a vertical scroll bar, which many archives bring.
    ListViewBackup->setFixedSize(ColumnWidths[0] + ColumnWidths[1] +
                                     2 * ListViewBackup->frameWidth() +
                                     style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                                 ListHeight);
    ListViewBackup->setRootIsDecorated(false);
    ListViewBackup->setItemsExpandable(false);
    ListViewBackup->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListViewBackup->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListViewBackup->setSelectionMode(QAbstractItemView::SingleSelection);
    ListViewBackup->setAllColumnsShowFocus(true);
    connect(ListViewBackup, &QTreeWidget::itemDoubleClicked, this,
            &TFormRipristina::ListViewBackupDblClick);

    ButtonOk = new QPushButton(QStringLiteral("Ok"), this);
    ButtonOk->setObjectName(QStringLiteral("ButtonOk"));
    ButtonOk->setDefault(true);
    connect(ButtonOk, &QPushButton::clicked, this, &TFormRipristina::ButtonOkClick);

    ButtonAnnulla = new QPushButton(QStringLiteral("Annulla"), this);
    ButtonAnnulla->setObjectName(QStringLiteral("ButtonAnnulla"));
    ButtonAnnulla->setAutoDefault(false);
    connect(ButtonAnnulla, &QPushButton::clicked, this, &QDialog::reject);

    // The buttons at the bottom right, as large as their captions need; the dialog's size follows.
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(8, 8, 8, 8);
    buttons->setSpacing(16);
    buttons->addStretch();
    buttons->addWidget(ButtonOk);
    buttons->addWidget(ButtonAnnulla);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(ListViewBackup);
    layout->addLayout(buttons);
    layout->activate();

    setTabOrder(ListViewBackup, ButtonOk);
    setTabOrder(ButtonOk, ButtonAnnulla);
}

std::optional<QString> TFormRipristina::ChooseArchive(const QString& folder) {
    ArchiveFolder = folder;
    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    const bool confirmed = exec() == QDialog::Accepted;
    const QList<QTreeWidgetItem*> selected = ListViewBackup->selectedItems();
    if (!confirmed || selected.isEmpty())
        return std::nullopt;
    return selected.first()->text(0);
}

void TFormRipristina::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TFormRipristina::FormShow() {
    ListViewBackup->clear();
    for (const BackupArchive& archive : ListBackupArchives(ArchiveFolder)) {
        auto* item = new QTreeWidgetItem(ListViewBackup,
                                         {archive.Name, FormatArchiveMoment(archive.Moment)});
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    ListViewBackup->setCurrentItem(nullptr);
    ListViewBackup->clearSelection();
}

bool TFormRipristina::Confirmed() {
    const QList<QTreeWidgetItem*> selected = ListViewBackup->selectedItems();
    if (selected.isEmpty())
        return false;
    if (!AskQuestion(this, windowTitle(), RestoreQuestion(selected.first()->text(0)))) {
        ListViewBackup->clearSelection();
        ListViewBackup->setCurrentItem(nullptr);
    }
    return !ListViewBackup->selectedItems().isEmpty();
}

void TFormRipristina::ListViewBackupDblClick() {
    if (Confirmed())
        accept();
}

void TFormRipristina::ButtonOkClick() {
    if (Confirmed())
        accept();
    else
        reject();
}
