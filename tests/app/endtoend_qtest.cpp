#include "app/mainwindow.h"
#include "app/restoredialog.h"
#include "catalogue/versionresource.h"
#include "environment/lowlevel.h"
#include "support/demosite.h"
#include "support/firebirdfixture.h"
#include "support/modalanswer.h"

#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

// The update through the real window: the user unticks one proposed component and presses
// "Aggiorna".
class EndToEndWindowTest : public QObject {
    Q_OBJECT

private slots:
    void updateFromTheWindow() {
        std::unique_ptr<DemoSite> made;
        try {
            made = std::make_unique<DemoSite>();
        } catch (const std::exception& error) {
            QFAIL(error.what());
        }
        const DemoSite& site = *made;
        OverrideProgramFolder(site.ProgramFolder());
        TFormRipristina dialog;
        TFormOrvanto window({}, &dialog);
        ModalAnswer unexpected(QMessageBox::Ok);
        window.show();

        auto* list = window.findChild<QTableWidget*>("ListViewVersioni");
        auto* button = window.findChild<QToolButton*>("ButtonAggiorna");
        QTRY_COMPARE_WITH_TIMEOUT(list->rowCount(), 3, 30000);
        QCOMPARE(list->item(0, 0)->text(), QString("Velmora"));
        QCOMPARE(list->item(1, 0)->text(), QString("7za"));
        QCOMPARE(list->item(2, 0)->text(), QString("Schema database"));
        QVERIFY(!button->isHidden());

        list->item(1, 0)->setCheckState(Qt::Unchecked);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, button->height() / 2));

        QVERIFY2(!unexpected.Answered(), qPrintable(unexpected.Text()));
        QVERIFY(site.Read("Velmora.exe").startsWith("Velmora 3.12.0"));
        QVERIFY(site.Read("velmora.ini").contains("Versione=3.12.0"));
        // The embedded engine of this process holds the file while connected; isql is another
        // process.
        window.Run().Connection().Close();
        QCOMPARE(QueryValue(site.DatabaseFile(),
                            "SELECT CAST(RDB$DESCRIPTION AS VARCHAR(9)) FROM RDB$DATABASE"),
                 QString("206"));
        QCOMPARE(ReadVersionString(site.ProgramFolder() + "7za.exe", "FileVersion"),
                 QString("16.2.0.0"));
        // The check at the end proposes the archiver again.
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(list->item(0, 0)->text(), QString("7za"));
        QCOMPARE(list->item(0, 1)->text(), QString("16.2.0.0"));

        // The restore of the archive that update made, chosen in the window: the window says it
        // is done and checks again, and Velmora is proposed once more.
        ModalAnswer confirm(QMessageBox::Yes);
        QTimer::singleShot(50, [&dialog] {
            auto* rows = dialog.findChild<QTreeWidget*>("ListViewBackup");
            rows->setCurrentItem(rows->topLevelItem(0));
            dialog.findChild<QPushButton*>("ButtonOk")->click();
        });
        window.findChild<QAction*>("ActionRipristina")->trigger();
        QVERIFY(confirm.Answered());
        QVERIFY2(unexpected.Text().startsWith("Ripristino completato: l'installazione è tornata "
                                              "com'era nell'archivio '"),
                 qPrintable(unexpected.Text()));
        QVERIFY(site.Read("Velmora.exe").startsWith("Velmora 3.11.0"));
        QCOMPARE(list->rowCount(), 3);
        QCOMPARE(list->item(0, 0)->text(), QString("Velmora"));
        QCOMPARE(list->item(0, 1)->text(), QString("3.11.0"));
        OverrideProgramFolder(QString());
    }
};

QTEST_MAIN(EndToEndWindowTest)
#include "endtoend_qtest.moc"
