#include "pipeline/commandrunner.h"
#include "support/firebirdfixture.h"
#include "support/tempinstall.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct CommandText {
    const char* What;
    QString Built;
    QString Expected;
};

// Prints its arguments one a line into "args.txt" of the folder it runs in, reads a line of its
// input, and ends with the status its first argument names.
const QByteArray Probe = "#!/bin/sh\nprintf '%s\\n' \"$@\" > args.txt\nread -r line\nexit \"$1\"\n";

class CommandRunnerTest : public ::testing::Test {
protected:
    QString Program() const { return Install.ProgramFolder(); }

    QString WriteProgram(const QString& relativePath, const QByteArray& script) const {
        const QString path = Install.WriteFile("Velmora/" + relativePath, script);
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup |
                                        QFile::ExeOther);
        return path;
    }

    // A real package holding one file, made by the archiver itself.
    QString MakePackage(const QString& folder, const QString& fileName,
                        const QByteArray& content) const {
        QDir().mkpath(folder);
        const QString source = Install.WriteFile("source/" + fileName, content);
        const QString package = folder + fileName + ".7z";
        QProcess archiver;
        archiver.setProcessChannelMode(QProcess::MergedChannels);
        archiver.start("7za", {"a", package, source});
        archiver.waitForFinished(-1);
        EXPECT_EQ(archiver.exitCode(), 0) << archiver.readAll().toStdString();
        return package;
    }

    QByteArray Read(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    TempInstallation Install;
};

} // namespace

TEST(CommandRunnerText, BuildsEveryCommandLineOfTheTable) {
    const QString work = "/opt/Program Files/Velmora/Orvo/Copiare/";
    const CommandText table[] = {
        {"archive test", ArchiveTestCommand("/w/a.7z"), "7za t /w/a.7z"},
        {"archive test, blank", ArchiveTestCommand("/w x/a.7z"), "7za t \"/w x/a.7z\""},
        {"already quoted text quoted again", ArchiveTestCommand("\"/w x/a.7z\""),
         "7za t \"\"/w x/a.7z\"\""},
        {"unpack", PackageUnpackCommand("/v/Orvo/Copiare/Velmora.exe.7z"),
         "7za e -o/v/Orvo/Copiare/ /v/Orvo/Copiare/Velmora.exe.7z"},
        {"unpack, work folder with a blank", PackageUnpackCommand(work + "Velmora.exe.7z"),
         "7za e -o\"" + work + "\" \"" + work + "Velmora.exe.7z\""},
        {"backup",
         BackupCommand("/v/Orvo/Backup/240719_143005.7z",
                       {"/v/Velmora.exe", "/v/intl/fbintl.conf"}),
         "7za a -mx1 -ssc /v/Orvo/Backup/240719_143005.7z /v/Velmora.exe /v/intl/fbintl.conf"},
        {"backup, blanks", BackupCommand("/a b/x.7z", {"/c d/Velmora.exe", "/v/zlib1.dll"}),
         "7za a -mx1 -ssc \"/a b/x.7z\" \"/c d/Velmora.exe\" /v/zlib1.dll"},
        {"database added, two blanks", DatabaseBackupCommand("/v/b.7z", "/data/velmora.fdb"),
         "7za a -mx1 -ssc  /v/b.7z /data/velmora.fdb"},
        {"database added, blanks", DatabaseBackupCommand("/a b/x.7z", "/my data/velmora.fdb"),
         "7za a -mx1 -ssc  \"/a b/x.7z\" \"/my data/velmora.fdb\""},
        {"script", ScriptCommand("/usr/bin/isql-fb", "/v/modifiche206.sql", "velmora.fdb"),
         "/usr/bin/isql-fb -b -u sysdba -p tarnwheel -n -i /v/modifiche206.sql velmora.fdb"},
        {"script, blanks", ScriptCommand("\"/opt/fire bird/bin/isql\"", "/a b/m.sql", "/c d/v.fdb"),
         "\"/opt/fire bird/bin/isql\" -b -u sysdba -p tarnwheel -n -i \"/a b/m.sql\" \"/c "
         "d/v.fdb\""},
        {"script without isql", ScriptCommand("", "/v/m.sql", "/v/v.fdb"),
         " -b -u sysdba -p tarnwheel -n -i /v/m.sql /v/v.fdb"},
        {"archive restore", ArchiveRestoreCommand("/v/b.7z", "/v/Orvo/Ripristino/"),
         "7za e -aoa /v/b.7z -o/v/Orvo/Ripristino/"},
        {"archive restore, blanks", ArchiveRestoreCommand("/a b/x.7z", "/c d/"),
         "7za e -aoa \"/a b/x.7z\" -o\"/c d/\""},
        {"archive listing", ArchiveListCommand("/a b/x.7z"), "7za l -slt \"/a b/x.7z\""},
        {"interpreter line", InterpreterCommandLine(ArchiveTestCommand("/w/a.7z")),
         "\"7za t /w/a.7z\""},
    };
    for (const CommandText& row : table)
        EXPECT_EQ(row.Built, row.Expected) << row.What;
}

TEST_F(CommandRunnerTest, ReturnsTheExitStatusOfTheCommand) {
    WriteProgram("probe", Probe);
    WriteProgram("tools/probe", Probe);
    WriteProgram("crash", "#!/bin/sh\nkill -KILL $$\n");
    const struct {
        const char* Line;
        int Status;
    } table[] = {
        {"probe 0", 0},
        {"probe 3", 3},
        {"tools/probe 5", 5},
        {"\"probe\" 4", 4},
        {"crash", -1},
        {"no-such-program-anywhere t x.7z", -1},
        {" -b -u sysdba -p tarnwheel -n -i m.sql v.fdb", -1},
        {"", -1},
    };
    for (const auto& row : table)
        EXPECT_EQ(RunCommand(row.Line), row.Status) << row.Line;
}

TEST_F(CommandRunnerTest, SplitsQuotedArgumentsAndRunsInTheProgramFolder) {
    WriteProgram("probe", Probe);
    ASSERT_EQ(RunCommand("probe 0 \"a b\"  -o\"/c d/\" \"\" e\"f g\"h"), 0);
    EXPECT_EQ(Read(Program() + "args.txt"), "0\na b\n-o/c d/\n\nef gh\n");
}

TEST_F(CommandRunnerTest, FindsTheArchiverInTheProgramFolderFirstThenOnThePath) {
    const QString package = MakePackage(Program() + "Orvo/Copiare/", "a.txt", "text");
    QDir().mkpath(Program() + "7za");
    EXPECT_TRUE(TestArchive(package))
        << "a folder named 7za is no program: the one on the path runs";
    QDir(Program() + "7za").removeRecursively();
    WriteProgram("7za", "#!/bin/sh\nexit 7\n");
    EXPECT_EQ(RunCommand(ArchiveTestCommand(package)), 7);
    EXPECT_FALSE(TestArchive(package));
}

TEST_F(CommandRunnerTest, RelativePathsMeanFilesOfTheProgramFolder) {
    Install.WriteFile("Velmora/velmora.fdb", "database");
    ASSERT_EQ(RunCommand(DatabaseBackupCommand("Orvo/Backup/x.7z", "velmora.fdb")), 0);
    QFile::remove(Program() + "velmora.fdb");
    ASSERT_EQ(RunCommand(ArchiveRestoreCommand(Program() + "Orvo/Backup/x.7z", Program())), 0);
    EXPECT_EQ(Read(Program() + "velmora.fdb"), "database");
}

TEST_F(CommandRunnerTest, TestsAndUnpacksRealPackages) {
    const QString folder = Program() + "Orvo/Co piare/";
    const QString package = MakePackage(folder, "Velmora.exe", "new program");
    EXPECT_TRUE(TestArchive(package));
    ASSERT_TRUE(ExtractArchive(package, true));
    EXPECT_EQ(Read(folder + "Velmora.exe"), "new program");
    EXPECT_FALSE(QFile::exists(package)) << "deleted after unpacking";

    const QString kept = MakePackage(folder, "atlas.html", "map");
    ASSERT_TRUE(ExtractArchive(kept, false));
    EXPECT_TRUE(QFile::exists(kept)) << "kept without the delete flag";

    const QString corrupt = Install.WriteFile("Velmora/Orvo/Co piare/bad.dll.7z", "not an archive");
    EXPECT_FALSE(TestArchive(corrupt));
    EXPECT_FALSE(TestArchive(folder + "missing.7z"));
}

TEST_F(CommandRunnerTest, AnUnpackThatCannotWriteItsFileFailsAndKeepsThePackage) {
    const QString folder = Program() + "Orvo/Copiare/";
    const QString package = MakePackage(folder, "BlokCore.dll", "core");
    QDir().mkpath(folder + "BlokCore.dll");
    EXPECT_FALSE(ExtractArchive(package, true));
    EXPECT_TRUE(QFile::exists(package));
}

TEST_F(CommandRunnerTest, ArchivesALongListOfFiles) {
    QStringList files;
    for (int i = 0; i < 60; ++i)
        files.append(Install.WriteFile(QString("Velmora/sub folder %1/file %1.dll").arg(i),
                                       QByteArray::number(i)));
    ASSERT_EQ(RunCommand(BackupCommand(Program() + "Orvo/Backup/long name.7z", files)), 0);
    QDir().mkpath(Program() + "out");
    ASSERT_EQ(RunCommand(
                  ArchiveRestoreCommand(Program() + "Orvo/Backup/long name.7z", Program() + "out")),
              0);
    EXPECT_EQ(Read(Program() + "out/file 59.dll"), "59");
}

TEST_F(CommandRunnerTest, AScriptThatCannotConnectOrFailsEndsNonZero) {
    const QString database = CreateDatabase(Program() + "velmora.fdb", QStringLiteral("205"));
    const QString good = Install.WriteFile("Velmora/Orvo/Copiare/modifiche206.sql",
                                           "CREATE TABLE T206 (A INTEGER);\nCOMMIT;\n");
    const QString bad =
        Install.WriteFile("Velmora/Orvo/Copiare/modifiche207.sql",
                          "CREATE TABLE T207 (A INTEGER);\nCOMMIT;\nSELECT NOPE FROM NOWHERE;\n");
    EXPECT_EQ(RunCommand(ScriptCommand(IsqlProgram, good, "velmora.fdb")), 0);
    EXPECT_EQ(
        QueryValue(database, "select count(*) from rdb$relations where rdb$relation_name = 'T206'"),
        "1");
    EXPECT_NE(RunCommand(ScriptCommand(IsqlProgram, bad, database)), 0);
    EXPECT_NE(RunCommand(ScriptCommand(IsqlProgram, good, Program() + "missing.fdb")), 0)
        << "without the bail switch isql ends with 0 when it cannot connect";
}
