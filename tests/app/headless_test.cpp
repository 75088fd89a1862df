#include "catalogue/versionresource.h"
#include "environment/lowlevel.h"
#include "support/demosite.h"
#include "support/fileserver.h"
#include "support/firebirdfixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>

// The headless commands as a scheduled job runs them on the demo installation. Each run ends with
// the exit code that tells what became of it, with the reason that stopped it as the last thing on
// standard error and with its outcome at the end of the run log. The command line is read as a
// whole: options in any order, usage errors refused with 64 before anything else is done.

namespace {

const QStringList AsNobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
const char* const SchemaStep = "SELECT CAST(RDB$DESCRIPTION AS VARCHAR(20)) FROM RDB$DATABASE";
const QString AdministratorMessage =
    QStringLiteral("L'aggiornamento deve esser eseguito come amministratore");

// The entries of a run log without their time stamps; the lines of an entry are joined by '\n'.
QStringList LogEntries(const QByteArray& log) {
    QStringList entries;
    for (const QString& line : QString::fromUtf8(log).split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith("    ") && !entries.isEmpty())
            entries.last() += '\n' + line.mid(4);
        else
            entries.append(line.mid(QStringLiteral("yyyy-MM-dd HH:mm:ss ").size()));
    }
    return entries;
}

// Points the installation's settings at another update server.
void ServeFrom(const DemoSite& site, const QString& remoteUrl) {
    QByteArray settings = site.Read("velmora.ini");
    settings.replace(site.RemoteUrl().toUtf8(), remoteUrl.toUtf8());
    site.Write("velmora.ini", settings);
}

// Changes a line of the served catalogue after it was signed.
void TamperWithCatalogue(const DemoSite& site) {
    QFile catalogue(site.Folder() + "/site/velmora/update.ini");
    ASSERT_TRUE(catalogue.open(QIODevice::ReadWrite));
    QByteArray text = catalogue.readAll();
    ASSERT_TRUE(text.contains("Velmora=3.12.0"));
    text.replace("Velmora=3.12.0", "Velmora=3.12.9");
    ASSERT_TRUE(catalogue.seek(0) && catalogue.write(text) == text.size());
}

// Puts the newer Orvanto (it tells 1.7.2) into the release and announces it.
void PublishNewUpdater(const DemoSite& site) {
    QFile::remove(site.ReleaseFolder() + "Orvanto");
    ASSERT_TRUE(QFile::copy(ORVANTO_NEXT_EXECUTABLE, site.ReleaseFolder() + "Orvanto"));
    site.Republish({"Orvanto=1.7.2"});
}

// What a run may leave of the installation: every component updated, or all as before.
enum class Installation { AsBefore, Updated };

void ExpectInstallation(const DemoSite& site, Installation expected) {
    const bool updated = expected == Installation::Updated;
    EXPECT_TRUE(site.Read("Velmora.exe").startsWith(updated ? "Velmora 3.12.0" : "Velmora 3.11.0"));
    EXPECT_EQ(QueryValue(site.DatabaseFile(), SchemaStep), QString(updated ? "206" : "205"));
    if (updated) {
        EXPECT_EQ(ReadVersionString(site.ProgramFolder() + "7za.exe", "FileVersion"),
                  QString("26.0.0.0"));
    }
    EXPECT_FALSE(QFile::exists(site.ProgramFolder() + "Orvo/aggiornamento-in-corso.ini"));
}

// Runs the program with a display (the offscreen platform); a window that opened is closed after
// the time limit and the exit code is then -1.
DemoSite::Result RunWithDisplay(const DemoSite& site, const QStringList& arguments,
                                int milliseconds) {
    QProcessEnvironment environment = site.RunEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(site.ProgramFolder() + "Orvanto", arguments);
    DemoSite::Result result;
    if (!process.waitForFinished(milliseconds)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.ExitCode = process.exitCode();
    }
    result.Output = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.Errors = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

// Holds the installation's lock, as a running Orvanto does, while the object lives.
class InstallationLock {
public:
    explicit InstallationLock(const DemoSite& site) {
        const QString path = site.ProgramFolder() + "Orvo/installazione.lock";
        Holder.start("flock", {"-o", path, "cat"});
        for (int i = 0; i < 200 && QProcess::execute("flock", {"-n", path, "true"}) == 0; ++i)
            QThread::msleep(25);
    }
    ~InstallationLock() {
        Holder.kill();
        Holder.waitForFinished();
    }
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;

private:
    QProcess Holder;
};

} // namespace

// One row per way a scheduled run can end. `Errors` is what standard error must end with (a
// regular expression; empty: nothing on standard error at all); `Outcome` is how the last "Esito"
// entry of the run log begins, before the exit code ends the log (empty: a run that may not write
// the log leaves it as it was).
TEST(HeadlessRuns, EachEndsWithItsCodeWithItsReasonLastAndWithItsOutcomeInTheLog) {
    struct Row {
        const char* Case;
        std::function<void(DemoSite&)> Arrange;
        QStringList Arguments;
        bool Unprivileged;
        int ExitCode;
        QString Errors;
        QString Outcome;
        Installation Left;
    };
    const QString failed = QStringLiteral("Esito: aggiornamento non riuscito");
    const QString updated = QStringLiteral("Esito: aggiornamento riuscito");
    const QString rightsReason = "(^|\n)" + AdministratorMessage +
                                 "\nFile di lavoro [^\n]*/Orvo/Copiare/update.ini: Permission "
                                 "denied\n$";
    const Row rows[] = {
        {"no write rights, update",
         [](DemoSite&) {},
         {"--update", "--quiet"},
         true,
         4,
         rightsReason,
         "",
         Installation::AsBefore},
        {"no write rights, check",
         [](DemoSite&) {},
         {"--check"},
         true,
         4,
         rightsReason,
         "",
         Installation::AsBefore},
        {"no write rights but to the run log",
         [](DemoSite& site) {
             site.Write("Orvo/orvanto.log", "");
             ASSERT_EQ(
                 site.Shell("chown 65534:65534 '" + site.ProgramFolder() + "Orvo/orvanto.log'")
                     .ExitCode,
                 0);
         },
         {"--update", "--quiet"},
         true,
         4,
         rightsReason,
         failed,
         Installation::AsBefore},
        {"a catalogue changed after it was signed",
         [](DemoSite& site) { TamperWithCatalogue(site); },
         {"--update", "--quiet"},
         false,
         4,
         "^Errore: Il catalogo degli aggiornamenti non porta una firma valida del produttore "
         "[^\n]*\n$",
         failed,
         Installation::AsBefore},
        {"the server down",
         [](DemoSite& site) { ServeFrom(site, "http://127.0.0.1:9/velmora/"); },
         {"--update", "--quiet"},
         false,
         4,
         "^Errore: Richiesta HTTP http://127.0.0.1:9/velmora/update.ini: [^\n]+\n$",
         failed,
         Installation::AsBefore},
        {"a package missing on the server",
         [](DemoSite& site) {
             ASSERT_TRUE(QFile::remove(site.Folder() + "/site/velmora/BlokCore.dll.7z"));
         },
         {"--update", "--quiet"},
         false,
         4,
         "(^|\n)Impossibile scaricare aggiornamenti\nRichiesta HTTP "
         "http://127.0.0.1:[0-9]+/velmora/"
         "BlokCore.dll.7z: risposta HTTP 404\n$",
         failed,
         Installation::AsBefore},
        {"a script that fails",
         [](DemoSite& site) { site.PublishFailingScript(); },
         {"--update", "--quiet"},
         false,
         4,
         "(^|\n)Impossibile applicare gli aggiornamenti\nScript modifiche206.sql: isql-fb "
         "terminato con codice 1: [^\n]*NON_ESISTE[^\n]*\n$",
         failed,
         Installation::AsBefore},
        {"success",
         [](DemoSite&) {},
         {"--update", "--quiet"},
         false,
         0,
         "",
         updated,
         Installation::Updated},
        {"success with a self-update",
         [](DemoSite& site) { PublishNewUpdater(site); },
         {"--update", "--quiet"},
         false,
         0,
         "",
         updated,
         Installation::Updated},
        {"success with a self-update, everything shown",
         [](DemoSite& site) { PublishNewUpdater(site); },
         {"--show-all", "--update", "--quiet"},
         false,
         0,
         "",
         updated,
         Installation::Updated},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Case);
        DemoSite site;
        row.Arrange(site);
        if (::testing::Test::HasFatalFailure())
            return;
        const QByteArray logBefore = site.Read("Orvo/orvanto.log");
        const DemoSite::Result run =
            site.Run(row.Arguments, row.Unprivileged ? AsNobody : QStringList());
        EXPECT_EQ(run.ExitCode, row.ExitCode) << run.Errors.toStdString();
        if (row.Errors.isEmpty()) {
            EXPECT_EQ(run.Errors.toStdString(), "");
        } else {
            EXPECT_TRUE(run.Errors.contains(QRegularExpression(row.Errors)))
                << "standard error:\n"
                << run.Errors.toStdString();
        }
        if (row.Arguments.contains("--quiet") && row.ExitCode == 0) {
            EXPECT_EQ(run.Output.toStdString(), "") << "--quiet prints nothing on success";
        }

        const QByteArray log = site.Read("Orvo/orvanto.log");
        if (row.Outcome.isEmpty()) {
            EXPECT_EQ(log, logBefore) << "a run without write rights leaves the log";
        } else {
            QStringList entries = LogEntries(log);
            EXPECT_EQ(entries.value(entries.size() - 1),
                      QStringLiteral("Fine, codice di uscita %1").arg(row.ExitCode))
                << log.toStdString();
            entries.removeIf([](const QString& entry) { return !entry.startsWith("Esito: "); });
            EXPECT_TRUE(entries.value(entries.size() - 1).startsWith(row.Outcome))
                << log.toStdString();
        }
        ExpectInstallation(site, row.Left);
    }
}

// A check over a slow link tells what it found, and what stopped it, in the same words and order
// whatever cannot be reached: the database, the update server or both. The catalogue travels while
// the installation is examined, which must not change what the person and the run log are told.
TEST(HeadlessRuns, ACheckTellsTheSameInTheSameOrderWhateverCannotBeReached) {
    // Standard output and the run log begin with the analysis; what follows it, by case.
    const QString analysis = "Inizio analisi ambiente\n"
                             "Percorso applicazione <demo>/Velmora/\n"
                             "Analisi file databases.conf\n"
                             "  Parsing 'VELMORA = <demo>/Velmora/velmora.fdb'\n"
                             "  DB individuato (<demo>/Velmora/velmora.fdb)\n"
                             "Identificazione cartella Firebird\n"
                             "  Individuata (<firebird>)\n"
                             "Identificazione tipo installazione\n"
                             "  Embedded\n"
                             "Identificazione comando ISQL\n"
                             "  Disponibile (/usr/bin/isql-fb)\n"
                             "Catalogo firmato, chiave <key>\n";
    const QString noDatabase =
        "Errore: I/O error during \"open\" operation for file \"<demo>/Velmora/velmora.fdb\"\n"
        "-Error while trying to open file\n"
        "-No such file or directory\n";
    const QString noServer = "Errore: Richiesta HTTP http://127.0.0.1:9/velmora/update.ini: Failed "
                             "to connect to 127.0.0.1 port 9 after <n> ms: Couldn't connect to "
                             "server\n";
    struct Row {
        const char* Case;
        bool DatabaseReachable;
        bool ServerReachable;
        int ExitCode;
        QString Output;
        QString Errors;
        QString Log;
    };
    const Row rows[] = {
        {"everything reachable", true, true, 3,
         "Velmora\t3.11.0\t3.12.0\t2930\t1\n"
         "7za\t16.2.0.0\t26.0.0.0\t0\t1\n"
         "Schema database\t205\t206\t0\t1\n",
         "",
         "Controllo: Velmora installato 3.11.0, disponibile 3.12.0, 2930 KB, proposto\n"
         "Controllo: 7za installato 16.2.0.0, disponibile 26.0.0.0, 0 KB, proposto\n"
         "Controllo: Schema database installato 205, disponibile 206, 0 KB, proposto\n"},
        {"the database unreachable", false, true, 4, "", noDatabase, noDatabase},
        {"the update server unreachable", true, false, 4, "", noServer, noServer},
        {"both unreachable", false, false, 4, "", noServer, noServer},
    };
    DemoSite site;
    const FileServer slow(site.Folder() + "/site", {200});
    const QString database = site.DatabaseFile();
    const QByteArray settings = site.Read("velmora.ini");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Case);
        ServeFrom(site, row.ServerReachable ? slow.BaseUrl() + "velmora/"
                                            : QStringLiteral("http://127.0.0.1:9/velmora/"));
        if (!row.DatabaseReachable) {
            ASSERT_TRUE(QFile::rename(database, database + ".away"));
        }
        const qsizetype logged = LogEntries(site.Read("Orvo/orvanto.log")).size();
        const DemoSite::Result run = site.Run({"--check"});
        if (!row.DatabaseReachable) {
            ASSERT_TRUE(QFile::rename(database + ".away", database));
        }
        site.Write("velmora.ini", settings);

        const QString told =
            QStringLiteral("exit code %1\n--- output\n%2--- errors\n%3--- log\n%4\n")
                .arg(run.ExitCode)
                .arg(run.Output, run.Errors,
                     LogEntries(site.Read("Orvo/orvanto.log")).mid(logged).join('\n'))
                .replace(site.Folder(), "<demo>")
                .replace(GetFirebirdFolder(), "<firebird>")
                .replace(QRegularExpression("chiave [0-9A-F]{16}\n"), "chiave <key>\n")
                .replace(QRegularExpression("after \\d+ ms"), "after <n> ms");
        const QString expected =
            QStringLiteral(
                "exit code %1\n--- output\n%2%3--- errors\n%4--- log\n"
                "Avvio di Orvanto 1.7.1, riga di comando: <demo>/Velmora/Orvanto --check\n"
                "%2%5Fine, codice di uscita %1\n")
                .arg(row.ExitCode)
                .arg(analysis, row.Output, row.Errors, row.Log);
        EXPECT_EQ(told.toStdString(), expected.toStdString());
    }
}

// The check that follows a successful update asks only whether the catalogue changed: the server
// answers "not modified" and the bytes verified at the start are read again, under a signature
// fetched anew.
TEST(HeadlessRuns, TheCheckAfterAnUpdateFetchesTheCatalogueOnlyWhenItChanged) {
    DemoSite site;
    const FileServer server(site.Folder() + "/site", {});
    ServeFrom(site, server.BaseUrl() + "velmora/");
    const DemoSite::Result run = site.Run({"--update", "--quiet"});
    EXPECT_EQ(run.ExitCode, 0) << run.Errors.toStdString();
    ExpectInstallation(site, Installation::Updated);
    QStringList catalogue = server.Requests();
    catalogue.removeIf([](const QString& request) { return !request.contains("/update.ini"); });
    catalogue.sort();
    EXPECT_EQ(catalogue.join('\n').toStdString(), "GET /velmora/update.ini - 200\n"
                                                  "GET /velmora/update.ini - 304\n"
                                                  "GET /velmora/update.ini.minisig - 200\n"
                                                  "GET /velmora/update.ini.minisig - 200");
}

// The run log of a failed update: the check that runs again after the failure is marked as such,
// and the message and outcome of the failure come after it on standard error and in the log.
TEST(HeadlessRuns, TheFailureThatStoppedTheUpdateIsSaidLast) {
    DemoSite site;
    ASSERT_TRUE(QFile::remove(site.Folder() + "/site/velmora/BlokCore.dll.7z"));
    const DemoSite::Result run = site.Run({"--update"});
    EXPECT_EQ(run.ExitCode, 4);
    const QStringList errors = run.Errors.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(errors.size(), 2) << run.Errors.toStdString();
    EXPECT_EQ(errors[errors.size() - 2], "Impossibile scaricare aggiornamenti")
        << run.Errors.toStdString();
    EXPECT_EQ(errors.count("Impossibile scaricare aggiornamenti"), 1);

    const QStringList entries = LogEntries(site.Read("Orvo/orvanto.log"));
    const qsizetype failure = entries.indexOf("Messaggio: Impossibile scaricare aggiornamenti");
    const qsizetype recheck = entries.indexOf("Controllo dopo l'aggiornamento non riuscito");
    ASSERT_GE(failure, 0) << entries.join('\n').toStdString();
    EXPECT_GT(recheck, failure) << entries.join('\n').toStdString();
    EXPECT_EQ(entries.mid(entries.size() - 2),
              QStringList({"Esito: aggiornamento non riuscito", "Fine, codice di uscita 4"}));
}

// The new executable that a self-update starts goes on with the same command and options.
TEST(HeadlessRuns, ASelfUpdateGoesOnWithTheSameCommand) {
    DemoSite site;
    PublishNewUpdater(site);
    const DemoSite::Result check = site.Run({"--check"});
    EXPECT_EQ(check.ExitCode, 3);
    EXPECT_TRUE(check.Output.contains("Orvanto\t1.7.1\t1.7.2\t")) << check.Output.toStdString();
    EXPECT_FALSE(check.Output.contains("Velmora\t")) << "the updater comes first, alone";

    const DemoSite::Result update = site.Run({"--quiet", "--update"});
    EXPECT_EQ(update.ExitCode, 0) << update.Errors.toStdString();
    EXPECT_EQ((update.Output + update.Errors).toStdString(), "");
    ExpectInstallation(site, Installation::Updated);
    EXPECT_EQ(site.Run({"--version"}).Output, "1.7.2\n");
    const QStringList entries = LogEntries(site.Read("Orvo/orvanto.log"));
    const qsizetype restart =
        entries.indexOf("Esito: aggiornamento riuscito, si avvia Orvanto 1.7.2");
    ASSERT_GE(restart, 0) << entries.join('\n').toStdString();
    EXPECT_EQ(entries.value(restart + 1),
              "Avvio di Orvanto 1.7.2, riga di comando: Orvanto --quiet --update");
    EXPECT_EQ(site.Run({"--check"}).ExitCode, 0) << "nothing left to update";
}

// The parser's answers that need no installation, no guard and no log: given beside a running
// Orvanto (its lock held), with the settings file gone.
TEST(CommandLine, HelpVersionAndUsageErrorsAnswerAtOnce) {
    struct Row {
        const char* Case;
        QStringList Arguments;
        int ExitCode;
        QString Output;
        QString Errors;
    };
    const QString usage = QStringLiteral("^Orvanto: %1\nOrvanto --help elenca i comandi.\n$");
    const Row rows[] = {
        {"--help", {"--help"}, 0, "^Uso: Orvanto ", "^$"},
        {"-h", {"-h"}, 0, "^Uso: Orvanto ", "^$"},
        {"--version", {"--version"}, 0, "^1\\.7\\.1\n$", "^$"},
        {"--fileversion FILE", {"--fileversion", "@/7za.exe"}, 0, "^16\\.2\\.0\\.0\n$", "^$"},
        {"an unknown option",
         {"--check", "--bogus"},
         64,
         "^$",
         usage.arg("opzione sconosciuta: --bogus")},
        {"a misspelt command", {"--chek"}, 64, "^$", usage.arg("opzione sconosciuta: --chek")},
        {"an unknown short option",
         {"-x", "--update"},
         64,
         "^$",
         usage.arg("opzione sconosciuta: -x")},
        {"two commands",
         {"--check", "--update"},
         64,
         "^$",
         usage.arg("un comando alla volta: --check, --update")},
        {"--restore without a name",
         {"--restore"},
         64,
         "^$",
         usage.arg("--restore vuole il nome dell'archivio")},
        {"--restore followed by an option",
         {"--restore", "--yes"},
         64,
         "^$",
         usage.arg("--restore vuole il nome dell'archivio")},
        {"a bare --fileversion",
         {"--fileversion"},
         64,
         "^$",
         usage.arg("--fileversion vuole il percorso del file")},
        {"an option without its command",
         {"--quiet"},
         64,
         "^$",
         usage.arg("--quiet vale solo con un comando")},
        {"--yes without --restore",
         {"--yes", "--check"},
         64,
         "^$",
         usage.arg("--yes vale solo con --restore")},
        {"a stray argument",
         {"--check", "tutto"},
         64,
         "^$",
         usage.arg("argomento inatteso: tutto")},
        {"a value given to a switch",
         {"--check=1"},
         64,
         "^$",
         usage.arg("--check non vuole un valore")},
    };
    DemoSite site;
    const QByteArray settings = site.Read("velmora.ini");
    ASSERT_TRUE(QFile::remove(site.ProgramFolder() + "velmora.ini"));
    const QByteArray log = site.Read("Orvo/orvanto.log");
    {
        const InstallationLock lock(site);
        EXPECT_EQ(site.Run({"--check"}).ExitCode, 1) << "the lock is held";
        for (const Row& row : rows) {
            SCOPED_TRACE(row.Case);
            QStringList arguments = row.Arguments;
            arguments.replaceInStrings("@/", site.ProgramFolder());
            const DemoSite::Result run = site.Run(arguments);
            EXPECT_EQ(run.ExitCode, row.ExitCode) << run.Errors.toStdString();
            EXPECT_TRUE(run.Output.contains(QRegularExpression(row.Output)))
                << run.Output.toStdString();
            EXPECT_TRUE(run.Errors.contains(QRegularExpression(row.Errors)))
                << run.Errors.toStdString();
        }
    }
    EXPECT_EQ(site.Read("Orvo/orvanto.log"), log) << "nothing logged";

    // Without a command and without a display there is no window to open (the environment of the
    // runs has no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM).
    const DemoSite::Result bare = site.Run({});
    EXPECT_EQ(bare.ExitCode, 2);
    EXPECT_EQ(bare.Errors.toStdString(), "Orvanto: nessuno schermo disponibile per la finestra.\n"
                                         "Senza finestra: Orvanto --help elenca i comandi.\n");
    site.Write("velmora.ini", settings);
}

// Commands with their options in any order, with and without a display: a headless command never
// opens the window.
TEST(CommandLine, OptionsInAnyOrderRunTheirCommandWithoutTheWindow) {
    DemoSite site;
    const struct {
        const char* Case;
        QStringList Arguments;
        int ExitCode;
        QString Output;
    } checks[] = {
        {"--check --show-all", {"--check", "--show-all"}, 3, "\nMappe\t1.0.2210.55\t1.0.2210.55\t"},
        {"--show-all --check", {"--show-all", "--check"}, 3, "\nMappe\t1.0.2210.55\t1.0.2210.55\t"},
        {"--quiet --check", {"--quiet", "--check"}, 3, "^Velmora\t3.11.0\t3.12.0\t"},
        {"--check with the old verbose switch", {"--check", "/v"}, 3, "^Inizio analisi ambiente\n"},
    };
    for (const auto& row : checks) {
        SCOPED_TRACE(row.Case);
        const DemoSite::Result run = site.Run(row.Arguments);
        EXPECT_EQ(run.ExitCode, row.ExitCode) << run.Errors.toStdString();
        EXPECT_TRUE(run.Output.contains(QRegularExpression(row.Output)))
            << run.Output.toStdString();
        const DemoSite::Result shown = RunWithDisplay(site, row.Arguments, 120000);
        EXPECT_EQ(shown.ExitCode, row.ExitCode) << "with a display: " << shown.Errors.toStdString();
    }
    const DemoSite::Result list = RunWithDisplay(site, {"--list-backups", "--quiet"}, 120000);
    EXPECT_EQ(list.ExitCode, 0) << list.Errors.toStdString();

    const DemoSite::Result update = RunWithDisplay(site, {"--quiet", "--update"}, 120000);
    EXPECT_EQ(update.ExitCode, 0) << update.Errors.toStdString();
    EXPECT_EQ((update.Output + update.Errors).toStdString(), "");
    ExpectInstallation(site, Installation::Updated);

    const QString archive = site.Run({"--list-backups"}).Output.section('\t', 0, 0);
    ASSERT_TRUE(archive.endsWith(".7z"));
    const DemoSite::Result restore = site.Run({"--yes", "--restore", archive});
    EXPECT_EQ(restore.ExitCode, 0) << restore.Errors.toStdString();
    EXPECT_TRUE(site.Read("Velmora.exe").startsWith("Velmora 3.11.0"));
    const DemoSite::Result named = site.Run({"--restore=" + archive});
    EXPECT_EQ(named.ExitCode, 5) << "not confirmed: " << named.Errors.toStdString();
}
