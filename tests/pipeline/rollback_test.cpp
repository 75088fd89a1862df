#include "catalogue/requiredfiles.h"
#include "pipeline/backup.h"
#include "pipeline/journal.h"
#include "pipeline/rollback.h"
#include "support/firebirdfixture.h"
#include "support/updatesite.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QString DescriptionQuery =
    QStringLiteral("select cast(rdb$description as varchar(40)) as STEP from rdb$database");

class RollbackTest : public ::testing::Test {
protected:
    void Install(const QString& relativePath, const QByteArray& content) {
        Site.Install.WriteFile("Velmora/" + relativePath, content);
    }

    QByteArray Installed(const QString& relativePath) const {
        QFile file(Site.Install.ProgramFolder() + relativePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QString Backup() {
        UpdateJournal made;
        EXPECT_TRUE(MakeBackup(Site.Steps, made));
        return made.Archive;
    }

    void SetSchema(const QString& step) {
        RunIsql(Site.DatabaseFile(), "COMMENT ON DATABASE IS '" + step + "';\nCOMMIT;\n");
    }

    void DueScript() {
        Site.Run.Checklist = {{Component::Schema, {}, true}};
        Site.Run.RequiredFiles.append({Component::Schema, "modifiche206.sql", "", false});
    }

    UpdateSite Site;
};

} // namespace

TEST_F(RollbackTest, ARestorePutsBackEveryArchivedFileAndTheVersionKeepingThePresentOnesAside) {
    Site.Run.BackupFolder = Site.Install.ProgramFolder() + "Orvo/Back up/";
    Install("Velmora.exe", "program 1");
    Install("BlokCore.dll", "core 1");
    Install("BlokStock.dll", "stock 1");
    Install("intl/fbintl.conf", "intl 1");
    Install("Orvanto", "updater 1");
    Install("7za.exe", "archiver 1");
    Install("velmora.ini", "[PRINCIPALE]\r\nVersione=3.11.0\r\nTema=chiaro\r\n");
    const QString archive = Backup();

    Install("Velmora.exe", "program 2");
    Install("Velmora.bak", "older kept copy");
    Install("BlokCore.dll", "core 2");
    QFile::remove(Site.Install.ProgramFolder() + "BlokStock.dll");
    Install("Orvanto", "updater 2");
    Install("7za.exe", "archiver 2");
    Install("BlokJobs.dll", "jobs, installed after the backup");
    Install("velmora.ini", "[PRINCIPALE]\r\nVersione=3.12.0\r\nTema=scuro\r\n");

    EXPECT_EQ(RestoreBackup(Site.Steps, archive), RollbackResult::Done);
    const struct {
        const char* File;
        QByteArray Content;
    } expected[] = {
        {"Velmora.exe", "program 1"},
        {"Velmora.bak", "program 2"},
        {"BlokCore.dll", "core 1"},
        {"BlokCore.bak", "core 2"},
        {"BlokStock.dll", "stock 1"},
        {"intl/fbintl.conf", "intl 1"},
        {"intl/fbintl.bak", "intl 1"},
        {"Orvanto", "updater 1"},
        {"Orvanto.bak", "updater 2"},
        {"7za.exe", "archiver 2"},
        {"7za.bak", "<missing>"},
        {"BlokJobs.dll", "<missing>"},
        {"BlokJobs.bak", "jobs, installed after the backup"},
        // Only the version comes back; the rest stays as the person left it.
        {"velmora.ini", "[PRINCIPALE]\r\nVersione=3.11.0\r\nTema=scuro\r\n"},
    };
    for (const auto& file : expected)
        EXPECT_EQ(Installed(file.File).toStdString(), file.Content.toStdString()) << file.File;
}

TEST_F(RollbackTest, PutsBackTheDatabaseOnlyFromAnArchiveThatHoldsIt) {
    const struct {
        const char* Case;
        bool ScriptDue;
        QString DatabasePath;
        QString Schema;
    } table[] = {
        {"archive with the database", true, Site.DatabaseFile(), "205"},
        {"relative database path", true, "velmora.fdb", "205"},
        {"archive without the database", false, Site.DatabaseFile(), "206"},
        {"no database path", true, "", "206"},
    };
    Install("Velmora.exe", "program 1");
    for (const auto& row : table) {
        BuildRequiredFiles(Site.Run.RequiredFiles);
        Site.Run.Checklist.clear();
        if (row.ScriptDue)
            DueScript();
        SetSchema("205");
        Site.Run.DatabasePath = Site.DatabaseFile();
        const QString archive = Backup();
        SetSchema("206");
        ASSERT_TRUE(Site.Connection.QueryText(DescriptionQuery, "STEP").has_value()) << row.Case;
        Site.Run.DatabasePath = row.DatabasePath;

        EXPECT_EQ(RestoreBackup(Site.Steps, archive), RollbackResult::Done) << row.Case;
        EXPECT_FALSE(Site.Connection.IsConnected()) << row.Case;
        EXPECT_EQ(QueryValue(Site.DatabaseFile(), DescriptionQuery), row.Schema) << row.Case;
        EXPECT_EQ(Site.Connection.QueryText(DescriptionQuery, "STEP"), row.Schema) << row.Case;
        Site.Connection.Close();
        QDir(Site.Run.BackupFolder).removeRecursively();
    }
}

TEST_F(RollbackTest, AnArchiveThatIsMissingOrDamagedChangesNothing) {
    // A damaged archive still yields files, damaged ones, when it is unpacked.
    QByteArray program;
    for (int i = 0; i < 5000; ++i)
        program += QByteArray::number(i * 7919 % 10007) + ' ';
    Install("Velmora.exe", program);
    Install("BlokCore.dll", "core 1");
    DueScript();
    const QString damaged = Backup();
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek(200) &&
                file.write("XXXXXXXXXXXXXXXX") == 16);
    file.close();
    const QString notAnArchive =
        Site.Install.WriteFile("Velmora/Orvo/Backup/240719_143005.7z", "not an archive");

    Install("Velmora.exe", "program 2");
    Install("BlokCore.dll", "core 2");
    SetSchema("206");
    for (const QString& archive :
         {Site.Run.BackupFolder + "240718_143005.7z", notAnArchive, damaged}) {
        EXPECT_EQ(RestoreBackup(Site.Steps, archive), RollbackResult::ArchiveUnusable);
        EXPECT_EQ(Installed("Velmora.exe"), "program 2") << archive.toStdString();
        EXPECT_EQ(Installed("BlokCore.dll"), "core 2") << archive.toStdString();
        EXPECT_EQ(QDir(Site.Install.ProgramFolder()).entryList({"*.bak"}), QStringList())
            << archive.toStdString();
        EXPECT_EQ(QueryValue(Site.DatabaseFile(), DescriptionQuery), "206")
            << archive.toStdString();
    }
}
