#include "environment/databaseconnection.h"
#include "support/demosite.h"
#include "support/firebirdfixture.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>

// A firm's installation: a Firebird server shares one database, at schema step 205, with every
// workstation; each workstation is a demo installation whose velmora.ini names the server and the
// database's path on it, without a database or an alias file of its own.
namespace {

class FirebirdServerClientServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ServerFolder.isValid());
        Database = ServerFolder.filePath("velmora.fdb");
        CreateDatabase(Remote(), QString("205"));
        RunIsql(Remote(), "CREATE TABLE PREZZI (ID INTEGER NOT NULL PRIMARY KEY, PREZZO INTEGER);\n"
                          "INSERT INTO PREZZI VALUES (1, 100);\nCOMMIT;\n");
    }

    QString Remote() const { return FirebirdServer::RemoteName(Database); }
    QString Query(const QString& select) const { return QueryValue(Remote(), select); }
    QString Step() const {
        return Query("SELECT CAST(RDB$DESCRIPTION AS VARCHAR(40)) FROM RDB$DATABASE");
    }

    // Turns a demo installation into a workstation of this server that takes its updates from
    // `site` (its own, or another workstation's) and waits `lockWait` seconds for locks.
    void MakeWorkstation(DemoSite& workstation, const DemoSite& site, int lockWait = 60) const {
        QFile::remove(workstation.ProgramFolder() + "databases.conf");
        QFile::remove(workstation.DatabaseFile());
        const QString key = QString::fromUtf8(site.Read("velmora.ini"))
                                .section("Chiave pubblica=", 1)
                                .section("\r\n", 0, 0);
        workstation.Write("velmora.ini",
                          ("[PRINCIPALE]\r\nDatabase server=localhost\r\n"
                           "Database=" +
                           Database + "\r\nVersione=3.11.0\r\n[ORVANTO]\r\nRemote url=" +
                           site.RemoteUrl() + "\r\nChiave pubblica=" + key +
                           "\r\nAttesa blocchi=" + QString::number(lockWait) + "\r\n")
                              .toUtf8());
    }

    // The server's backups of the shared database.
    QStringList ServerBackups() const {
        return QDir(ServerFolder.path()).entryList({"velmora_*.fbk"}, QDir::Files);
    }

    QTemporaryDir ServerFolder;
    FirebirdServer Server;
    QString Database;
};

// The README's commands that restore the server's backup.
QStringList ReadmeRestoreCommands() {
    QFile readme(QStringLiteral(ORVANTO_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    QStringList commands;
    for (const QString& line : QString::fromUtf8(readme.readAll()).split('\n')) {
        if (line.startsWith("    gfix -shut ") || line.startsWith("    gbak -rep "))
            commands.append(line.trimmed());
    }
    return commands;
}

// Starts a workstation's unattended update without waiting for it.
std::unique_ptr<QProcess> StartUpdate(const DemoSite& workstation) {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(workstation.RunEnvironment());
    process->start(workstation.ProgramFolder() + "Orvanto", {"--update", "--quiet"});
    return process;
}

} // namespace

TEST_F(FirebirdServerClientServer, AWorkstationWithoutALocalAliasUpdatesTheSchemaThroughTheServer) {
    DemoSite workstation;
    workstation.PublishScript(
        206, "CREATE TABLE VIA (PROTOCOLLO VARCHAR(20));\nCOMMIT;\n"
             "INSERT INTO VIA SELECT COALESCE(MON$REMOTE_PROTOCOL, 'embedded') FROM "
             "MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = CURRENT_CONNECTION;\n"
             "COMMENT ON DATABASE IS '206';\nCOMMIT;\n");
    MakeWorkstation(workstation, workstation);
    // Another user works on the database all along.
    FirebirdConnection user;
    user.SetDatabase(Remote());
    ASSERT_EQ(user.QueryText("SELECT PREZZO FROM PREZZI", "PREZZO"), QString("100"));

    const DemoSite::Result result = workstation.Run({"--update", "--quiet"});

    EXPECT_EQ(result.ExitCode, 0) << result.Errors.toStdString();
    EXPECT_EQ(Step(), "206");
    EXPECT_TRUE(Query("SELECT PROTOCOLLO FROM VIA").startsWith("TCP"))
        << "isql opened the database file itself instead of going through the server";
    EXPECT_EQ(user.QueryText("SELECT PREZZO FROM PREZZI", "PREZZO"), QString("100"));
    EXPECT_TRUE(workstation.Read("Velmora.exe").startsWith("Velmora 3.12.0"));
    const QStringList backups = ServerBackups();
    ASSERT_EQ(backups.size(), 1) << "the server backs the database up before the script";
    EXPECT_GT(QFileInfo(ServerFolder.filePath(backups[0])).size(), 0);
    EXPECT_TRUE(
        workstation.Read("Orvo/orvanto.log").contains(ServerFolder.filePath(backups[0]).toUtf8()));
    user.Close();
}

TEST_F(FirebirdServerClientServer, TwoWorkstationsUpdatingTogetherRunEachStepOnce) {
    // Each script raises the price by one; the step is filled in.
    const struct {
        const char* Name;
        QByteArray Script;
    } scripts[] = {
        {"data, commit, then the schema",
         "UPDATE PREZZI SET PREZZO = PREZZO + 1;\nCOMMIT;\n"
         "ALTER TABLE PREZZI ADD COLONNA_%1 INTEGER;\nCOMMENT ON DATABASE IS '%1';\nCOMMIT;\n"},
        {"data only", "UPDATE PREZZI SET PREZZO = PREZZO + 1;\nCOMMENT ON DATABASE IS '%1';\n"
                      "COMMIT;\n"},
        {"slow", "UPDATE PREZZI SET PREZZO = PREZZO + 1;\nSET TERM ^ ;\n"
                 "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 3000000) DO "
                 "I = I + 1; END^\nSET TERM ; ^\nCOMMENT ON DATABASE IS '%1';\nCOMMIT;\n"},
    };
    const int rounds = 2;
    DemoSite first;
    DemoSite second;
    MakeWorkstation(first, first);
    MakeWorkstation(second, first);
    long long step = 205;
    int price = 100;
    int minor = 11;
    for (const auto& row : scripts) {
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(std::string(row.Name) + ", round " + std::to_string(round));
            ++step;
            ++minor;
            const QString velmora = "3." + QString::number(minor) + ".0";
            first.PublishScript(step, QString::fromUtf8(row.Script).arg(step).toUtf8(),
                                {"Velmora=" + velmora});

            const auto one = StartUpdate(first);
            const auto other = StartUpdate(second);
            ASSERT_TRUE(one->waitForFinished(240000));
            ASSERT_TRUE(other->waitForFinished(240000));

            EXPECT_EQ(one->exitCode(), 0) << one->readAllStandardError().toStdString();
            EXPECT_EQ(other->exitCode(), 0) << other->readAllStandardError().toStdString();
            ++price;
            EXPECT_EQ(Query("SELECT PREZZO FROM PREZZI"), QString::number(price))
                << "the data change ran more than once";
            EXPECT_EQ(Step(), QString::number(step));
            for (const DemoSite* workstation : {&first, &second})
                EXPECT_TRUE(
                    workstation->Read("velmora.ini").contains(("Versione=" + velmora).toUtf8()));
        }
    }
    // Started together, the two meet at the lock; the one that finds the work done says whose.
    const QByteArray logs = first.Read("Orvo/orvanto.log") + second.Read("Orvo/orvanto.log");
    EXPECT_GE(logs.count("già applicati da un'altra postazione"), 1) << logs.toStdString();
    EXPECT_TRUE(logs.contains("ultimo aggiornamento: " + QSysInfo::machineHostName().toUtf8()))
        << logs.toStdString();
}

TEST_F(FirebirdServerClientServer, AScriptBlockedByAnotherUserEndsAfterTheConfiguredWait) {
    DemoSite workstation;
    workstation.PublishScript(206, "UPDATE PREZZI SET PREZZO = PREZZO + 1;\n"
                                   "COMMENT ON DATABASE IS '206';\nCOMMIT;\n");
    MakeWorkstation(workstation, workstation, 2);
    // A user changed the price and went to lunch without saving.
    QProcess user;
    user.start(IsqlProgram, {"-q", "-user", DatabaseUser, "-password", DatabasePassword, Remote()});
    ASSERT_TRUE(user.waitForStarted());
    user.write("UPDATE PREZZI SET PREZZO = 0 WHERE ID = 1;\nSELECT 'changed' FROM RDB$DATABASE;\n");
    ASSERT_TRUE(user.waitForReadyRead(30000));

    const DemoSite::Result result = workstation.Run({"--update", "--quiet"});

    EXPECT_NE(result.ExitCode, 0);
    EXPECT_TRUE(result.Errors.contains("Il database era occupato da: utente SYSDBA, indirizzo "))
        << result.Errors.toStdString();
    EXPECT_TRUE(result.Errors.contains("programma " + IsqlProgram)) << result.Errors.toStdString();
    EXPECT_TRUE(result.Errors.contains("il database non è stato modificato da questo script"))
        << result.Errors.toStdString();
    EXPECT_TRUE(workstation.Read("Velmora.exe").startsWith("Velmora 3.11.0"));
    user.write("ROLLBACK;\n");
    user.closeWriteChannel();
    user.waitForFinished();
    EXPECT_EQ(Query("SELECT PREZZO FROM PREZZI"), "100");
    EXPECT_EQ(Step(), "205");
}

TEST_F(FirebirdServerClientServer, AFailingScriptTellsWhatBecameOfTheSharedDatabase) {
    const struct {
        const char* Name;
        QByteArray Script;
        const char* Told;
        const char* TableAfter;
    } cases[] = {
        {"no COMMIT before the failure",
         "CREATE TABLE NUOVA (A INTEGER);\nINSERT INTO NON_ESISTE VALUES (1);\n"
         "COMMENT ON DATABASE IS '206';\nCOMMIT;\n",
         "il database non è stato modificato da questo script", "0"},
        {"a COMMIT before the failure",
         "CREATE TABLE NUOVA (A INTEGER);\nCOMMIT;\n-- COMMIT in a comment is no COMMIT\n"
         "INSERT INTO NON_ESISTE VALUES (1);\nCOMMENT ON DATABASE IS '206';\nCOMMIT;\n",
         "il database può contenere una parte del passo 206", "1"},
    };
    DemoSite workstation;
    MakeWorkstation(workstation, workstation);
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Name);
        if (Query("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'NUOVA'") == "1")
            RunIsql(Remote(), "DROP TABLE NUOVA;\nCOMMIT;\n");
        workstation.PublishScript(206, row.Script);
        for (const QString& backup : ServerBackups())
            QFile::remove(ServerFolder.filePath(backup));

        const DemoSite::Result result = workstation.Run({"--update", "--quiet"});

        EXPECT_NE(result.ExitCode, 0);
        EXPECT_TRUE(result.Errors.contains(row.Told)) << result.Errors.toStdString();
        EXPECT_TRUE(result.Errors.contains("modifiche206.sql (passo 206)"))
            << result.Errors.toStdString();
        const QStringList backups = ServerBackups();
        ASSERT_EQ(backups.size(), 1);
        EXPECT_TRUE(result.Errors.contains(ServerFolder.filePath(backups[0])))
            << result.Errors.toStdString();
        EXPECT_EQ(Query("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'NUOVA'"),
                  row.TableAfter);
        EXPECT_EQ(Step(), "205");
        EXPECT_TRUE(workstation.Read("Velmora.exe").startsWith("Velmora 3.11.0"));

        // The administrator restores the server's backup as the README says.
        ASSERT_EQ(ReadmeRestoreCommands().size(), 2);
        for (const QString& command : ReadmeRestoreCommands()) {
            const DemoSite::Result restored = workstation.Shell(
                QString(command)
                    .replace("PASSWORD", DatabasePassword)
                    .replace("localhost:VELMORA", Remote())
                    .replace(QRegularExpression("/var/lib/firebird/data/velmora_\\S+\\.fbk"),
                             ServerFolder.filePath(backups[0])));
            ASSERT_EQ(restored.ExitCode, 0)
                << command.toStdString() << ": " << restored.Errors.toStdString();
        }
        EXPECT_EQ(Query("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'NUOVA'"),
                  "0");
        EXPECT_EQ(Step(), "205");
    }
}

TEST_F(FirebirdServerClientServer,
       AWorkstationKilledDuringAScriptFreesTheLockAndIsToldOfTheBackup) {
    DemoSite killed;
    DemoSite other;
    killed.PublishScript(206, "UPDATE PREZZI SET PREZZO = PREZZO + 1;\n"
                              "COMMENT ON DATABASE IS '206';\nCOMMIT;\n");
    MakeWorkstation(killed, killed);
    MakeWorkstation(other, killed);
    // A user's unsaved change holds the script until the workstation is killed.
    QProcess user;
    user.start(IsqlProgram, {"-q", "-user", DatabaseUser, "-password", DatabasePassword, Remote()});
    ASSERT_TRUE(user.waitForStarted());
    user.write("UPDATE PREZZI SET PREZZO = 0 WHERE ID = 1;\nSELECT 'changed' FROM RDB$DATABASE;\n");
    ASSERT_TRUE(user.waitForReadyRead(30000));
    const auto running = StartUpdate(killed);
    const QDeadlineTimer deadline(120000);
    while (
        !killed.Read("Orvo/aggiornamento-in-corso.ini").contains("Script in corso=\"modifiche206"))
        ASSERT_FALSE(running->waitForFinished(100) || deadline.hasExpired()) << "no script ran";
    ::kill(pid_t(running->processId()), SIGKILL);
    running->waitForFinished();
    user.write("ROLLBACK;\n");
    user.closeWriteChannel();
    user.waitForFinished();

    // The server ended the killed workstation's connections: the other one takes the lock.
    const DemoSite::Result updated = other.Run({"--update", "--quiet"});
    EXPECT_EQ(updated.ExitCode, 0) << updated.Errors.toStdString();
    EXPECT_EQ(Query("SELECT PREZZO FROM PREZZI"), "101");
    EXPECT_EQ(Step(), "206");

    const DemoSite::Result restarted = killed.Run({"--update", "--quiet"});
    const QString told = restarted.Output + restarted.Errors;
    const QStringList backups = ServerBackups();
    ASSERT_EQ(backups.size(), 2) << "one backup for each workstation that ran the script";
    EXPECT_TRUE(told.contains("lo script di database 'modifiche206.sql' era in esecuzione sul "
                              "server"))
        << told.toStdString();
    EXPECT_TRUE(told.contains(ServerFolder.filePath(backups[0])) ||
                told.contains(ServerFolder.filePath(backups[1])))
        << told.toStdString();
    EXPECT_EQ(restarted.ExitCode, 0) << restarted.Errors.toStdString();
    EXPECT_TRUE(killed.Read("Velmora.exe").startsWith("Velmora 3.12.0"));
}

TEST_F(FirebirdServerClientServer, ABackupThatTheServerCannotMakeStopsTheUpdateBeforeAnyScript) {
    DemoSite workstation;
    workstation.PublishScript(206, "UPDATE PREZZI SET PREZZO = PREZZO + 1;\n"
                                   "COMMENT ON DATABASE IS '206';\nCOMMIT;\n");
    MakeWorkstation(workstation, workstation);
    workstation.Write("velmora.ini", workstation.Read("velmora.ini") + "Cartella copie database=" +
                                         ServerFolder.filePath("manca").toUtf8() + "\r\n");

    const DemoSite::Result result = workstation.Run({"--update", "--quiet"});

    EXPECT_NE(result.ExitCode, 0);
    EXPECT_TRUE(result.Errors.contains("Copia del database " + Database +
                                       " sul server localhost in " +
                                       ServerFolder.filePath("manca/velmora_")))
        << result.Errors.toStdString();
    EXPECT_EQ(Query("SELECT PREZZO FROM PREZZI"), "100");
    EXPECT_EQ(Step(), "205");
    EXPECT_TRUE(workstation.Read("Velmora.exe").startsWith("Velmora 3.11.0"));
}
