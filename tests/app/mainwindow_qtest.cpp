#include "app/mainwindow.h"
#include "app/restoredialog.h"
#include "app/workflow.h"
#include "support/modalanswer.h"
#include "support/nginxserver.h"
#include "support/programcopy.h"
#include "support/tempinstall.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>
#include <functional>

namespace {

// Shows the window and waits until the check that its first showing starts has ended: the check
// runs inside one event, so once its log lines are there it is over.
void ShowAfterCheck(TFormOrvanto& window) {
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* log = window.findChild<QPlainTextEdit*>("MemoLog");
    QTRY_VERIFY(!log->toPlainText().isEmpty());
}

// Whether `act` opens the restore dialog, through the menu it may pop up; the dialog is closed
// without a choice. The menu entry is clicked from a posted call, outside the timer, so that the
// timer still fires inside the dialog the click opens.
bool OpensRestoreDialog(const std::function<void()>& act) {
    bool opened = false;
    bool chosen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&opened, &chosen] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* entry : menu->actions())
                if (entry->objectName() == "ActionRipristina" && !std::exchange(chosen, true))
                    QMetaObject::invokeMethod(
                        menu,
                        [menu, entry] {
                            QTest::mouseClick(menu, Qt::LeftButton, {},
                                              menu->actionGeometry(entry).center());
                        },
                        Qt::QueuedConnection);
        } else if (auto* dialog =
                       qobject_cast<TFormRipristina*>(QApplication::activeModalWidget())) {
            opened = true;
            dialog->reject();
        }
    });
    poll.start(20);
    act();
    return QTest::qWaitFor([&opened] { return opened; }, 2000);
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    // An update server whose catalogue is empty: the check leaves the checklist as it is.
    void init() {
        Install = std::make_unique<TempInstallation>();
        Install->WriteFile("site/update.ini", "");
        Server = std::make_unique<NginxServer>(Install->Root() + "/site");
        Install->WriteSettings("[PRINCIPALE]\r\nDatabase=ARCHIVIO\r\n[ORVANTO]\r\nRemote url=" +
                               Server->BaseUrl().toUtf8() + "\r\n");
    }

    void cleanup() {
        Server.reset();
        Install.reset();
    }

    void windowLayout() {
        TFormRipristina dialog;
        TFormOrvanto window({}, &dialog);
        QCOMPARE(window.windowTitle(), QString("Orvanto"));
        QCOMPARE(window.height(), 373);
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QCOMPARE(window.font().pixelSize(), 16);

        auto* list = window.findChild<QTableWidget*>("ListViewVersioni");
        QVERIFY(list->showGrid());
        const QStringList captions = {"Componente", "Installato", "Disponibile", "Dimensione (KB)"};
        const int widths[] = {300, 100, 100, 130};
        for (int column = 0; column < 4; ++column) {
            QCOMPARE(list->horizontalHeaderItem(column)->text(), captions[column]);
            QCOMPARE(list->columnWidth(column), widths[column]);
            const Qt::Alignment expected = column == 0 ? Qt::AlignLeft : Qt::AlignRight;
            QVERIFY(Qt::Alignment(list->horizontalHeaderItem(column)->textAlignment()) & expected);
        }
        QCOMPARE(window.findChild<QGroupBox*>("GroupBoxDownload")->title(), QString("Download"));
        QCOMPARE(window.findChild<QGroupBox*>("GroupBoxAggiornamento")->title(),
                 QString("Aggiornamento"));
        QCOMPARE(window.findChild<QGroupBox*>("GroupBoxDownload")->height(), 48);

        struct ActionFact {
            const char* name;
            QString caption;
            QString hint;
            bool icon;
        };
        const ActionFact actions[] = {
            {"ActionControlla", "&Controlla", "Verifica se sono disponibili nuovi aggiornamenti",
             true},
            {"ActionAggiorna", "&Aggiorna",
             "Scarica ed installa eventuali aggiornamenti di Velmora", true},
            {"ActionRipristina", "&Ripristina",
             "Ripristina la situazione del programma prima dell'ultimo aggiornamento effettuato.",
             true},
            {"ActionNovita", QString::fromUtf8("Novità"),
             QString::fromUtf8("Mostra tutte le novità introdotte nell'ultima versione (e non "
                               "solo) del programma"),
             true},
            {"ActionMostraTutto", "&Mostra tutto", "", false},
            {"ActionImpostazioni", QString::fromUtf8("\u2699"),
             "Mostra impostazioni e dettagli relativi all'ambiente da aggiornare", false},
            {"ActionBackToMain", QString::fromUtf8("\U0001F814 Indietro"),
             "Ritorna alla visualizzazione principale", false},
        };
        for (const ActionFact& fact : actions) {
            auto* action = window.findChild<QAction*>(fact.name);
            QVERIFY2(action != nullptr, fact.name);
            QCOMPARE(action->text(), fact.caption);
            QCOMPARE(action->statusTip(), fact.hint);
            QCOMPARE(!action->icon().isNull(), fact.icon);
        }
        QStringList popup;
        for (QAction* entry : window.findChild<QMenu*>("PopupMenu")->actions())
            popup.append(entry->isSeparator() ? "-" : entry->objectName());
        QCOMPARE(popup,
                 QStringList({"ActionControlla", "ActionAggiorna", "-", "ActionMostraTutto"}));
        auto* split = window.findChild<QToolButton*>("ButtonAggiorna");
        QCOMPARE(split->popupMode(), QToolButton::MenuButtonPopup);
        QCOMPARE(split->menu()->actions().value(0)->objectName(), QString("ActionRipristina"));
        QCOMPARE(split->width(), 120);
        QCOMPARE(window.findChild<QToolButton*>("BitBtnControlla")->width(), 100);
        QCOMPARE(window.findChild<QToolButton*>("ButtonNovita")->width(), 75);
        QCOMPARE(window.findChild<QToolButton*>("ButtonImpostazioni")->width(), 30);
    }

    // The four columns show whole, sizes of six digits included, with the checklist empty and
    // with every component listed while both progress groups take their room.
    void checklistColumnsShowWhole() {
        struct Case {
            QStringList components;
            bool progressShown;
        };
        const Case cases[] = {
            {{}, false},
            {{"Orvanto", "Velmora", "7za", "Dbexpress", "Mappe", "Schema database", "Firebird"},
             true},
        };
        for (const Case& c : cases) {
            TFormRipristina dialog;
            TFormOrvanto window({}, &dialog);
            auto* list = window.findChild<QTableWidget*>("ListViewVersioni");
            ShowAfterCheck(window);
            for (const QString& component : c.components)
                window.Run().State().Checklist.append(
                    {component, {"3.11.0.0", "3.12.0.0", "123456"}, true});
            window.ChecklistChanged();
            window.SetDownloadVisible(c.progressShown);
            window.SetUpdateVisible(c.progressShown);
            QTest::qWait(50); // the layout and the scroll bars settle

            QVERIFY(list->viewport()->width() >= 630);
            QVERIFY(!list->horizontalScrollBar()->isVisible());
            QVERIFY(!list->verticalScrollBar()->isVisible());
            for (int row = 0; row < list->rowCount(); ++row)
                QVERIFY(
                    list->viewport()->rect().contains(list->visualItemRect(list->item(row, 3))));
        }
    }

    // "Ripristina" stays a click away: in the update button's menu while the button shows, and on
    // a button of its own once nothing is proposed (as after an update) and the update button
    // hides. Alt+R opens it as well.
    void restoreReachableWithTheMouse() {
        struct Case {
            bool showAll;
            const char* button;
            bool arrow;
        };
        const Case cases[] = {
            {false, "ButtonRipristina", false},
            {true, "ButtonAggiorna", true},
        };
        for (const Case& c : cases) {
            TFormRipristina dialog;
            TFormOrvanto window({}, &dialog);
            ShowAfterCheck(window);
            if (c.showAll)
                window.findChild<QAction*>("ActionMostraTutto")->trigger();
            QCOMPARE(window.findChild<QToolButton*>("ButtonAggiorna")->isHidden(), !c.showAll);

            auto* button = window.findChild<QToolButton*>(c.button);
            QVERIFY2(button != nullptr, c.button);
            QVERIFY(button->isVisible());
            QVERIFY(button->isEnabled());
            const QPoint at(c.arrow ? button->width() - 6 : button->width() / 2,
                            button->height() / 2);
            QVERIFY(
                OpensRestoreDialog([&] { QTest::keyClick(&window, Qt::Key_R, Qt::AltModifier); }));
            QVERIFY(OpensRestoreDialog([&] { QTest::mouseClick(button, Qt::LeftButton, {}, at); }));
        }
    }

    // Questions read "Sì" and "No", default to No and write like the checklist.
    void questionsInItalian() {
        struct Case {
            QMessageBox::StandardButton answer;
            bool yes;
        };
        const Case cases[] = {{QMessageBox::Yes, true}, {QMessageBox::No, false}};
        for (const Case& c : cases) {
            TFormRipristina dialog;
            TFormOrvanto window({}, &dialog);
            ModalAnswer answer(c.answer);
            QCOMPARE(window.AskYesNo("Procedere?"), c.yes);
            QVERIFY(answer.Answered());
            QCOMPARE(answer.Text(), QString("Procedere?"));
            QCOMPARE(answer.Icon(), QMessageBox::Question);
            QCOMPARE(answer.ButtonText(QMessageBox::Yes), QString::fromUtf8("Sì"));
            QCOMPARE(answer.ButtonText(QMessageBox::No), QString("No"));
            QCOMPARE(answer.DefaultButton(), QMessageBox::No);
            QCOMPARE(answer.Font(), window.findChild<QTableWidget*>("ListViewVersioni")->font());
        }
    }

    void messagesWriteLikeTheChecklist() {
        struct Case {
            std::function<void(TFormOrvanto&)> show;
            QMessageBox::Icon icon;
        };
        const Case cases[] = {
            {[](TFormOrvanto& window) { window.ShowMessage("Fatto.", MessageKind::Notice); },
             QMessageBox::Information},
            {[](TFormOrvanto& window) { window.ShowError("Fatto."); }, QMessageBox::Critical},
        };
        for (const Case& c : cases) {
            TFormRipristina dialog;
            TFormOrvanto window({}, &dialog);
            ModalAnswer answer(QMessageBox::Ok);
            c.show(window);
            QVERIFY(answer.Answered());
            QCOMPARE(answer.Text(), QString("Fatto."));
            QCOMPARE(answer.Icon(), c.icon);
            QCOMPARE(answer.Font(), window.findChild<QTableWidget*>("ListViewVersioni")->font());
        }
    }

    void restoreDialogWritesLikeTheChecklist() {
        TFormRipristina dialog;
        TFormOrvanto window({}, &dialog);
        QCOMPARE(dialog.findChild<QTreeWidget*>("ListViewBackup")->font(),
                 window.findChild<QTableWidget*>("ListViewVersioni")->font());
    }

    void infoCardFromSettings() {
        struct Case {
            QByteArray settings;
            bool serverVisible;
            QString label;
        };
        const Case cases[] = {
            {"[PRINCIPALE]\nDatabase=ARCHIVIO\n", false,
             "Percorso archivio dati (database ARCHIVIO)"},
            {"[PRINCIPALE]\nDatabase server=srvdati\n", true,
             "Percorso archivio dati (database VELMORA)"},
        };
        for (const Case& c : cases) {
            Install->WriteSettings(c.settings +
                                   "[ORVANTO]\nRemote url=" + Server->BaseUrl().toUtf8() + "\n");
            TFormRipristina dialog;
            TFormOrvanto window({}, &dialog);
            QCOMPARE(!window.findChild<QLineEdit*>("EditServer")->isHidden(), c.serverVisible);
            QCOMPARE(!window.findChild<QLabel*>("LabelServer")->isHidden(), c.serverVisible);
            if (c.serverVisible)
                QCOMPARE(window.findChild<QLineEdit*>("EditServer")->text(), QString("srvdati"));
            QCOMPARE(window.findChild<QLabel*>("LabelArchivioPos")->text(), c.label);
            auto* url = window.findChild<QCheckBox*>("CheckBoxRemoteUrl");
            QCOMPARE(url->text(), Server->BaseUrl());
            QVERIFY(url->isChecked());
            QVERIFY(!url->isEnabled());
            QCOMPARE(window.findChild<QLineEdit*>("EditIniPath")->text(),
                     Install->ProgramFolder() + "velmora.ini");
            QCOMPARE(window.findChild<QLineEdit*>("EditRunLog")->text(),
                     Install->ProgramFolder() + "Orvo/orvanto.log");
            QCOMPARE(window.findChild<QCheckBox*>("CheckBoxEmbedded")->checkState(),
                     Qt::PartiallyChecked);
        }
    }

    void verboseSwitch() {
        struct Case {
            QStringList arguments;
            bool verbose;
        };
        const Case cases[] = {
            {{}, false},
            {{"-V"}, true},
            {{"/v"}, true},
            {{"--verbose"}, true},
            {{"xverbosex"}, true},
            {{"/verbose:1"}, true},
            {{"-vx"}, true},
            {{"first", "/V"}, true},
            {{"--check", "--show-all"}, false},
            {{"v", "verb", "/x", "--fileversion"}, false},
        };
        for (const Case& c : cases)
            QCOMPARE(VerboseRequested(c.arguments), c.verbose);
    }

    void verboseShowsEachLineBeforeLogging() {
        TFormRipristina dialog;
        TFormOrvanto window({"-V"}, &dialog);
        ModalAnswer answer(QMessageBox::Ok);
        window.Run().WriteLog("Inizio analisi ambiente");
        QVERIFY(answer.Answered());
        QCOMPARE(answer.Text(), QString("Inizio analisi ambiente"));
        QCOMPARE(window.findChild<QPlainTextEdit*>("MemoLog")->toPlainText(),
                 QString("Inizio analisi ambiente"));
    }

    void cardSwitchesAndReset() {
        TFormRipristina dialog;
        TFormOrvanto window({}, &dialog);
        auto* cards = window.findChild<QStackedWidget*>("CardPanelMain");
        QCOMPARE(cards->currentWidget()->objectName(), QString("CardMain"));
        window.findChild<QAction*>("ActionImpostazioni")->trigger();
        QCOMPARE(cards->currentWidget()->objectName(), QString("CardInfo"));
        window.findChild<QAction*>("ActionBackToMain")->trigger();
        QCOMPARE(cards->currentWidget()->objectName(), QString("CardMain"));

        window.findChild<QAction*>("ActionImpostazioni")->trigger();
        window.ResetAndCheck();
        QCOMPARE(cards->currentWidget()->objectName(), QString("CardMain"));
        QVERIFY(window.findChild<QToolButton*>("ButtonAggiorna")->isHidden());
        QVERIFY(window.findChild<QGroupBox*>("GroupBoxDownload")->isHidden());
        QVERIFY(window.findChild<QGroupBox*>("GroupBoxAggiornamento")->isHidden());
        QCOMPARE(window.findChild<QTableWidget*>("ListViewVersioni")->rowCount(), 0);
        // No server and no alias file: the program folder's "maindb.fdb", a path without ":".
        QCOMPARE(window.findChild<QCheckBox*>("CheckBoxEmbedded")->checkState(), Qt::Checked);
        QVERIFY(window.findChild<QPlainTextEdit*>("MemoLog")->toPlainText().startsWith(
            "Inizio analisi ambiente"));
    }

    void showAllStaysOn() {
        TFormRipristina dialog;
        TFormOrvanto window({}, &dialog);
        QVERIFY(!window.Run().State().ShowAll);
        window.findChild<QAction*>("ActionMostraTutto")->trigger();
        QVERIFY(window.Run().State().ShowAll);
        window.findChild<QAction*>("ActionControlla")->trigger();
        QVERIFY(window.Run().State().ShowAll);
    }

    void missingSettingsFailsTheStart() {
        QFile::remove(Install->ProgramFolder() + "velmora.ini");
        QVERIFY_THROWS_EXCEPTION(std::exception, TFormOrvanto({}, nullptr));
    }

private:
    std::unique_ptr<TempInstallation> Install;
    std::unique_ptr<NginxServer> Server;
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_qtest.moc"
