#include "core/error.h"
#include "environment/serverbackup.h"
#include "pipeline/scriptlock.h"
#include "pipeline/scripts.h"
#include "support/firebirdfixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(MayHaveCommitted, LooksForACommitBeforeWhereIsqlStopped) {
    const struct {
        const char* Script;
        const char* Output;
        bool Committed;
    } cases[] = {
        {"CREATE TABLE A (X INTEGER);\nINSERT INTO B VALUES (1);\nCOMMIT;\n",
         "Statement failed / At line 2 in file s.sql", false},
        {"CREATE TABLE A (X INTEGER);\nCOMMIT;\nINSERT INTO B VALUES (1);\n",
         "Statement failed / At line 3 in file s.sql", true},
        // A lock conflict is reported after the line before the statement.
        {"UPDATE A SET X = 1;\nCOMMIT;\nUPDATE B SET X = 1;\n",
         "deadlock / After line 2 in file s.sql", true},
        {"UPDATE A SET X = 1;\nUPDATE B SET X = 1;\nCOMMIT;\n",
         "deadlock / After line 1 in file s.sql", false},
        {"-- COMMIT here is a comment\n/* COMMIT;\n */ INSERT INTO A VALUES ('COMMIT');\nX;\n",
         "At line 4 in file s.sql", false},
        {"SET AUTODDL ON;\nCREATE TABLE A (X INTEGER);\nX;\n", "At line 3 in file s.sql", true},
        {"SET AUTODDL OFF;\nCREATE TABLE A (X INTEGER);\nX;\n", "At line 3 in file s.sql", false},
        {"SET TERM ^ ;\nEXECUTE BLOCK AS BEGIN IN AUTONOMOUS TRANSACTION DO INSERT INTO A "
         "VALUES (1); END^\nX^\n",
         "At line 3 in file s.sql", true},
        // Without a line, any COMMIT counts.
        {"INSERT INTO A VALUES (1);\nCOMMIT;\n", "Unable to complete network request", true},
        {"INSERT INTO A VALUES (1);\n", "Unable to complete network request", false},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Script);
        EXPECT_EQ(MayHaveCommitted(row.Script, row.Output), row.Committed);
    }
}

TEST(ServerBackupPath, IsBesideTheDatabaseOrInTheFolderGivenWithTheServersSeparator) {
    const struct {
        const char* Database;
        const char* Folder;
        const char* Path;
    } cases[] = {
        {"/var/lib/firebird/data/velmora.fdb", "",
         "/var/lib/firebird/data/velmora_261211_101500.fbk"},
        {"/var/lib/firebird/data/velmora.fdb", "/srv/copie",
         "/srv/copie/velmora_261211_101500.fbk"},
        {"C:\\Dati\\Velmora\\MAINDB.FDB", "", "C:\\Dati\\Velmora\\MAINDB_261211_101500.fbk"},
        {"C:\\Dati\\MAINDB.FDB", "D:\\Copie\\", "D:\\Copie\\MAINDB_261211_101500.fbk"},
    };
    for (const auto& row : cases)
        EXPECT_EQ(ServerBackupPath(row.Database, row.Folder, "261211_101500"), row.Path);
    EXPECT_EQ(SplitServerDatabase("SRVDATI:VELMORA").Server, "SRVDATI");
    EXPECT_EQ(SplitServerDatabase("srv/3051:C:\\Dati\\MAINDB.FDB").Database,
              "C:\\Dati\\MAINDB.FDB");
    EXPECT_EQ(SplitServerDatabase("[::1]:VELMORA").Server, "[::1]");
}

TEST(FirebirdServerScriptLock, ASecondHolderWaitsTheGivenTimeAndIsToldWhoHoldsIt) {
    QTemporaryDir folder;
    FirebirdServer server;
    const QString database = FirebirdServer::RemoteName(folder.filePath("shared.fdb"));
    CreateDatabase(database, QString("205"));

    ScriptLock first(database, 5);
    EXPECT_EQ(first.SchemaStep(), "205");
    EXPECT_EQ(first.LastWorkstation(), "");
    try {
        ScriptLock second(database, 1);
        FAIL() << "two holders at once";
    } catch (const OrvantoError& error) {
        EXPECT_TRUE(error.Message().contains("Un'altra postazione sta aggiornando il database"));
        EXPECT_TRUE(error.Message().contains("utente SYSDBA")) << error.Message().toStdString();
    }
    // Backups in the same second get names of their own.
    const QString wanted = "/srv/velmora_261211_101500.fbk";
    EXPECT_EQ(first.ClaimBackupPath(wanted), wanted);
    EXPECT_EQ(first.ClaimBackupPath(wanted), "/srv/velmora_261211_101500_2.fbk");
    EXPECT_EQ(first.ClaimBackupPath(wanted), "/srv/velmora_261211_101500_3.fbk");
    EXPECT_EQ(first.ClaimBackupPath("/srv/velmora_261211_101501.fbk"),
              "/srv/velmora_261211_101501.fbk");

    first.Release("206");
    ScriptLock next(database, 1);
    EXPECT_TRUE(next.LastWorkstation().startsWith(ThisWorkstation() + " il "))
        << next.LastWorkstation().toStdString();
    EXPECT_TRUE(next.LastWorkstation().endsWith(", passo 206"));
}
