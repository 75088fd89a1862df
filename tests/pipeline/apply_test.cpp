#include "catalogue/componentfiles.h"
#include "catalogue/requiredfiles.h"
#include "pipeline/apply.h"
#include "pipeline/journal.h"
#include "pipeline/updateaction.h"
#include "support/firebirdfixture.h"
#include "support/updatesite.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QByteArray Settings =
    "; Velmora\r\n[PRINCIPALE]\r\nVersione=3.11.0\r\nDitta=Caff\xE8 S.r.l.\r\n";

class ApplyTest : public ::testing::Test {
protected:
    ApplyTest() {
        Site.Install.WriteSettings(
            Settings + "[ORVANTO]\r\nRemote url=" + Site.Run.RemoteUrl.toUtf8() + "\r\n");
        Site.WriteCatalogue(""); // the check at the end keeps the checklist as it is
    }

    void Row(const QString& caption, const QString& available, bool ticked = true) {
        Site.Run.Checklist.append({caption, {"", available, "0"}, ticked});
    }

    // What the download leaves in the work folder: every taking-part file of the ticked rows.
    void Downloaded() {
        for (const SelectedFile& selected : SelectedFiles(Site.Run)) {
            Site.Install.WriteFile("Velmora/Orvo/Copiare/" + selected.File.FileName,
                                   "new " + selected.File.FileName.toUtf8());
            ++Site.Run.DownloadedCount;
        }
    }

    QByteArray Installed(const QString& path) const {
        return Site.Install.ReadFile("Velmora/" + path);
    }

    UpdateSite Site;
    UpdateJournal Journal;
};

} // namespace

TEST_F(ApplyTest, ReplacesFilesKeepingCopiesAndRecordsVelmorasVersion) {
    Site.Install.WriteFile("Velmora/Velmora.exe", "old Velmora.exe");
    Site.Install.WriteFile("Velmora/BlokCore.dll", "old BlokCore.dll");
    Row("Velmora", "3.12.0");
    Downloaded();
    ASSERT_TRUE(ApplyUpdates(Site.Steps, Journal));
    EXPECT_EQ(Installed("Velmora.exe"), QByteArray("new Velmora.exe"));
    EXPECT_EQ(Installed("Velmora.bak"), QByteArray("old Velmora.exe"));
    EXPECT_EQ(Installed("BlokCore.bak"), QByteArray("old BlokCore.dll"));
    EXPECT_EQ(Installed("BlokPlanner.dll"), QByteArray("new BlokPlanner.dll"))
        << "a file installed for the first time";
    EXPECT_FALSE(QFile::exists(Site.Install.ProgramFolder() + "BlokPlanner.bak"));
    QByteArray expected = Site.Install.ReadFile("Velmora/velmora.ini");
    EXPECT_TRUE(expected.contains("Versione=3.12.0\r\nDitta=Caff\xE8 S.r.l.\r\n"))
        << expected.constData();
    EXPECT_EQ(Site.Ui.UpdateMaximum, Site.Run.DownloadedCount);
    EXPECT_EQ(Site.Ui.UpdatePosition, 10);
    EXPECT_FALSE(Site.Ui.UpdateVisible) << "the check at the end hides the group";
}

TEST_F(ApplyTest, FilesOfOneSubfolderShareTheirKeptCopy) {
    for (const char* name : {"fbintl.conf", "fbintl.dll"}) {
        Site.Install.WriteFile(QString("Velmora/") + name, "present");
        Site.Install.WriteFile(QString("Velmora/intl/") + name, QByteArray("old ") + name);
    }
    Row("Firebird", "3.0.12");
    Downloaded();
    ASSERT_TRUE(ApplyUpdates(Site.Steps, Journal));
    EXPECT_EQ(Installed("intl/fbintl.conf"), QByteArray("new fbintl.conf"));
    EXPECT_EQ(Installed("intl/fbintl.dll"), QByteArray("new fbintl.dll"));
    EXPECT_EQ(Installed("intl/fbintl.bak"), QByteArray("old fbintl.dll"))
        << "the second replacement wins";
    EXPECT_EQ(Site.Install.ReadFile("Velmora/velmora.ini").count("Versione=3.11.0"), 1)
        << "only Velmora.exe records";
}

TEST_F(ApplyTest, StopsAtTheFirstEntryThatCannotBeInstalled) {
    struct Case {
        const char* name;
        std::function<void(UpdateSite&)> arrange;
    };
    const Case cases[] = {
        {"script missing from the work folder",
         [](UpdateSite& site) {
             QFile::remove(site.Run.CopyFolder + "modifiche206.sql");
         }},
        {"script with an SQL error",
         [](UpdateSite& site) {
             site.Install.WriteFile("Velmora/Orvo/Copiare/modifiche206.sql",
                                    "INSERT INTO NIENTE VALUES (1);\n");
         }},
        {"no isql",
         [](UpdateSite& site) {
             site.Run.IsqlCommand.clear();
         }},
    };
    for (const Case& c : cases) {
        Site.Run.Checklist.clear();
        Site.Run.RequiredFiles.append({"Schema database", "modifiche206.sql", "", false});
        Row("Schema database", "206");
        Row("Velmora", "3.12.0");
        Downloaded();
        Site.Install.WriteFile("Velmora/Orvo/Copiare/modifiche206.sql",
                               "COMMENT ON DATABASE IS '206';\n");
        c.arrange(Site);
        EXPECT_FALSE(ApplyUpdates(Site.Steps, Journal)) << c.name;
        EXPECT_FALSE(QFile::exists(Site.Install.ProgramFolder() + "BlokCore.dll"))
            << c.name << ": nothing later is touched";
        EXPECT_EQ(QueryValue(Site.DatabaseFile(),
                             "SELECT CAST(RDB$DESCRIPTION AS VARCHAR(9)) FROM RDB$DATABASE"),
                  QString("205"))
            << c.name;
        Site.Run.IsqlCommand = IsqlProgram;
        BuildRequiredFiles(Site.Run.RequiredFiles);
    }
}

TEST_F(ApplyTest, NothingTickedChangesNothing) {
    Row("Velmora", "3.12.0", false);
    ASSERT_TRUE(ApplyUpdates(Site.Steps, Journal));
    EXPECT_EQ(Site.Ui.UpdateMaximum, 0);
    EXPECT_TRUE(Site.Install.ReadFile("Velmora/velmora.ini").startsWith(Settings));
}

TEST_F(ApplyTest, TheUpdateActionReportsAFailedBackupAndChangesNothing) {
    Site.Install.WriteFile("Velmora/Velmora.exe", "old Velmora.exe");
    Row("Velmora", "3.12.0");
    for (const SelectedFile& selected : SelectedFiles(Site.Run))
        Site.PublishPackage(selected.File.FileName, "new " + selected.File.FileName.toUtf8());
    QDir(Site.Run.BackupFolder).removeRecursively();
    Site.Install.WriteFile("Velmora/Orvo/Backup", "a file where the backup folder should be");
    int resets = 0;
    EXPECT_FALSE(ActionAggiornaExecute(Site.Steps, [&resets] { ++resets; }));
    EXPECT_EQ(Site.Ui.Messages, QStringList({BackupFailedMessage}));
    EXPECT_EQ(Site.Ui.MessageKinds, QList<MessageKind>({MessageKind::UpdateFailure}))
        << "the failure that ended the update";
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(Installed("Velmora.exe"), QByteArray("old Velmora.exe"));
    EXPECT_FALSE(QFile::exists(Site.Install.ProgramFolder() + "Velmora.bak"));
}

TEST_F(ApplyTest, TheUpdateActionBacksUpEvenWithNothingTicked) {
    Site.Install.WriteFile("Velmora/Velmora.exe", "old Velmora.exe");
    Site.Install.WriteFile("Velmora/Orvo/Copiare/Velmora.exe", "leftover");
    Site.Install.WriteFile("Velmora/Orvo/Backup/240101_000000.7z", "an old archive");
    Row("Velmora", "3.12.0", false);
    int resets = 0;
    EXPECT_TRUE(ActionAggiornaExecute(Site.Steps, [&resets] { ++resets; }));
    EXPECT_EQ(resets, 0);
    EXPECT_TRUE(Site.Ui.Messages.isEmpty());
    EXPECT_EQ(Installed("Velmora.exe"), QByteArray("old Velmora.exe"));
    EXPECT_FALSE(QFile::exists(Site.Run.CopyFolder + "Velmora.exe"))
        << "the work folder is cleared";
    const QStringList archives = QDir(Site.Run.BackupFolder).entryList({"*.7z"}, QDir::Files);
    ASSERT_EQ(archives.size(), 1) << "a new archive, and the old one past its retention deleted";
    EXPECT_NE(archives.first(), QString("240101_000000.7z"));
}
