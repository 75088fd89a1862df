#include "catalogue/runstate.h"
#include "environment/analysis.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "support/tempinstall.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

class AnalysisTest : public ::testing::Test {
protected:
    QStringList Analyse(const QString& connectionParameter) {
        Connection.SetDatabase(connectionParameter);
        QStringList log;
        AnalyseEnvironment(Run, Connection, [&log](const QString& line) { log.append(line); });
        return log;
    }

    // A Firebird folder with an executable isql in its bin folder.
    QString MakeFirebirdFolder(const QString& relative) {
        const QString isql = Install.WriteFile(relative + "/bin/isql", "#!/bin/sh\n");
        QFile::setPermissions(isql, QFile::permissions(isql) | QFile::ExeOwner);
        return Install.Root() + "/" + relative + "/";
    }

    TempInstallation Install;
    RunState Run;
    FirebirdConnection Connection;
};

} // namespace

TEST_F(AnalysisTest, TakesTheDatabaseFromTheProgramFoldersAliasFile) {
    Install.WriteFile("Velmora/databases.conf",
                      "# VELMORA = /old.fdb\nVELMORA = /srv/db/velmora.fdb {\n}\n");
    const QString firebird = MakeFirebirdFolder("fb");
    Install.WriteFile("fb/databases.conf", "VELMORA = /never/read.fdb\n");
    OverrideFirebirdFolder(firebird);
    const QStringList log = Analyse("VELMORA");
    const QStringList expected = {
        "Inizio analisi ambiente",
        "Percorso applicazione " + Install.ProgramFolder(),
        "Analisi file databases.conf",
        "  Parsing '# VELMORA = /old.fdb'",
        "  DB individuato (/old.fdb)",
        "Identificazione cartella Firebird",
        "  Individuata (" + firebird + ")",
        "Identificazione tipo installazione",
        "  Embedded",
        "Identificazione comando ISQL",
        "  Disponibile (" + firebird + "bin/isql)",
    };
    EXPECT_EQ(log, expected);
    EXPECT_EQ(Run.DatabasePath, QString("/old.fdb")) << "a comment line holding the alias counts";
    EXPECT_EQ(Run.IsqlCommand, firebird + "bin/isql");
    EXPECT_TRUE(Run.Embedded());
    EXPECT_EQ(Run.Info.ApplicationPath, Install.ProgramFolder());
    EXPECT_EQ(Run.Info.FirebirdDirectory, firebird);
    EXPECT_EQ(Run.Info.ArchivioPos, QString("/old.fdb"));
    EXPECT_EQ(Run.Info.ComandoIsql, firebird + "bin/isql");
}

TEST_F(AnalysisTest, SearchesTheProgramFolderSkippingSecurityDatabases) {
    Install.WriteFile("Velmora/security4.fdb", "");
    Install.WriteFile("Velmora/velmora.fdb", "");
    Install.WriteFile("Velmora/zeta.fdb", "");
    QDir().mkpath(Install.ProgramFolder() + "archivio.fdb");
    OverrideFirebirdFolder(QString());
    const QStringList log = Analyse("localhost:VELMORA");
    EXPECT_EQ(log.mid(2, 5), QStringList({"Analisi file databases.conf", "  Non presente",
                                          "Analisi file aliases.conf", "  Non presente",
                                          "Ricerca DB nella cartella dell'applicazione"}));
    EXPECT_EQ(log.value(7), QString("  Individuato (velmora.fdb)"));
    EXPECT_EQ(Run.DatabasePath, QString("velmora.fdb"));
    EXPECT_TRUE(log.contains("  Client/Server"));
    EXPECT_FALSE(Run.Embedded());
}

TEST_F(AnalysisTest, FallsBackToTheFirebirdFoldersAliasFile) {
    Install.WriteFile("Velmora/SECURITY3.FDB", "");
    const QString firebird = MakeFirebirdFolder("Program Files/Firebird");
    Install.WriteFile("Program Files/Firebird/aliases.conf", "VELMORA = /srv/velmora.fdb\n");
    OverrideFirebirdFolder(firebird);
    const QStringList log = Analyse("VELMORA");
    const int search = static_cast<int>(log.indexOf("Ricerca DB nella cartella dell'applicazione"));
    ASSERT_GE(search, 0);
    EXPECT_EQ(log.mid(search + 1, 7),
              QStringList({"  Non individuato", "Identificazione cartella Firebird",
                           "  Individuata (" + firebird + ")", "Analisi file databases.conf",
                           "  Non presente", "Analisi file aliases.conf",
                           "  Parsing 'VELMORA = /srv/velmora.fdb'"}));
    EXPECT_EQ(Run.DatabasePath, QString("/srv/velmora.fdb"));
    EXPECT_EQ(Run.IsqlCommand, "\"" + firebird + "bin/isql\"") << "a folder with a blank is quoted";
}

TEST_F(AnalysisTest, ReportsWhatItCannotFind) {
    OverrideFirebirdFolder(QString());
    Install.Environment().Set("PATH", Install.Root() + "/empty");
    const QStringList log = Analyse(Install.ProgramFolder() + "maindb.fdb");
    EXPECT_TRUE(log.contains("  Non individuato"));
    EXPECT_TRUE(log.contains("  Non individuata"));
    EXPECT_EQ(log.mid(log.size() - 2),
              QStringList({"Identificazione comando ISQL", "  Non disponibile"}));
    EXPECT_EQ(Run.DatabasePath, QString());
    EXPECT_EQ(Run.IsqlCommand, QString());
    EXPECT_EQ(Run.Info.FirebirdDirectory, QString("N/D"));
    EXPECT_EQ(Run.Info.ComandoIsql, QString("N/D"));
    EXPECT_EQ(Run.Info.ArchivioPos, QString());
}

TEST_F(AnalysisTest, FindsIsqlOnTheSearchPathWithoutAFirebirdFolder) {
    OverrideFirebirdFolder(QString());
    const QString isql = Install.WriteFile("tools/isql-fb", "#!/bin/sh\n");
    QFile::setPermissions(isql, QFile::permissions(isql) | QFile::ExeOwner);
    Install.Environment().Set("PATH", Install.Root() + "/tools");
    Analyse("VELMORA");
    EXPECT_EQ(Run.IsqlCommand, isql);
}
