#include "core/runlog.h"
#include "support/demosite.h"
#include "support/fileserver.h"
#include "support/smalldisk.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <signal.h>

namespace {

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The texts in this order in the log, each after the one before.
void ExpectInOrder(const QString& log, const QStringList& texts) {
    qsizetype from = 0;
    for (const QString& text : texts) {
        const qsizetype at = log.indexOf(text, from);
        ASSERT_GE(at, 0) << "missing after position " << from << ": " << text.toStdString()
                         << "\n--- log:\n"
                         << log.toStdString();
        from = at + text.size();
    }
}

QString LogOf(const DemoSite& site) {
    return QString::fromUtf8(site.Read("Orvo/orvanto.log"));
}

} // namespace

TEST(RunLogFile, PastTheCapTheLogTurnsIntoTheOlderCopyWithEveryEntryWhole) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Orvo/orvanto.log";
    QDir().mkpath(dir.path() + "/Orvo");
    // An earlier run left the log at the cap, and an older copy that goes.
    QFile earlier(path);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    const QByteArray full(RunLog::Cap - 10, 'a');
    earlier.write(full);
    earlier.close();
    QFile older(path + ".1");
    ASSERT_TRUE(older.open(QIODevice::WriteOnly) && older.write("very old\n") == 9);
    older.close();

    RunLog log(path);
    const QString entry(900, 'e');
    const int entries = 2500;
    for (int i = 0; i < entries; ++i)
        log.Write(QString::number(i) + ' ' + entry);

    // 2500 entries of about 925 bytes fill the log twice over: two turns.
    const QByteArray now = ReadFile(path);
    const QByteArray before = ReadFile(path + ".1");
    EXPECT_LE(now.size(), RunLog::Cap);
    EXPECT_LE(before.size(), RunLog::Cap);
    EXPECT_FALSE(before.contains("very old")) << "one older copy only";
    EXPECT_FALSE(before.contains(full.left(100))) << "the earlier run's log turned over first";
    ASSERT_TRUE(now.endsWith(QString(" %1 %2\n").arg(entries - 1).arg(entry).toUtf8()));
    ASSERT_TRUE(before.endsWith('\n'));
    // The older copy ends with the entry just before the first one of the log.
    const QList<QByteArray> nowLines = now.trimmed().split('\n');
    const QList<QByteArray> beforeLines = before.trimmed().split('\n');
    const int first = nowLines.first().split(' ').value(2).toInt();
    EXPECT_EQ(beforeLines.last().split(' ').value(2).toInt(), first - 1);
    for (const QByteArray& line : nowLines + beforeLines)
        EXPECT_TRUE(line.endsWith(entry.toUtf8())) << "an entry split between the files";
}

TEST(RunLogFile, ASuccessfulUpdateLeavesItsStepsAndOutcome) {
    DemoSite site;
    const DemoSite::Result update = site.Run({"--update"});
    ASSERT_EQ(update.ExitCode, 0) << update.Errors.toStdString();
    ExpectInOrder(LogOf(site), {"Avvio di Orvanto 1.7.1, riga di comando: ", "Orvanto --update\n",
                                "Inizio analisi ambiente\n", "Catalogo firmato, chiave ",
                                "Controllo: Velmora installato 3.11.0, disponibile 3.12.0, 2930 "
                                "KB, proposto\n",
                                "Da aggiornare: Velmora.exe, ", "Inizio: scaricamento\n",
                                "Scaricato Velmora.exe.7z (", "Fine: scaricamento (",
                                "Fine: copia di sicurezza (", "Controllo: nessun aggiornamento\n",
                                "Fine: applicazione degli aggiornamenti (",
                                "Esito: aggiornamento riuscito\n", "Fine, codice di uscita 0\n"});

    // The next run appends below.
    const QByteArray first = site.Read("Orvo/orvanto.log");
    EXPECT_EQ(site.Run({"--check"}).ExitCode, 0);
    EXPECT_TRUE(site.Read("Orvo/orvanto.log").startsWith(first));
    EXPECT_EQ(LogOf(site).count("Avvio di Orvanto"), 2);
}

// Each failure: the fixed message, with the reason on the line after it on standard error; the
// log holds the reason, the step that failed and the outcome.
TEST(RunLogFile, EachFailedUpdateNamesItsReason) {
    struct Row {
        const char* Case;
        std::function<bool(DemoSite&, std::unique_ptr<FileServer>&, std::unique_ptr<SmallDisk>&)>
            Arrange;
        QString Message;
        QStringList Reason;
        QString Step;
    };
    const Row rows[] = {
        {"package missing on the server (404)",
         [](DemoSite& site, auto&, auto&) {
             return QFile::remove(site.Folder() + "/site/velmora/BlokCore.dll.7z");
         },
         "Impossibile scaricare aggiornamenti",
         {"Richiesta HTTP http://127.0.0.1:", "/velmora/BlokCore.dll.7z: risposta HTTP 404"},
         "scaricamento"},
        {"connection closed part-way through every body",
         [](DemoSite& site, std::unique_ptr<FileServer>& server, auto&) {
             FileServer::Options options;
             // Small files pass; the 3 MB package never gets past four breaks.
             options.BreakAfter = 100000;
             options.BreakAlways = true;
             server = std::make_unique<FileServer>(site.Folder() + "/site", options);
             site.ServeFrom(server->BaseUrl());
             return true;
         },
         "Impossibile scaricare aggiornamenti",
         {"Richiesta HTTP http://127.0.0.1:", "/velmora/Velmora.exe.7z: connessione chiusa prima"},
         "scaricamento"},
        {"package with another checksum",
         [](DemoSite& site, auto&, auto&) {
             site.TamperWithPackage("BlokCore.dll");
             return true;
         },
         "Impossibile scaricare 'BlokCore.dll'",
         {"Controllo SHA-256 http://127.0.0.1:", "/velmora/BlokCore.dll.7z: atteso "},
         "scaricamento"},
        {"script that fails",
         [](DemoSite& site, auto&, auto&) {
             site.PublishFailingScript();
             return true;
         },
         "Impossibile applicare gli aggiornamenti",
         {"Script modifiche206.sql: isql", " terminato con codice 1: ", "NON_ESISTE"},
         "applicazione degli aggiornamenti"},
        {"backup folder on a full disk",
         [](DemoSite& site, auto&, std::unique_ptr<SmallDisk>& disk) {
             disk = std::make_unique<SmallDisk>(site.ProgramFolder() + "Orvo/Backup", 64);
             if (!disk->Mounted())
                 return false;
             disk->Fill();
             return true;
         },
         "Impossibile effettuare una copia di sicurezza dei dati prima dell'aggiornamento",
         {"7za terminato con codice ", "space"},
         "copia di sicurezza"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Case);
        DemoSite site;
        std::unique_ptr<FileServer> server;
        std::unique_ptr<SmallDisk> disk;
        if (!row.Arrange(site, server, disk)) {
            std::fprintf(stderr, "skipped (needs root): %s\n", row.Case);
            continue;
        }
        const DemoSite::Result update = site.Run({"--update"});
        EXPECT_EQ(update.ExitCode, 4) << update.Errors.toStdString();

        const QStringList errors = update.Errors.split('\n');
        const qsizetype message = errors.indexOf(row.Message);
        ASSERT_GE(message, 0) << update.Errors.toStdString();
        const QString reason = errors.value(message + 1);
        for (const QString& part : row.Reason)
            EXPECT_TRUE(reason.contains(part)) << "reason line: " << reason.toStdString();

        const QString log = LogOf(site);
        ExpectInOrder(log, {"Inizio: " + row.Step + "\n", "Motivo: " + reason + "\n",
                            "Non riuscito: " + row.Step + " (",
                            "Esito: aggiornamento non riuscito\n", "Fine, codice di uscita 4\n"});
        EXPECT_TRUE(log.contains("Messaggio: " + row.Message + "\n"));
    }
}

TEST(RunLogFile, AMissingSettingsFileIsLoggedWithTheFoldersLookedIn) {
    DemoSite site;
    QFile::remove(site.ProgramFolder() + "velmora.ini");
    const DemoSite::Result check = site.Run({"--check"});
    EXPECT_EQ(check.ExitCode, 2);
    ExpectInOrder(LogOf(site), {"Avvio di Orvanto 1.7.1",
                                "Errore: ", "velmora.ini cercato in: " + site.ProgramFolder(),
                                "Fine, codice di uscita 2\n"});
}

TEST(RunLogFile, ARunKilledHalfWayLeavesAReadableLogUpToThatPoint) {
    DemoSite site;
    FileServer::Options slow;
    slow.DelayMs = 1500;
    FileServer server(site.Folder() + "/site", slow);
    const QByteArray settings = site.Read("velmora.ini");
    site.ServeFrom(server.BaseUrl());

    QProcess run;
    run.setProgram(site.ProgramFolder() + "Orvanto");
    run.setArguments({"--update"});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    run.setProcessEnvironment(environment);
    run.start();
    ASSERT_TRUE(run.waitForStarted());
    bool downloading = false;
    for (int i = 0; i < 1200 && !downloading; ++i) {
        QThread::msleep(50);
        downloading = LogOf(site).contains("Inizio: scaricamento\n");
    }
    ASSERT_TRUE(downloading) << LogOf(site).toStdString();
    ::kill(static_cast<pid_t>(run.processId()), SIGKILL);
    run.waitForFinished();

    const QByteArray killed = site.Read("Orvo/orvanto.log");
    EXPECT_TRUE(killed.endsWith('\n')) << "no entry cut short";
    EXPECT_EQ(QString::fromUtf8(killed).toUtf8(), killed) << "readable text";
    ExpectInOrder(
        QString::fromUtf8(killed),
        {"Avvio di Orvanto", "Controllo: Velmora installato 3.11.0", "Inizio: scaricamento\n"});
    EXPECT_FALSE(killed.contains("Esito"));

    // The next run goes on below what the killed one left.
    site.Write("velmora.ini", settings);
    const DemoSite::Result next = site.Run({"--update"});
    EXPECT_EQ(next.ExitCode, 0) << next.Errors.toStdString();
    EXPECT_TRUE(site.Read("Orvo/orvanto.log").startsWith(killed));
}
