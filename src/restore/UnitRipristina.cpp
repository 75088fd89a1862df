#include "restore/UnitRipristina.h"

#include "restore/backuplist.h"
#include "restore/questionbox.h"

#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

TFormRipristina::TFormRipristina(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("FormRipristina"));
    setWindowTitle(QStringLiteral("Ripristina"));
    QFont font;
    font.setFamilies({"MS Sans Serif", "Liberation Sans", "DejaVu Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(8);
    setFont(font);
    setFixedSize(406, 330);
    setModal(true);

    ListViewBackup = new QTreeWidget(this);
    ListViewBackup->setObjectName(QStringLiteral("ListViewBackup"));
    ListViewBackup->setGeometry(0, 0, 406, 289);
    ListViewBackup->setColumnCount(2);
    ListViewBackup->setHeaderLabels({QStringLiteral("Archivio"), QStringLiteral("Data")});
    ListViewBackup->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    ListViewBackup->setColumnWidth(0, 200);
    ListViewBackup->setColumnWidth(1, 180);
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
    ButtonOk->setGeometry(224, 300, 75, 25);
    ButtonOk->setDefault(true);
    connect(ButtonOk, &QPushButton::clicked, this, &TFormRipristina::ButtonOkClick);

    ButtonAnnulla = new QPushButton(QStringLiteral("Annulla"), this);
    ButtonAnnulla->setObjectName(QStringLiteral("ButtonAnnulla"));
    ButtonAnnulla->setGeometry(320, 300, 75, 25);
    ButtonAnnulla->setAutoDefault(false);
    connect(ButtonAnnulla, &QPushButton::clicked, this, &QDialog::reject);

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
