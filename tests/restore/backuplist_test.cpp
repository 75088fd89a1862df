#include "restore/backuplist.h"
#include "restore/newslink.h"
#include "support/recordinginterface.h"
#include "support/tempinstall.h"

#include <QDir>
#include <gtest/gtest.h>

TEST(BackupArchives, DecodesOnlyNamesOfTheFormWithExistingMoments) {
    struct Case {
        const char* name;
        const char* moment; // empty: left out
    };
    const Case cases[] = {
        {"240115_103000.7z", "2024-01-15T10:30:00"},
        {"231224_235959.7z", "2023-12-24T23:59:59"},
        {"240115_103000_manual.7z", "2024-01-15T10:30:00"},
        {"000229_000000.7z", "2000-02-29T00:00:00"},
        {"backup.7z", ""},
        {"240115-103000.7z", ""},
        {"240115_10300.7z", ""},
        {"241332_103000.7z", ""},
        {"240100_103000.7z", ""},
        {"230229_103000.7z", ""},
        {"240115_240000.7z", ""},
        {"240115_106000.7z", ""},
        {"240115_103060.7z", ""},
    };
    for (const Case& c : cases) {
        const auto moment = MomentFromArchiveName(c.name);
        if (QString(c.moment).isEmpty())
            EXPECT_FALSE(moment.has_value()) << c.name;
        else
            EXPECT_EQ(moment.value_or(QDateTime()), QDateTime::fromString(c.moment, Qt::ISODate))
                << c.name;
    }
}

TEST(BackupArchives, ListsPlainArchivesByNameAndGoesOnAfterAnImpossibleDate) {
    TempInstallation install;
    for (const char* name :
         {"240115_103000.7z", "231224_235959.7z", "241332_103000.7z", "250101_000000.7z",
          "backup.7z", "240116_000000.zip", ".240117_000000.7z"})
        install.WriteFile(QString("Velmora/Orvo/Backup/") + name, "x");
    QDir().mkpath(install.BackupFolder() + "240118_000000.7z");

    QStringList names;
    for (const BackupArchive& archive : ListBackupArchives(install.BackupFolder()))
        names.append(archive.Name);
    EXPECT_EQ(names, QStringList({"231224_235959.7z", "240115_103000.7z", "250101_000000.7z"}));
    EXPECT_TRUE(ListBackupArchives(install.Root() + "/missing/").isEmpty());
}

TEST(BackupArchives, FormatsTheMomentWithTheLocaleSeparators) {
    const QDateTime moment(QDate(2024, 1, 15), QTime(10, 30, 0));
    EXPECT_EQ(FormatArchiveMoment(moment, QLocale(QLocale::Italian, QLocale::Italy)),
              QString("15/01/2024 10:30:00"));
    EXPECT_EQ(FormatArchiveMoment(moment, QLocale(QLocale::German, QLocale::Germany)),
              QString("15.01.2024 10:30:00"));
    EXPECT_EQ(FormatArchiveMoment(QDateTime(QDate(2023, 12, 24), QTime(23, 59, 59)),
                                  QLocale(QLocale::Italian)),
              QString("24/12/2023 23:59:59"));
}

TEST(BackupArchives, QuestionQuotesTheName) {
    EXPECT_EQ(RestoreQuestion("240115_103000.7z"),
              QString("Ripristinare l'archivio '240115_103000.7z'?"));
    EXPECT_EQ(RestoreQuestion("240115_103000_l'ultimo.7z"),
              QString("Ripristinare l'archivio '240115_103000_l''ultimo.7z'?"));
}

TEST(NewsLink, BuildsLinksAndOpensOnlyNonEmptyText) {
    EXPECT_TRUE(WikiBaseAddress.endsWith("/wiki/"));
    EXPECT_EQ(NewsPageAddress, WikiBaseAddress + "novita");
    EXPECT_EQ(MakeLink(NewsPageAddress, ""), NewsPageAddress);
    EXPECT_EQ(MakeNewsLink(QString::fromUtf8("Novità")),
              "<a href=\"" + NewsPageAddress + "\">" + QString::fromUtf8("Novità") + "</a>");
    EXPECT_EQ(MakeLink("a&b", "<i>"), QString("<a href=\"a&b\"><i></a>"));

    RecordingInterface ui;
    OpenDocument(ui, "");
    EXPECT_TRUE(ui.OpenedAddresses.isEmpty());
    OpenDocument(ui, NewsPageAddress);
    OpenDocument(ui, NewsPageAddress);
    EXPECT_EQ(ui.OpenedAddresses, QStringList({NewsPageAddress, NewsPageAddress}));
}
