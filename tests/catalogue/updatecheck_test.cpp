#include "catalogue/catalogue.h"
#include "catalogue/requiredfiles.h"
#include "catalogue/updatecheck.h"
#include "core/error.h"
#include "support/fileserver.h"
#include "support/firebirdfixture.h"
#include "support/smalldisk.h"
#include "support/updatesite.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// What a checklist row shows: caption, installed, available, size, tick.
QString Describe(const ChecklistRow& row) {
    return QStringList{row.Caption, row.SubItem(0), row.SubItem(1), row.SubItem(2),
                       row.Checked ? "x" : "-"}
        .join('|');
}

QStringList Rows(const RunState& run) {
    QStringList rows;
    for (const ChecklistRow& row : run.Checklist)
        rows.append(Describe(row));
    return rows;
}

QStringList ScriptEntries(const RunState& run) {
    QStringList scripts;
    for (const RequiredFile& file : run.RequiredFiles) {
        if (file.ComponentName == Component::Schema)
            scripts.append(file.FileName);
    }
    return scripts;
}

const QByteArray UpToDate =
    "[VERSIONI]\nOrvanto=1.7.1\nVelmora=3.11.0\n7za=1.7.0.12\nDbexpress=6.2.5.0\n"
    "Mappe=1.0\nSchema database=205\nFirebird=3.0.0\n";

class UpdateCheckTest : public ::testing::Test {
protected:
    UpdateCheckTest() {
        QFile::copy(QStringLiteral(ORVANTO_SOURCE_DIR "/tests/fixtures/pe/onepair-x64.dll"),
                    Site.Install.ProgramFolder() + "7za.exe");
        Site.WriteServed("Velmora.exe.7z", QByteArray(1536000, 'v'));
        Site.WriteServed("7za.exe.7z", QByteArray(2048, 'a'));
    }

    void Check() { ActionControllaExecute(Site.Steps); }

    UpdateSite Site;
};

} // namespace

TEST_F(UpdateCheckTest, ListsNewerComponentsWithTheirSizes) {
    Site.WriteCatalogue("[versioni]\nvelmora=3.12.0\n7za=1.7.0.13\n");
    Check();
    // Velmora.exe is not installed, so only the other Velmora files take part; none is served.
    ASSERT_EQ(Rows(Site.Run),
              QStringList({"Velmora|3.11.0|3.12.0|0|x", "7za|1.7.0.12|1.7.0.13|2|x"}));
    EXPECT_TRUE(Site.Run.UpdateButtonVisible);
    EXPECT_EQ(Site.Ui.Messages.size(), 9)
        << "one \"File mancante\" per taking-part Velmora package";
    EXPECT_EQ(Site.Ui.Messages.value(0), QString("File mancante: 'BlokTrade.dll'"));
    EXPECT_EQ(Site.Ui.MessageKinds, QList<MessageKind>(9, MessageKind::Failure))
        << "an update of those components cannot succeed";
    EXPECT_FALSE(QFile::exists(Site.Install.CopyFolder() + "update.ini"));
    EXPECT_FALSE(Site.Ui.Busy);
    EXPECT_TRUE(Site.Ui.ActionsEnabled);

    Site.Install.WriteFile("Velmora/Velmora.exe", "installed");
    Site.Ui.Messages.clear();
    Check();
    EXPECT_EQ(Rows(Site.Run).value(0), QString("Velmora|3.11.0|3.12.0|1500|x"));
}

TEST_F(UpdateCheckTest, FollowsTheOrvantoFirstAndShowAllRules) {
    struct Case {
        QByteArray catalogue;
        bool showAll;
        QStringList rows;
        bool button;
    };
    const Case cases[] = {
        {"[VERSIONI]\nOrvanto=1.7.2\nVelmora=3.12.0\n", false, {"Orvanto|1.7.1|1.7.2|0|x"}, true},
        {"[VERSIONI]\nOrvanto=1.7.2\nVelmora=3.12.0\nSchema database=205\n",
         true,
         {"Orvanto|1.7.1|1.7.2|0|x", "Velmora|3.11.0|3.12.0|0|x", "7za|1.7.0.12||2|-",
          "Dbexpress|||0|-", "Mappe|||0|-", "Schema database|205|205|0|-", "Firebird|3.0.11||0|-"},
         true},
        {UpToDate, false, {}, false},
        {UpToDate,
         true,
         {"Orvanto|1.7.1|1.7.1|0|-", "Velmora|3.11.0|3.11.0|0|-", "7za|1.7.0.12|1.7.0.12|2|-",
          "Dbexpress||6.2.5.0|0|-", "Mappe||1.0|0|-", "Schema database|205|205|0|-",
          "Firebird|3.0.11|3.0.0|0|-"},
         true},
    };
    for (const Case& c : cases) {
        Site.WriteCatalogue(c.catalogue);
        Site.Run.ShowAll = c.showAll;
        Site.Ui.Messages.clear();
        Check();
        QStringList rows = Rows(Site.Run);
        // The engine's build number is the machine's; compare the version up to it.
        for (QString& row : rows)
            row.replace(QRegularExpression("^Firebird\\|3\\.0\\.11\\.\\d+"), "Firebird|3.0.11");
        EXPECT_EQ(rows, c.rows) << c.catalogue.constData();
        EXPECT_EQ(Site.Run.UpdateButtonVisible, c.button) << c.catalogue.constData();
    }
}

TEST_F(UpdateCheckTest, AppendsTheScriptsOfPendingSchemaStepsOnce) {
    Site.WriteCatalogue("[VERSIONI]\nSchema database=207\n");
    Site.WriteServed("modifiche206.sql.7z", QByteArray(4096, 's'));
    Site.WriteServed("modifiche207.sql.7z", QByteArray(3072, 's'));
    Check();
    EXPECT_EQ(Rows(Site.Run), QStringList({"Schema database|205|207|7|x"}));
    EXPECT_EQ(ScriptEntries(Site.Run), QStringList({"modifiche206.sql", "modifiche207.sql"}));
    EXPECT_EQ(Site.Run.RequiredFiles.size(), 41);
    EXPECT_EQ(Site.Run.RequiredFiles.last().FileName, QString("modifiche207.sql"));
    EXPECT_EQ(Site.Run.AvailableSchemaVersion, QString("207"));

    Check();
    EXPECT_EQ(ScriptEntries(Site.Run), QStringList({"modifiche206.sql", "modifiche207.sql"}))
        << "a second check does not add the scripts again";

    Site.WriteCatalogue("[VERSIONI]\nSchema database=1000\n");
    Check();
    EXPECT_EQ(ScriptEntries(Site.Run).size(), 795);
    EXPECT_EQ(ScriptEntries(Site.Run).last(), QString("modifiche1000.sql"));

    // A step far ahead is a damaged catalogue: refused before thousands of size queries and
    // "File mancante" messages.
    Site.Ui.Messages.clear();
    Site.WriteCatalogue("[VERSIONI]\nSchema database=10205\n");
    EXPECT_THROW(Check(), OrvantoError);
    EXPECT_TRUE(Site.Ui.Messages.isEmpty());
    EXPECT_TRUE(Site.Run.Checklist.isEmpty());
}

TEST_F(UpdateCheckTest, ConsidersSchemaAndFirebirdOnlyWhereTheyApply) {
    Site.WriteCatalogue("[VERSIONI]\nSchema database=207\nFirebird=9.0\n");
    Site.Run.IsqlCommand.clear();
    Site.Run.Info.EmbeddedState = 0;
    Check();
    EXPECT_EQ(Rows(Site.Run), QStringList());
    EXPECT_TRUE(ScriptEntries(Site.Run).isEmpty());
    EXPECT_FALSE(Site.Run.UpdateButtonVisible);

    Site.Run.Info.EmbeddedState = 2;
    Check();
    ASSERT_EQ(Site.Run.Checklist.size(), 1);
    EXPECT_EQ(Site.Run.Checklist[0].Caption, QString("Firebird"));
}

TEST_F(UpdateCheckTest, AnOlderCatalogueSchemaIsListedUntickedWithoutScripts) {
    UpdateSite newer("207");
    newer.WriteCatalogue("[VERSIONI]\nSchema database=205\n");
    newer.Run.ShowAll = true;
    ActionControllaExecute(newer.Steps);
    EXPECT_TRUE(Rows(newer.Run).contains("Schema database|207|205|0|-"));
    EXPECT_TRUE(ScriptEntries(newer.Run).isEmpty());
}

TEST_F(UpdateCheckTest, AMissingSchemaValueWithShowAllIsAConversionError) {
    Site.WriteCatalogue("[VERSIONI]\nVelmora=3.12.0\n");
    Site.Run.ShowAll = true;
    EXPECT_THROW(Check(), OrvantoError);
    QStringList captions;
    for (const ChecklistRow& row : Site.Run.Checklist)
        captions.append(row.Caption);
    EXPECT_EQ(captions, QStringList({"Orvanto", "Velmora", "7za", "Dbexpress", "Mappe"}));
    EXPECT_FALSE(Site.Ui.Busy);
    EXPECT_TRUE(Site.Ui.ActionsEnabled);
}

TEST_F(UpdateCheckTest, AnEmptyOrForeignCatalogueProposesNothing) {
    Site.WriteCatalogue("");
    Check();
    EXPECT_TRUE(Site.Run.Checklist.isEmpty());
    EXPECT_FALSE(Site.Run.UpdateButtonVisible);
    EXPECT_FALSE(QFile::exists(Site.Install.CopyFolder() + "update.ini"));

    Site.WriteCatalogue("<html><body><h1>Benvenuti</h1></body></html>");
    Check();
    EXPECT_TRUE(Site.Run.Checklist.isEmpty());
}

TEST_F(UpdateCheckTest, FetchFailuresReachTheCaller) {
    Site.Run.RemoteUrl = Site.Server->BaseUrl() + "missing/";
    EXPECT_THROW(Check(), OrvantoError);
    EXPECT_FALSE(Site.Ui.Busy);

    // A catalogue larger than any real one is not read whole.
    Site.Run.RemoteUrl = Site.Server->BaseUrl();
    Site.WriteCatalogue(QByteArray(5 * 1024 * 1024, '\n'));
    try {
        Check();
        FAIL() << "a 5 MB catalogue was read";
    } catch (const OrvantoError& error) {
        EXPECT_TRUE(error.Message().contains("supera il limite")) << error.what();
    }

    Site.Run.RemoteUrl = Site.Server->BaseUrl() + "redirect/";
    Site.WriteCatalogue("[VERSIONI]\nVelmora=3.12.0\n");
    Check();
    EXPECT_EQ(Site.Run.Checklist.size(), 1) << "a redirect is followed";
}

TEST_F(UpdateCheckTest, ALocalCopyThatCannotBeWrittenFailsTheCheck) {
    // A really full disk under the work folder (a link to /dev/full would be refused there).
    Site.WriteCatalogue("[VERSIONI]\nVelmora=3.12.0\n");
    const SmallDisk disk(Site.Install.CopyFolder(), 64);
    if (!disk.Mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    disk.Fill();
    try {
        Check();
        FAIL() << "the check reported nothing to update";
    } catch (const OrvantoError& error) {
        EXPECT_TRUE(error.Message().contains(Site.Install.CopyFolder() + "update.ini"));
        EXPECT_TRUE(error.Message().contains("No space left on device"))
            << error.Message().toStdString();
    }
    EXPECT_FALSE(Site.Ui.Busy);
}

TEST_F(UpdateCheckTest, AWorkFolderThatCannotBeWrittenAsksForAnAdministrator) {
    Site.WriteCatalogue("[VERSIONI]\nVelmora=3.12.0\n");
    Check();
    ASSERT_EQ(Site.Run.Checklist.size(), 1);

    Site.Ui.Messages.clear();
    QDir(Site.Install.CopyFolder()).removeRecursively();
    Site.Install.WriteFile("Velmora/Orvo/Copiare", "a file where the folder should be");
    Check();
    EXPECT_EQ(Site.Ui.Messages,
              QStringList({"L'aggiornamento deve esser eseguito come amministratore"}));
    EXPECT_EQ(Site.Ui.MessageKinds.last(), MessageKind::Failure) << "nothing could be checked";
    EXPECT_EQ(Site.Run.Checklist.size(), 1) << "the checklist stays as it was";

    QFile::remove(Site.Install.ProgramFolder() + "Orvo/Copiare");
    QDir(Site.Install.ProgramFolder()).removeRecursively();
    QDir().mkpath(Site.Install.ProgramFolder());
    Site.Install.WriteSettings("[PRINCIPALE]\nVersione=3.11.0\n");
    CreateDatabase(Site.DatabaseFile(), QString("205"));
    Site.Ui.Messages.clear();
    Check();
    EXPECT_FALSE(
        Site.Ui.Messages.contains("L'aggiornamento deve esser eseguito come amministratore"))
        << "a missing work folder is created";
    EXPECT_EQ(Site.Run.Checklist.size(), 1);
}

TEST_F(UpdateCheckTest, ADatabaseThatCannotBeReachedStopsTheCheckBeforeTheList) {
    Site.WriteCatalogue("[VERSIONI]\nVelmora=3.12.0\n");
    Check();
    Site.Connection.Close();
    Site.Connection.SetDatabase(Site.Install.Root() + "/missing.fdb");
    EXPECT_THROW(Check(), OrvantoError);
    EXPECT_EQ(Site.Run.Checklist.size(), 1)
        << "rows are kept: the error comes before the list is emptied";
}

TEST_F(UpdateCheckTest, KeepsTheAnnouncedPackageChecksumsForTheDownload) {
    Site.WriteCatalogue(
        "[VERSIONI]\nSchema database=206\n[SHA256]\nVelmora.exe.7z=AB12\nmodifiche206.sql.7z=cd34\n"
        "readme.txt.7z=ef56\n");
    Check();
    const QMap<QString, QString> expected{{"Velmora.exe.7z", "AB12"},
                                          {"modifiche206.sql.7z", "cd34"}};
    EXPECT_EQ(Site.Run.PackageChecksums, expected);

    Site.WriteCatalogue("[VERSIONI]\nSchema database=206\n");
    Check();
    EXPECT_TRUE(Site.Run.PackageChecksums.isEmpty())
        << "a catalogue without the section checks nothing";
}

TEST_F(UpdateCheckTest, ConcurrentSizeQueriesGiveTheRowsAndMessagesOfOneAfterAnother) {
    // Every component newer, twelve pending scripts, and every other package missing, with sizes
    // that tell the packages apart.
    Site.WriteCatalogue("[VERSIONI]\nOrvanto=1.7.1\nVelmora=3.12.0\n7za=1.7.0.13\n"
                        "Dbexpress=6.2.6.0\nMappe=2.0\nSchema database=217\nFirebird=9.0\n");
    Site.Install.WriteFile("Velmora/Velmora.exe", "installed");
    RequiredFileList everything;
    BuildRequiredFiles(everything);
    for (long long step = 206; step <= 217; ++step)
        everything.append({Component::Schema, ScriptFileName(step), QString(), false});
    for (qsizetype i = 0; i < everything.size(); ++i) {
        if (i % 2 == 0)
            Site.WriteServed(everything[i].FileName + ".7z", QByteArray(1024 * (i + 1), 'p'));
        else
            QFile::remove(Site.ServedFolder() + everything[i].FileName + ".7z");
    }
    // Answers that overtake each other.
    const FileServer jittery(Site.ServedFolder(), {0, 40});
    Site.Run.RemoteUrl = jittery.BaseUrl();
    Site.Run.ShowAll = true;
    Check();

    // The same sizes and messages asked one package at a time, in checklist and list order.
    QStringList expectedRows;
    QStringList expectedMessages;
    for (const ChecklistRow& row : Site.Run.Checklist) {
        qint64 kilobytes = 0;
        for (const RequiredFile& file : Site.Run.RequiredFiles) {
            if (file.ComponentName != row.Caption ||
                !IsFileIncluded(Site.Run.RequiredFiles, file.FileName))
                continue;
            try {
                kilobytes += Site.Http.Head(Site.Run.RemoteUrl + file.FileName + ".7z") / 1024;
            } catch (const OrvantoError&) {
                expectedMessages.append("File mancante: '" + file.FileName + "'");
            }
        }
        expectedRows.append(row.Caption + "|" + QString::number(kilobytes));
    }
    QStringList rows;
    for (const ChecklistRow& row : Site.Run.Checklist)
        rows.append(row.Caption + "|" + row.SubItem(2));
    EXPECT_EQ(rows, expectedRows);
    EXPECT_EQ(Site.Ui.Messages, expectedMessages);
    EXPECT_EQ(Site.Run.Checklist.size(), 7);
    EXPECT_GT(expectedMessages.size(), 10);
}

TEST_F(UpdateCheckTest, SizesListedInTheCatalogueGiveTheSameRowsWithoutSizeQueries) {
    const QByteArray versions =
        "[VERSIONI]\nOrvanto=1.7.1\nVelmora=3.12.0\n7za=1.7.0.13\n"
        "Dbexpress=6.2.6.0\nMappe=2.0\nSchema database=205\nFirebird=3.0.0\n";
    Site.Install.WriteFile("Velmora/Velmora.exe", "installed");
    Site.WriteServed("BlokCore.dll.7z", QByteArray(5000, 'c'));
    const FileServer server(Site.ServedFolder(), {});
    Site.Run.RemoteUrl = server.BaseUrl();
    Site.Run.ShowAll = true;
    Site.WriteCatalogue(versions);
    Check();
    const QStringList rows = Rows(Site.Run);
    const QStringList messages = Site.Ui.Messages;
    ASSERT_GT(messages.size(), 5) << "some packages are missing";

    // Every served package listed with its size; the missing ones are not listed.
    QByteArray sizes = "[DIMENSIONE]\n";
    for (const QFileInfo& package : QDir(Site.ServedFolder()).entryInfoList({"*.7z"}, QDir::Files))
        sizes += package.fileName().toUtf8() + "=" + QByteArray::number(package.size()) + "\n";
    Site.WriteCatalogue(versions + sizes);
    Site.Ui.Messages.clear();
    const qsizetype before = server.Requests().size();
    Check();

    EXPECT_EQ(Rows(Site.Run), rows);
    EXPECT_EQ(Site.Ui.Messages, messages);
    QStringList heads;
    for (const QString& request : server.Requests().mid(before)) {
        if (request.startsWith("HEAD "))
            heads.append(request.section(' ', 1, 1).mid(1));
    }
    heads.sort();
    QStringList missing;
    for (const QString& message : messages)
        missing.append(message.section('\'', 1, 1) + ".7z");
    missing.sort();
    EXPECT_EQ(heads, missing) << "only the files the catalogue does not list are asked for";
}

TEST_F(UpdateCheckTest, AFailureThatVelmoraIniCausesNamesTheKeyToCorrect) {
    Site.WriteCatalogue("[VERSIONI]\nVelmora=3.12.0\n");
    const QString served = Site.Server->BaseUrl();
    const struct {
        QString RemoteUrl;
        QString PublicKey;
        QString Named;
    } cases[] = {
        {served + "velmora", "",
         "la voce [ORVANTO] \"Remote url\" (ora '" + served + "velmora'): non termina con \"/\""},
        {"", "", "la voce [ORVANTO] \"Remote url\" (ora ''): è vuota"},
        {"ftp://127.0.0.1/velmora/", "",
         "\"Remote url\" (ora 'ftp://127.0.0.1/velmora/'): non inizia con http:// o https://"},
        {served, "RWQ-not-a-key", "voce [ORVANTO] \"Chiave pubblica\" (ora 'RWQ-not-a-key')"},
    };
    Site.WriteServed("update.ini.minisig", "untrusted comment: x\nabc\n");
    for (const auto& row : cases) {
        SCOPED_TRACE(row.Named.toStdString());
        Site.Run.RemoteUrl = row.RemoteUrl;
        Site.Run.PublicKey = row.PublicKey;
        try {
            Check();
            FAIL() << "the check went through";
        } catch (const OrvantoError& error) {
            EXPECT_TRUE(error.Message().contains(row.Named)) << error.what();
            EXPECT_TRUE(error.Message().contains(Site.Install.ProgramFolder() + "velmora.ini"))
                << error.what();
        }
    }
    // An address that looks right gets no hint.
    Site.Run.RemoteUrl = served + "missing/";
    Site.Run.PublicKey.clear();
    try {
        Check();
        FAIL() << "the check went through";
    } catch (const OrvantoError& error) {
        EXPECT_FALSE(error.Message().contains("Remote url")) << error.what();
    }
}
