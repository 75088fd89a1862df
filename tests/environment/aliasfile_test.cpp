#include "environment/aliasfile.h"
#include "support/tempinstall.h"

#include <QDir>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

const QString Alias = QStringLiteral("VELMORA");

class AliasFile : public testing::Test {
protected:
    QString Resolve() { return ResolveAliasPath(install.ProgramFolder(), Alias, Sink()); }
    LogSink Sink() {
        return [this](const QString& line) {
            log << line;
        };
    }
    void WriteAliasFile(const QString& name, const QByteArray& content) {
        install.WriteFile("Velmora/" + name, content);
    }

    TempInstallation install;
    QStringList log;
};

TEST_F(AliasFile, FindsTheFirstCandidateThatExistsAndLogsEveryNameTried) {
    const QString databasesConf = install.ProgramFolder() + "databases.conf";
    const QString aliasesConf = install.ProgramFolder() + "aliases.conf";

    EXPECT_EQ(FindAliasFile(install.ProgramFolder(), Sink()), QString());
    EXPECT_EQ(log, QStringList({"Analisi file databases.conf", "  Non presente",
                                "Analisi file aliases.conf", "  Non presente"}));

    QDir().mkpath(databasesConf); // a folder of that name is no alias file
    WriteAliasFile("aliases.conf", "");
    log.clear();
    EXPECT_EQ(FindAliasFile(install.ProgramFolder(), Sink()), aliasesConf);
    EXPECT_EQ(log, QStringList({"Analisi file databases.conf", "  Non presente",
                                "Analisi file aliases.conf"}));

    QDir().rmdir(databasesConf);
    WriteAliasFile("databases.conf", "");
    log.clear();
    EXPECT_EQ(FindAliasFile(install.ProgramFolder(), Sink()), databasesConf);
    EXPECT_EQ(log, QStringList({"Analisi file databases.conf"}));
}

TEST_F(AliasFile, TakesTheValueOfTheFirstLineHoldingTheAlias) {
    struct Case {
        QByteArray content;
        QString value;
    };
    const Case cases[] = {
        {"VELMORA = C:\\Dati\\velmora.fdb\r\n", "C:\\Dati\\velmora.fdb"},
        {"VELMORA = /srv/db/velmora.fdb {\n  DefaultDbCachePages = 50\n}\n", "/srv/db/velmora.fdb"},
        {"OTHER = /o.fdb\nVELMORA=/srv/my data/v.fdb", "/srv/my data/v.fdb"},
        {"velmora = /lower.fdb\nVelmora = /mixed.fdb\n", ""},
        {"# VELMORA = old.fdb\nVELMORA = new.fdb\n", "old.fdb"},
        {"VELMORA2 = D:\\x.fdb\nVELMORA = /v.fdb\n", "D:\\x.fdb"},
        {"  VELMORA /a.fdb  {b}\n", "VELMORA /a.fdb"},
        {"VELMORA =\r\n#VELMORA = \t\r\nVELMORA = /later.fdb\r\n", "/later.fdb"},
        {"VELMORA { = /x.fdb\n", ""},
        {"VELMORA =\t\x01/ctl.fdb\x1f\t\r\n", "/ctl.fdb"},
        {"VELMORA = /dati/caff\xe8.fdb\n", QString::fromUtf8("/dati/caffè.fdb")},
        {"VELMORA = /dati/caff\xc3\xa8.fdb\n", QString::fromUtf8("/dati/caffè.fdb")},
        {"", ""},
    };
    for (const Case& c : cases) {
        WriteAliasFile("databases.conf", c.content);
        EXPECT_EQ(Resolve(), c.value) << c.content.toStdString();
    }
}

TEST_F(AliasFile, LogsEachParsedLineAndTheResult) {
    WriteAliasFile("databases.conf", "# it's VELMORA =\nOTHER = /o.fdb\nVELMORA = /v.fdb\n"
                                     "VELMORA = /never.fdb\n");
    WriteAliasFile("aliases.conf", "VELMORA = /old.fdb\n");
    EXPECT_EQ(Resolve(), QString("/v.fdb"));
    EXPECT_EQ(log, QStringList({"Analisi file databases.conf", "  Parsing '# it''s VELMORA ='",
                                "  Parsing 'VELMORA = /v.fdb'", "  DB individuato (/v.fdb)"}));
}

TEST_F(AliasFile, ReadsOnlyTheFirstAliasFileFound) {
    WriteAliasFile("databases.conf", "OTHER = /o.fdb\n");
    WriteAliasFile("aliases.conf", "VELMORA = /old.fdb\n");
    EXPECT_EQ(Resolve(), QString());
    EXPECT_EQ(log, QStringList({"Analisi file databases.conf", "  DB non individuato"}));
}

TEST_F(AliasFile, FallsBackToAliasesConf) {
    WriteAliasFile("aliases.conf", "VELMORA = /old.fdb\n");
    EXPECT_EQ(Resolve(), QString("/old.fdb"));
    EXPECT_EQ(log, QStringList({"Analisi file databases.conf", "  Non presente",
                                "Analisi file aliases.conf", "  Parsing 'VELMORA = /old.fdb'",
                                "  DB individuato (/old.fdb)"}));
}

TEST_F(AliasFile, WithoutAliasFileGivesEmptyTextAndNoResultLine) {
    EXPECT_EQ(Resolve(), QString());
    EXPECT_EQ(log, QStringList({"Analisi file databases.conf", "  Non presente",
                                "Analisi file aliases.conf", "  Non presente"}));
}

} // namespace
