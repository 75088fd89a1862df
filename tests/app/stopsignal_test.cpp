#include "support/demosite.h"
#include "support/fileserver.h"
#include "support/installationsnapshot.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <optional>

// The real updater asked to stop by SIGINT, SIGTERM or SIGHUP, sent as systemd, kill or a
// terminal sends them, at chosen moments of a check, an update or the window's life on the demo
// installation: it ends with 128 + the signal and "Interrotto" in its log, the installation
// exactly as before or exactly updated, and no journal left; a second signal during the rollback
// leaves the journal, which the next start ends.

namespace {

const QString JournalFile = QStringLiteral("Orvo/aggiornamento-in-corso.ini");
const QString LogFile = QStringLiteral("Orvo/orvanto.log");
const QString Untouched =
    QStringLiteral("Esito: aggiornamento interrotto, l'installazione non è stata modificata\n");
const QString RolledBack =
    QStringLiteral("Esito: aggiornamento interrotto, l'installazione è stata riportata com'era "
                   "prima dell'aggiornamento\n");
const QString Installed =
    QStringLiteral("Esito: aggiornamento interrotto, l'aggiornamento è stato installato\n");
const QString Unfinished =
    QStringLiteral("Esito: aggiornamento interrotto, l'aggiornamento non è terminato: il prossimo "
                   "avvio di Orvanto lo concluderà\n");

// Script 206 of the demo, after a busy loop of a few seconds.
const QByteArray SlowScript = "SET TERM ^ ;\n"
                              "EXECUTE BLOCK AS\n"
                              "DECLARE I INTEGER = 0;\n"
                              "BEGIN\n"
                              "  WHILE (I < 20000000) DO I = I + 1;\n"
                              "END^\n"
                              "SET TERM ; ^\n"
                              "ALTER TABLE CLIENTI ADD CITTA VARCHAR(60);\n"
                              "COMMIT;\n"
                              "UPDATE CLIENTI SET CITTA = 'Bologna';\n"
                              "COMMENT ON DATABASE IS '206';\n"
                              "COMMIT;\n";

// Each rename the updater makes waits a fifth of a second.
const QStringList SlowRenames = {
    "strace", "-qq",          "-o", "/dev/null",
    "-e",     "trace=rename", "-e", "inject=rename:delay_enter=400000"};
// Runs Orvanto, with its process id, as the leader of a process group of its own.
const QStringList OwnGroup = {"setsid"};

QString SignalName(int signal) {
    return QStringLiteral("SIG") + QString::fromLatin1(sigabbrev_np(signal));
}

// A signal sent once a file of the program folder holds a text.
struct Stop {
    QString File;
    QString Text;
    int Signal;
};

// The process the wrapper started: the one it is, or its child under strace.
pid_t Orvanto(QProcess& run, const QStringList& wrapper) {
    const auto id = static_cast<pid_t>(run.processId());
    if (wrapper.value(0) != "strace")
        return id;
    QFile children(QString("/proc/%1/task/%1/children").arg(id));
    QByteArray child;
    while (child.isEmpty() && !run.waitForFinished(20) && children.open(QIODevice::ReadOnly)) {
        child = children.readAll().trimmed();
        children.close();
    }
    return static_cast<pid_t>(child.toInt());
}

// Starts Orvanto through the wrapper and sends it each signal when its moment comes (with the
// OwnGroup wrapper to its whole process group, as a terminal's Ctrl-C does), then waits for its
// end.
DemoSite::Result StopWhen(const DemoSite& site, const QStringList& arguments,
                          const QList<Stop>& stops, const QStringList& wrapper = {}) {
    const std::unique_ptr<QProcess> run = site.Start(arguments, wrapper);
    const pid_t id = Orvanto(*run, wrapper);
    for (const Stop& stop : stops) {
        while (!QString::fromUtf8(site.Read(stop.File)).contains(stop.Text)) {
            if (run->waitForFinished(20)) {
                ADD_FAILURE() << "the run ended before " << stop.File.toStdString() << " held "
                              << stop.Text.toStdString();
                return DemoSite::Finish(*run);
            }
        }
        ::kill(wrapper == OwnGroup ? -id : id, stop.Signal);
    }
    return DemoSite::Finish(*run);
}

// Partial downloads and backup archives left in the work folder.
QString PartialFiles(const DemoSite& site) {
    QStringList partial;
    for (const QString folder : {"Orvo/Copiare", "Orvo/Backup"}) {
        for (const QString& name : QDir(site.ProgramFolder() + folder).entryList({"*.part"}))
            partial.append(folder + "/" + name);
    }
    return partial.join(", ");
}

// Every installed file that the release also holds has the release's content, velmora.ini names
// the release's version and the database is at the release's step.
void ExpectWhollyUpdated(const DemoSite& site) {
    const QDir release(site.ReleaseFolder());
    for (const QString& name : release.entryList(QDir::Files)) {
        QFile released(release.filePath(name));
        if (QFile::exists(site.ProgramFolder() + name) && released.open(QIODevice::ReadOnly)) {
            EXPECT_EQ(site.Read(name), released.readAll()) << name.toStdString();
        }
    }
    EXPECT_TRUE(site.Read("velmora.ini").contains("Versione=3.12.0"));
    EXPECT_EQ(TakeSnapshot(site).Schema, "206");
}

} // namespace

TEST(StopSignal, AStoppedRunEndsWith128PlusTheSignalAndTheInstallationWhole) {
    FileServer::Options trickling;
    // The 3 MB package takes a quarter of a minute.
    trickling.RateBytesPerSecond = 200000;
    FileServer::Options late;
    late.DelayMs = 3000;
    FileServer::Options slowly;
    slowly.DelayMs = 1000;
    const Stop download{LogFile, "Inizio: scaricamento", SIGTERM};
    const Stop script{JournalFile, "Script in corso=\"modifiche206.sql\"", SIGINT};
    // Three of the eleven Velmora files are in place.
    // The second of eleven replacements: nine more renames, slowed, leave time to stop.
    const Stop replacing{"BlokSites.dll", "Velmora 3.12.0", SIGTERM};
    enum class End { AsBefore, Updated, LeftForTheNextStart };
    const struct {
        const char* Case;
        QStringList Command;
        QList<Stop> Stops;
        QStringList Wrapper;
        // The update server that slows a step down, when not the demo's nginx.
        std::optional<FileServer::Options> Server;
        // Random bytes appended to Velmora.exe, which the backup then packs slowly.
        qint64 LargeExecutable;
        // Script 206 as published instead of the demo's.
        QByteArray Script;
        End Expected;
        // The log's outcome of the update; empty for the check.
        QString Outcome;
    } table[] = {
        {"the check, the server slow to answer",
         {"--check"},
         {{LogFile, "Inizio analisi ambiente", SIGINT}},
         {},
         late,
         0,
         {},
         End::AsBefore,
         {}},
        {"the download, the server trickling",
         {"--update"},
         {download},
         {},
         trickling,
         0,
         {},
         End::AsBefore,
         Untouched},
        {"the download, the terminal closed",
         {"--update"},
         {{LogFile, "Inizio: scaricamento", SIGHUP}},
         {},
         trickling,
         0,
         {},
         End::AsBefore,
         Untouched},
        {"the backup of a large installation",
         {"--update"},
         {{LogFile, "Inizio: copia di sicurezza", SIGTERM}},
         {},
         {},
         64 << 20,
         {},
         End::AsBefore,
         Untouched},
        {"a slow script", {"--update"}, {script}, {}, {}, 0, SlowScript, End::AsBefore, RolledBack},
        {"a slow script, Ctrl-C at the terminal",
         {"--update"},
         {script},
         OwnGroup,
         {},
         0,
         SlowScript,
         End::AsBefore,
         RolledBack},
        {"between two file replacements",
         {"--update"},
         {replacing},
         SlowRenames,
         {},
         0,
         {},
         End::AsBefore,
         RolledBack},
        {"once every file is applied, in the closing check",
         {"--update"},
         {{"velmora.ini", "Versione=3.12.0", SIGINT}},
         {},
         slowly,
         0,
         {},
         End::Updated,
         Installed},
        {"between two file replacements, then again during the rollback",
         {"--update"},
         {replacing, {LogFile, "Inizio: ripristino dalla copia di sicurezza", SIGTERM}},
         SlowRenames,
         {},
         0,
         {},
         End::LeftForTheNextStart,
         Unfinished},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Case);
        DemoSite site;
        std::unique_ptr<FileServer> server;
        if (row.Server) {
            server = std::make_unique<FileServer>(site.Folder() + "/site", *row.Server);
            site.ServeFrom(server->BaseUrl());
        }
        if (row.LargeExecutable > 0) {
            QByteArray large(row.LargeExecutable, '\0');
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(large.data()),
                                                  large.size() / 4);
            site.Write("Velmora.exe", site.Read("Velmora.exe") + large);
        }
        if (!row.Script.isEmpty())
            site.PublishScript(206, row.Script);
        const InstallationSnapshot before = TakeSnapshot(site);

        const DemoSite::Result stopped = StopWhen(site, row.Command, row.Stops, row.Wrapper);
        const int signal = row.Stops.first().Signal;
        EXPECT_EQ(stopped.ExitCode, 128 + signal) << stopped.Errors.toStdString();
        EXPECT_TRUE(stopped.Errors.contains("Interrotto (" + SignalName(signal) + ")"))
            << stopped.Errors.toStdString();
        const QString log = QString::fromUtf8(site.Read(LogFile));
        EXPECT_TRUE(log.contains("Interrotto (" + SignalName(signal) + ")")) << log.toStdString();
        EXPECT_TRUE(log.contains(QString("Fine, codice di uscita %1\n").arg(128 + signal)));
        EXPECT_TRUE(log.contains(row.Outcome)) << log.toStdString();
        EXPECT_EQ(PartialFiles(site).toStdString(), "");
        EXPECT_EQ(QFile::exists(site.ProgramFolder() + JournalFile),
                  row.Expected == End::LeftForTheNextStart);
        if (row.Expected == End::Updated) {
            ExpectWhollyUpdated(site);
        } else if (row.Expected == End::AsBefore) {
            EXPECT_EQ(TakeSnapshot(site), before);
        } else {
            const DemoSite::Result next = site.Run({"--check"});
            EXPECT_EQ(next.ExitCode, 3) << next.Errors.toStdString();
            EXPECT_TRUE(next.Errors.contains("L'ultimo aggiornamento non era terminato: "
                                             "l'installazione è stata riportata com'era prima "
                                             "dell'aggiornamento."))
                << next.Errors.toStdString();
            EXPECT_EQ(TakeSnapshot(site), before);
            EXPECT_FALSE(QFile::exists(site.ProgramFolder() + JournalFile));
        }
    }
}

TEST(StopSignal, TheWindowClosesOnSigterm) {
    FileServer::Options late;
    late.DelayMs = 3000;
    const struct {
        const char* Case;
        std::optional<FileServer::Options> Server;
        QString Moment;
    } table[] = {
        {"after the show-time check", {}, "Controllo: Velmora installato 3.11.0"},
        {"during the show-time check, the server slow to answer", late, "Inizio analisi ambiente"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Case);
        DemoSite site;
        site.Environment["QT_QPA_PLATFORM"] = "offscreen";
        std::unique_ptr<FileServer> server;
        if (row.Server) {
            server = std::make_unique<FileServer>(site.Folder() + "/site", *row.Server);
            site.ServeFrom(server->BaseUrl());
        }
        const DemoSite::Result closed = StopWhen(site, {}, {{LogFile, row.Moment, SIGTERM}});
        EXPECT_EQ(closed.ExitCode, 143) << closed.Errors.toStdString();
        const QString log = QString::fromUtf8(site.Read(LogFile));
        EXPECT_TRUE(log.contains("Interrotto (SIGTERM)\n")) << log.toStdString();
        EXPECT_TRUE(log.contains("Finestra chiusa\n")) << log.toStdString();
    }
}
