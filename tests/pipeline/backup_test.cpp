#include "catalogue/requiredfiles.h"
#include "pipeline/backup.h"
#include "pipeline/journal.h"
#include "support/firebirdfixture.h"
#include "support/updatesite.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The names an archive holds, sorted.
QStringList ArchiveEntries(const QString& archive) {
    QProcess archiver;
    archiver.start("7za", {"l", "-slt", archive});
    archiver.waitForFinished(-1);
    QStringList names;
    for (const QString& line : QString::fromUtf8(archiver.readAllStandardOutput()).split('\n')) {
        if (line.startsWith("Path = ") && !line.endsWith(".7z"))
            names.append(line.mid(7).trimmed());
    }
    names.sort();
    return names;
}

class BackupTest : public ::testing::Test {
protected:
    void Install(const QString& relativePath) {
        Site.Install.WriteFile("Velmora/" + relativePath, relativePath.toUtf8());
    }

    void DueScript() {
        Site.Run.Checklist.append({Component::Schema, {}, true});
        Site.Run.RequiredFiles.append({Component::Schema, "modifiche206.sql", "", false});
    }

    UpdateSite Site;
    UpdateJournal Made;
    const QString& Archive = Made.Archive;
};

} // namespace

TEST(BackupName, IsTheMomentAsYymmddUnderscoreHhnnss) {
    EXPECT_EQ(BackupArchiveName(QDateTime(QDate(2024, 7, 19), QTime(14, 30, 5))),
              "240719_143005.7z");
    EXPECT_EQ(BackupArchiveName(QDateTime(QDate(2025, 1, 3), QTime(9, 5, 7))), "250103_090507.7z");
    EXPECT_EQ(BackupArchiveName(QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59))),
              "991231_235959.7z");
}

TEST_F(BackupTest, ArchivesTheInstalledFilesOfEveryEntry) {
    const QStringList installed = {
        "Velmora.exe", "BlokCore.dll", "intl/fbintl.conf", "plugins/engine13.dll",
        "7za.exe",     "atlas.html",   "Orvanto"};
    for (const QString& file : installed)
        Install(file);
    Install("notlisted.dll");
    const QDateTime before = QDateTime::currentDateTime();
    ASSERT_TRUE(MakeBackup(Site.Steps, Made));
    const QString name = QFileInfo(Archive).fileName();
    EXPECT_EQ(QFileInfo(Archive).path() + "/", Site.Run.BackupFolder);
    EXPECT_TRUE(name >= BackupArchiveName(before) &&
                name <= BackupArchiveName(QDateTime::currentDateTime()))
        << name.toStdString();
    EXPECT_EQ(ArchiveEntries(Archive),
              QStringList({"7za.exe", "BlokCore.dll", "Orvanto", "Velmora.exe", "atlas.html",
                           "engine13.dll", "fbintl.conf", "velmora.ini"}))
        << "stored under their names alone, without the files that are not installed or not listed";
    EXPECT_EQ(Made.SettingsPath, Site.Install.ProgramFolder() + "velmora.ini");
    EXPECT_EQ(QDir(Site.Run.BackupFolder).entryList(QDir::Files), QStringList{name})
        << "no partial archive left beside it";
}

TEST_F(BackupTest, ArchivesEveryFileOfAFullInstallation) {
    for (const RequiredFile& file : Site.Run.RequiredFiles)
        Install(QDir(file.Subfolder).filePath(file.FileName));
    ASSERT_TRUE(MakeBackup(Site.Steps, Made));
    EXPECT_EQ(ArchiveEntries(Archive).size(), Site.Run.RequiredFiles.size() + 1)
        << "every file and the settings";
}

TEST_F(BackupTest, AddsTheDatabaseOnlyWhenScriptsMayChangeIt) {
    const QString local = Site.DatabaseFile();
    const struct {
        const char* Case;
        QString Isql;
        bool Ticked;
        bool ScriptListed;
        QString Connection;
        QString DatabasePath;
        bool Added;
    } table[] = {
        {"embedded, script due", IsqlProgram, true, true, local, local, true},
        {"embedded, relative path", IsqlProgram, true, true, "velmora.fdb", "velmora.fdb", true},
        {"no script due: row not ticked", IsqlProgram, false, true, local, local, false},
        {"no script due: none listed", IsqlProgram, true, false, local, local, false},
        {"server installation", IsqlProgram, true, true, "127.0.0.1:" + local, local, false},
        {"database file not local", IsqlProgram, true, true, "missing.fdb", "missing.fdb", false},
        {"without isql, a script entry listed", "", false, true, local, local, true},
        {"without isql, no script entry", "", true, false, local, local, false},
    };
    Install("Velmora.exe");
    for (const auto& row : table) {
        Site.Run.IsqlCommand = row.Isql;
        Site.Run.Checklist = {{Component::Schema, {}, row.Ticked}};
        BuildRequiredFiles(Site.Run.RequiredFiles);
        if (row.ScriptListed)
            Site.Run.RequiredFiles.append({Component::Schema, "modifiche206.sql", "", false});
        Site.Connection.SetDatabase(row.Connection);
        Site.Run.DatabasePath = row.DatabasePath;
        QDir(Site.Run.BackupFolder).removeRecursively();
        ASSERT_TRUE(MakeBackup(Site.Steps, Made)) << row.Case;
        EXPECT_EQ(ArchiveEntries(Archive).contains("velmora.fdb"), row.Added) << row.Case;
        EXPECT_EQ(Made.DatabasePath,
                  row.Added ? Site.Install.ProgramFolder() + "velmora.fdb" : QString())
            << row.Case;
    }
}

TEST_F(BackupTest, TheArchiveIsNoMoreReadableThanTheDatabaseItHolds) {
    const group* users = ::getgrnam("nogroup");
    const gid_t group = users ? users->gr_gid : 65534;
    const QByteArray database = QFile::encodeName(Site.DatabaseFile());
    const QByteArray settings = QFile::encodeName(Site.Install.ProgramFolder() + "velmora.ini");
    const struct {
        const char* Case;
        bool ScriptDue;
        mode_t DatabaseMode, SettingsMode, Expected;
    } table[] = {
        {"a database of its owner and group", true, 0660, 0644, 0640},
        {"a private database", true, 0600, 0644, 0600},
        {"a database anyone may read", true, 0644, 0600, 0644},
        {"no database: as the settings", false, 0644, 0640, 0640},
        {"no database, private settings", false, 0644, 0600, 0600},
    };
    Install("Velmora.exe");
    const mode_t savedMask = ::umask(022);
    for (const auto& row : table) {
        BuildRequiredFiles(Site.Run.RequiredFiles);
        Site.Run.Checklist.clear();
        if (row.ScriptDue)
            DueScript();
        ::chmod(database.constData(), row.DatabaseMode);
        ::chmod(settings.constData(), row.SettingsMode);
        const bool root = ::geteuid() == 0;
        if (root) {
            ::chown(database.constData(), -1, group);
            ::chown(settings.constData(), -1, group);
        }
        QDir(Site.Run.BackupFolder).removeRecursively();
        ASSERT_TRUE(MakeBackup(Site.Steps, Made)) << row.Case;
        EXPECT_EQ(ArchiveEntries(Archive).contains("velmora.fdb"), row.ScriptDue) << row.Case;
        struct stat status {};
        ASSERT_EQ(::stat(QFile::encodeName(Archive).constData(), &status), 0) << row.Case;
        EXPECT_EQ(status.st_mode & 07777, row.Expected)
            << row.Case << std::oct << " got " << (status.st_mode & 07777);
        EXPECT_EQ(status.st_uid, ::geteuid()) << row.Case << ": the runner's";
        if (root && (row.Expected & S_IRGRP)) {
            EXPECT_EQ(status.st_gid, group) << row.Case << ": the database's group";
        }
    }
    ::umask(savedMask);
}

TEST_F(BackupTest, ABackupFolderThatCannotBeMadeFails) {
    Install("Velmora.exe");
    QDir(Site.Run.BackupFolder).removeRecursively();
    Site.Install.WriteFile("Velmora/Orvo/Backup", "a file");
    EXPECT_FALSE(MakeBackup(Site.Steps, Made));
    EXPECT_TRUE(Archive.startsWith(Site.Run.BackupFolder))
        << "the path is handed back all the same";
    EXPECT_TRUE(Archive.endsWith(".7z"));
}

TEST_F(BackupTest, AFailingDatabaseRunFailsAndKeepsTheInstalledFiles) {
    Install("Velmora.exe");
    Site.Run.IsqlCommand.clear();
    Site.Run.RequiredFiles.append({Component::Schema, "modifiche206.sql", "", false});
    Site.Run.DatabasePath = Site.Install.ProgramFolder() + "missing.fdb";
    EXPECT_FALSE(MakeBackup(Site.Steps, Made));
    EXPECT_FALSE(QFile::exists(Archive)) << "an unfinished archive never takes the archive's name";
}

TEST_F(BackupTest, AMissingBackupFolderIsMade) {
    Install("Velmora.exe");
    ASSERT_TRUE(QDir(Site.Install.ProgramFolder() + "Orvo").removeRecursively());
    ASSERT_TRUE(MakeBackup(Site.Steps, Made));
    EXPECT_EQ(ArchiveEntries(Archive), QStringList({"Velmora.exe", "velmora.ini"}));
}

TEST_F(BackupTest, NothingInstalledPacksNothingElse) {
    Install("Orvo/Copiare/leftover.dll");
    QFile::remove(Site.Install.ProgramFolder() + "velmora.ini");
    EXPECT_TRUE(MakeBackup(Site.Steps, Made));
    EXPECT_FALSE(QFile::exists(Archive))
        << "the archiver is not left to pack its whole working folder";
}

TEST(BackupRetention, DeletesArchivesMoreThanTwentyDaysOld) {
    QTemporaryDir folder;
    const QString names[] = {"240000_000000.7z", "240704_100000.7z",  "240705_100000.7z",
                             "241332_000000.7z", "240101_000000.txt", "991231_000000.7z",
                             "notes.txt",        "24070_100000.7z"};
    for (const QString& name : names) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QDir(folder.path()).mkdir("240102_000000.7z");
    ApplyBackupRetention(folder.path() + "/", QDate(2024, 7, 25));
    QStringList left = QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    left.sort();
    EXPECT_EQ(left.join(' ').toStdString(),
              "240000_000000.7z 240102_000000.7z 240705_100000.7z 24070_100000.7z 241332_000000.7z "
              "991231_000000.7z notes.txt")
        << "impossible dates are skipped and the names after them still examined; folders stay";
}
