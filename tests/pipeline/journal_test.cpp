#include "catalogue/requiredfiles.h"
#include "core/error.h"
#include "pipeline/backup.h"
#include "pipeline/journal.h"
#include "pipeline/recovery.h"
#include "pipeline/workfolderscan.h"
#include "support/updatesite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(Journal, KeepsEveryValueAsWritten) {
    UpdateSite site;
    UpdateJournal journal;
    journal.Phase = UpdateJournal::Stage::Applied;
    journal.Archive = " /a b/Backup/241231_235959.7z ";
    journal.DatabasePath = "/dati/velmorà.fdb";
    journal.SettingsPath = "/etc/xdg/Keltra/Velmora/velmora.ini";
    journal.AddedFiles = {"/v/BlokPlanner.dll", "/v/intl/fbintl.conf", "/v/a=b;c.dll"};
    journal.RunningScript = "modifiche206.sql";
    journal.NewVelmoraVersion = "3.12.0";
    journal.Restoring = true;
    WriteJournal(site.Files, journal);
    EXPECT_EQ(ReadJournal(), journal);
    RemoveJournal(site.Files);
    EXPECT_EQ(ReadJournal(), std::nullopt);
}

namespace {

class RecoveryTest : public ::testing::Test {
protected:
    RecoveryTest() {
        Site.Install.WriteFile("Velmora/Velmora.exe", "old program");
        Journal.Archive = Site.Run.BackupFolder + "241231_235959.7z";
    }

    QByteArray Installed(const QString& name) const {
        return Site.Install.ReadFile("Velmora/" + name);
    }

    UpdateSite Site;
    UpdateJournal Journal;
};

} // namespace

TEST_F(RecoveryTest, AnArchiveThatIsMissingOrDamagedChangesNothingAndKeepsTheJournal) {
    Site.Install.WriteFile("Velmora/Velmora.exe", "new program");
    Site.Install.WriteFile("Velmora/Velmora.bak", "old program");
    Site.Install.WriteFile("Velmora/BlokPlanner.dll", "added");
    Journal.AddedFiles = {Site.Install.ProgramFolder() + "BlokPlanner.dll"};
    for (const QByteArray& archive : {QByteArray(), QByteArray("7z\xBC\xAF\x27\x1C damaged")}) {
        if (!archive.isEmpty())
            Site.Install.WriteFile("Velmora/Orvo/Backup/241231_235959.7z", archive);
        WriteJournal(Site.Files, Journal);
        try {
            RecoverInterruptedUpdate(Site.Steps);
            FAIL() << "recovered from nothing";
        } catch (const OrvantoError& error) {
            EXPECT_TRUE(error.Message().contains("241231_235959.7z' manca o è danneggiato"))
                << error.Message().toStdString();
            EXPECT_TRUE(error.Message().contains("riavviare Orvanto"));
        }
        EXPECT_TRUE(ReadJournal().has_value());
        ScanWorkFolders(Site.Run, 5);
        EXPECT_EQ(Installed("Velmora.exe"), "new program");
        EXPECT_EQ(Installed("Velmora.bak"), "old program") << "the kept copy stays";
        EXPECT_EQ(Installed("BlokPlanner.dll"), "added");
        EXPECT_TRUE(Site.Ui.Messages.isEmpty());
        EXPECT_TRUE(Site.Ui.Log.last().startsWith("L'ultimo aggiornamento non è terminato"));
    }
}

TEST_F(RecoveryTest, AScriptInterruptedOnAServerIsNamed) {
    Site.Run.RequiredFiles = {{Component::Velmora, "Velmora.exe", "", true}};
    UpdateJournal made;
    ASSERT_TRUE(MakeBackup(Site.Steps, made));
    Site.Install.WriteFile("Velmora/Velmora.exe", "new program");
    Journal = made;
    Journal.DatabasePath.clear(); // a server's database is not in the archive
    Journal.RunningScript = "modifiche207.sql";
    WriteJournal(Site.Files, Journal);
    RecoverInterruptedUpdate(Site.Steps);
    EXPECT_EQ(Installed("Velmora.exe"), "old program");
    ASSERT_EQ(Site.Ui.Messages.size(), 1);
    EXPECT_TRUE(Site.Ui.Messages.first().contains("lo script di database 'modifiche207.sql' era in "
                                                  "esecuzione sul server"))
        << Site.Ui.Messages.first().toStdString();
    EXPECT_EQ(Site.Ui.MessageKinds.first(), MessageKind::Notice)
        << "it tells of the earlier run, which this one ended";
    EXPECT_EQ(ReadJournal(), std::nullopt);
}

TEST_F(RecoveryTest, AJournalThatIsNotARegularFileIsReportedWithItsPathAndNotFollowed) {
    const QString elsewhere = Site.Install.WriteFile("altrove/esistente", "contenuto");
    const QString journal = JournalPath();
    const struct {
        const char* Name;
        std::function<bool()> Plant;
    } rows[] = {
        {"link to a file elsewhere",
         [&] {
             return QFile::link(elsewhere, journal);
         }},
        {"folder",
         [&] {
             return QDir().mkdir(journal);
         }},
        {"FIFO",
         [&] {
             return ::mkfifo(QFile::encodeName(journal).constData(), 0600) == 0;
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        ASSERT_TRUE(row.Plant());
        EXPECT_TRUE(UpdateUnfinished());
        try {
            RecoverInterruptedUpdate(Site.Steps);
            ADD_FAILURE() << "recovered from a journal that is no file";
        } catch (const OrvantoError& error) {
            EXPECT_TRUE(error.Message().contains(journal + ": ")) << error.Message().toStdString();
            EXPECT_TRUE(error.Message().contains("non un file regolare"));
        }
        EXPECT_EQ(Installed("Velmora.exe"), "old program");
        EXPECT_EQ(Site.Install.ReadFile("altrove/esistente"), QByteArray("contenuto"));
        ASSERT_TRUE(QFileInfo(journal).isDir() && !QFileInfo(journal).isSymLink()
                        ? QDir().rmdir(journal)
                        : QFile::remove(journal));
    }
}
