#include "app/restoredialog.h"
#include "support/modalanswer.h"
#include "support/tempinstall.h"

#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QtTest>

namespace {

// Opens the dialog on the folder, lets `act` work on it once it is shown, and returns the choice.
std::optional<QString> Run(TFormRipristina& dialog, const QString& folder,
                           const std::function<void(QTreeWidget*)>& act) {
    QTimer::singleShot(50,
                       [&dialog, act] { act(dialog.findChild<QTreeWidget*>("ListViewBackup")); });
    return dialog.ChooseArchive(folder);
}

QTreeWidgetItem* Row(QTreeWidget* list, const QString& name) {
    const auto found = list->findItems(name, Qt::MatchExactly, 0);
    return found.isEmpty() ? nullptr : found.first();
}

} // namespace

class RestoreDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
        Install = std::make_unique<TempInstallation>();
        for (const char* name :
             {"240115_103000.7z", "231224_235959.7z", "241332_103000.7z",
              "250101_000000_l'ultimo.7z", "backup.7z", "240115-103000.7z", "240115_10300.7z"})
            Install->WriteFile(QString("Velmora/Orvo/Backup/") + name, "x");
        QDir().mkpath(Install->BackupFolder() + "240118_000000.7z");
    }

    void cleanup() { Install.reset(); }

    void layoutAndListing() {
        TFormRipristina dialog;
        QCOMPARE(dialog.windowTitle(), QString("Ripristina"));
        auto* ok = dialog.findChild<QPushButton*>("ButtonOk");
        auto* cancel = dialog.findChild<QPushButton*>("ButtonAnnulla");
        QCOMPARE(ok->text(), QString("Ok"));
        QVERIFY(ok->isDefault());
        QCOMPARE(cancel->text(), QString("Annulla"));

        QStringList names;
        QStringList moments;
        int selected = -1;
        Run(dialog, Install->BackupFolder(), [&](QTreeWidget* list) {
            QCOMPARE(list->headerItem()->text(0), QString("Archivio"));
            QCOMPARE(list->headerItem()->text(1), QString("Data"));
            QCOMPARE(list->columnWidth(0), 240);
            QCOMPARE(list->height(), 289);
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                names.append(list->topLevelItem(i)->text(0));
                moments.append(list->topLevelItem(i)->text(1));
            }
            selected = static_cast<int>(list->selectedItems().size());
            dialog.reject();
        });
        QCOMPARE(names, QStringList(
                            {"231224_235959.7z", "240115_103000.7z", "250101_000000_l'ultimo.7z"}));
        QCOMPARE(moments, QStringList({"24/12/2023 23:59:59", "15/01/2024 10:30:00",
                                       "01/01/2025 00:00:00"}));
        QCOMPARE(selected, 0);
    }

    // The dialog writes with the main window's font: names, moments and buttons fit whole, with a
    // few archives and with enough of them for a vertical scroll bar.
    void contentsFitTheFont() {
        for (int more : {0, 30}) {
            for (int day = 1; day <= more; ++day)
                Install->WriteFile(
                    QString("Velmora/Orvo/Backup/2403%1_120000.7z").arg(day, 2, 10, QChar('0')),
                    "x");
            TFormRipristina dialog;
            QStringList misfits;
            Run(dialog, Install->BackupFolder(), [&](QTreeWidget* list) {
                const QAbstractItemView* view = list;
                for (int column = 0; column < 2; ++column)
                    if (list->columnWidth(column) < view->sizeHintForColumn(column))
                        misfits.append(list->headerItem()->text(column));
                if (list->header()->length() > list->viewport()->width() ||
                    list->horizontalScrollBar()->isVisible())
                    misfits.append("ListViewBackup");
                for (const char* name : {"ButtonOk", "ButtonAnnulla"}) {
                    auto* button = dialog.findChild<QPushButton*>(name);
                    const QSize need = button->sizeHint();
                    if (button->width() < need.width() || button->height() < need.height() ||
                        !dialog.rect().contains(button->geometry()) ||
                        button->geometry().intersects(list->geometry()))
                        misfits.append(name);
                }
                dialog.reject();
            });
            QCOMPARE(misfits, QStringList());
        }
    }

    void okWithYesReturnsTheArchive() {
        TFormRipristina dialog;
        ModalAnswer answer(QMessageBox::Yes);
        const auto choice = Run(dialog, Install->BackupFolder(), [](QTreeWidget* list) {
            list->setCurrentItem(Row(list, "250101_000000_l'ultimo.7z"));
            QTest::keyClick(list, Qt::Key_Return);
        });
        QVERIFY(answer.Answered());
        QCOMPARE(answer.Text(), QString("Ripristinare l'archivio '250101_000000_l''ultimo.7z'?"));
        QCOMPARE(answer.DefaultButton(), QMessageBox::No);
        QCOMPARE(answer.Icon(), QMessageBox::Question);
        QCOMPARE(answer.ButtonText(QMessageBox::Yes), QString::fromUtf8("Sì"));
        QCOMPARE(answer.ButtonText(QMessageBox::No), QString("No"));
        QCOMPARE(choice.value_or(""), QString("250101_000000_l'ultimo.7z"));
    }

    void okWithNoCancels() {
        TFormRipristina dialog;
        ModalAnswer answer(QMessageBox::No);
        const auto choice = Run(dialog, Install->BackupFolder(), [](QTreeWidget* list) {
            list->setCurrentItem(Row(list, "240115_103000.7z"));
            QTest::mouseClick(list->window()->findChild<QPushButton*>("ButtonOk"), Qt::LeftButton);
        });
        QVERIFY(answer.Answered());
        QVERIFY(!choice.has_value());
    }

    void doubleClickWithNoStaysOpenWithoutSelection() {
        TFormRipristina dialog;
        ModalAnswer answer(QMessageBox::No);
        bool stillOpen = false;
        int selected = -1;
        const auto choice = Run(dialog, Install->BackupFolder(), [&](QTreeWidget* list) {
            list->setCurrentItem(Row(list, "240115_103000.7z"));
            dialog.ListViewBackupDblClick();
            stillOpen = dialog.isVisible();
            selected = static_cast<int>(list->selectedItems().size());
            dialog.reject();
        });
        QVERIFY(answer.Answered());
        QVERIFY(stillOpen);
        QCOMPARE(selected, 0);
        QVERIFY(!choice.has_value());
    }

    void enterWithoutSelectionCancelsWithoutQuestion() {
        TFormRipristina dialog;
        const auto choice = Run(dialog, Install->BackupFolder(), [](QTreeWidget* list) {
            QTest::keyClick(list->window()->findChild<QPushButton*>("ButtonOk"), Qt::Key_Return);
        });
        QVERIFY(!choice.has_value());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

private:
    std::unique_ptr<TempInstallation> Install;
};

QTEST_MAIN(RestoreDialogTest)
#include "restoredialog_qtest.moc"
