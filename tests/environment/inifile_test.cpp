#include "core/error.h"
#include "core/filesystem.h"
#include "environment/impostazioni.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"
#include "support/tempinstall.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

QString ReadFrom(const TempInstallation& install, const QByteArray& content, const char* section,
                 const char* key) {
    const QString path = install.WriteFile("t.ini", content);
    return IniFile(path).ReadString(section, key, "<default>");
}

} // namespace

TEST(IniFile, FollowsTheProfileMatchingRules) {
    TempInstallation install;
    struct Case {
        const char* content;
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"[principale]\r\ndatabase = MYDB\r\n", "PRINCIPALE", "Database", "MYDB"},
        {"[PRINCIPALE]\nDatabase=\"MYDB\"\n", "PRINCIPALE", "Database", "MYDB"},
        {"[PRINCIPALE]\nDatabase=\"MY\"DB\"\n", "PRINCIPALE", "Database", "MY\"DB"},
        {"[PRINCIPALE]\nDatabase='MYDB'\n", "PRINCIPALE", "Database", "'MYDB'"},
        {"[PRINCIPALE]\nDatabase=\"\n", "PRINCIPALE", "Database", "\""},
        {"[ORVANTO]\nRemote url=http://h/a/ \t\n", "ORVANTO", "Remote url", "http://h/a/"},
        {"[ORVANTO]\n  Remote url  =  x\n", "ORVANTO", "REMOTE URL", "x"},
        {"[A]\nk=first\nk=second\n", "A", "k", "first"},
        {"[A]\nk\nk=value\n", "A", "k", "value"},
        {"[A]\n;k=comment\n", "A", "k", "<default>"},
        {"[A]\nother=1\n[B]\nk=b\n", "A", "k", "<default>"},
        {"k=outside\n[A]\n", "A", "k", "<default>"},
        {"[A]\nk=1\n[a]\nk=2\nj=3\n", "A", "j", "<default>"},
        {"[ A ]\nk=1\n", "A", "k", "1"},
        {"[A]\nk=\n", "A", "k", ""},
        {"[A]\nk=a=b\n", "A", "k", "a=b"},
        {"[A]\rk=cr-only\r", "A", "k", "cr-only"},
        {"\xEF\xBB\xBF[A]\nk=bom\n", "A", "k", "bom"},
        {"[A]\nk=caff\xE8\n", "A", "k", "caff\xC3\xA8"},
        {"[A]\nk=caff\xC3\xA8\n", "A", "k", "caff\xC3\xA8"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadFrom(install, c.content, c.section, c.key), QString::fromUtf8(c.expected))
            << c.content;
}

TEST(IniFile, ReadsUtf16WithAByteOrderMarkAndCutsLongValues) {
    TempInstallation install;
    const QString text = QString::fromUtf8("[VERSIONI]\r\nVelmora=3.12.0 città\r\n");
    QByteArray little("\xFF\xFE", 2);
    QByteArray big("\xFE\xFF", 2);
    for (const QChar c : text) {
        little.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        big.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
    }
    EXPECT_EQ(ReadFrom(install, little, "versioni", "velmora"), QString::fromUtf8("3.12.0 città"));
    EXPECT_EQ(ReadFrom(install, big, "versioni", "velmora"), QString::fromUtf8("3.12.0 città"));

    const QByteArray longValue(3000, 'x');
    EXPECT_EQ(ReadFrom(install, "[A]\nk=" + longValue + "\n", "A", "k").size(), 2047);
}

TEST(IniFile, AMissingFileReadsAsDefaults) {
    EXPECT_EQ(IniFile("/nonexistent/velmora.ini").ReadString("A", "k", "d"), QString("d"));
    EXPECT_EQ(IniFile("").ReadString("A", "k", "d"), QString("d"));
}

TEST(WriteIniValue, ChangesOneValueAndKeepsEveryOtherByte) {
    FileSystem files;
    TempInstallation install;
    struct Case {
        const char* before;
        const char* after;
        const char* value = "3.12.1";
    };
    const Case cases[] = {
        // value replaced in place, comments, order, blanks and CR LF kept
        {"; settings\r\n[ORVANTO]\r\nRemote url = x\r\n[principale]\r\nDatabase=DB\r\nversione = "
         "3.1.0  \r\nAltro=1\r\n",
         "; settings\r\n[ORVANTO]\r\nRemote url = x\r\n[principale]\r\nDatabase=DB\r\nversione = "
         "3.12.1\r\nAltro=1\r\n"},
        // key added after the last entry of the section, before blank lines
        {"[PRINCIPALE]\nDatabase=DB\n\n[ORVANTO]\nk=v\n",
         "[PRINCIPALE]\nDatabase=DB\nVersione=3.12.1\n\n[ORVANTO]\nk=v\n"},
        // section missing: appended with the file's own line ending
        {"[ORVANTO]\r\nk=v", "[ORVANTO]\r\nk=v\r\n[PRINCIPALE]\r\nVersione=3.12.1\r\n"},
        // only the first section of that name counts; a later duplicate is left alone
        {"[PRINCIPALE]\nA=1\n[PRINCIPALE]\nVersione=old\n",
         "[PRINCIPALE]\nA=1\nVersione=3.12.1\n[PRINCIPALE]\nVersione=old\n"},
        // section at the end of a file without final line break
        {"[PRINCIPALE]\nA=1", "[PRINCIPALE]\nA=1\nVersione=3.12.1\n"},
        // Windows-1252 bytes elsewhere stay as they are
        {"[PRINCIPALE]\r\nDitta=Caff\xE8 S.r.l.\r\nVersione=1\r\n",
         "[PRINCIPALE]\r\nDitta=Caff\xE8 S.r.l.\r\nVersione=3.12.1\r\n"},
        // UTF-8 mark kept, header on the first line found
        {"\xEF\xBB\xBF[PRINCIPALE]\nVersione=1\n", "\xEF\xBB\xBF[PRINCIPALE]\nVersione=3.12.1\n"},
        {"", "[PRINCIPALE]\r\nVersione=3.12.1\r\n"},
        // a UTF-8 mark after the first line is text, not a mark: that line is no section header
        {"[ALTRO]\r\nDitta=Caff\xE8\r\n\xEF\xBB\xBF[PRINCIPALE]\r\nVersione=1\r\n",
         "[ALTRO]\r\nDitta=Caff\xE8\r\n\xEF\xBB\xBF[PRINCIPALE]\r\nVersione=1\r\n"
         "[PRINCIPALE]\r\nVersione=3.12.1\r\n"},
        {"[ALTRO]\nk=v\n\xEF\xBB\xBF[PRINCIPALE]\nVersione=1\n",
         "[ALTRO]\nk=v\n\xEF\xBB\xBF[PRINCIPALE]\nVersione=1\n[PRINCIPALE]\nVersione=3.12.1\n"},
        // a file with the UTF-8 mark is read as UTF-8 even where its bytes are not
        {"\xEF\xBB\xBF[PRINCIPALE]\nDitta=Caff\xE8\nVersione=1\n",
         "\xEF\xBB\xBF[PRINCIPALE]\nDitta=Caff\xE8\nVersione=3.12.1 citt\xC3\xA0\n",
         "3.12.1 citt\xC3\xA0"},
        // the old value held the only bytes that are not UTF-8, so the file is read as UTF-8 now
        {"[PRINCIPALE]\nVersione=citt\xE0\n", "[PRINCIPALE]\nVersione=\xC3\x83\xC2\xA9\n",
         "\xC3\x83\xC2\xA9"},
    };
    for (const Case& c : cases) {
        const QString path = install.WriteFile("velmora.ini", c.before);
        const QString value = QString::fromUtf8(c.value);
        WriteIniValue(files, path, "PRINCIPALE", "Versione", value);
        EXPECT_EQ(install.ReadFile("velmora.ini"), QByteArray(c.after)) << c.before;
        EXPECT_EQ(IniFile(path).ReadString("PRINCIPALE", "Versione", ""), value) << c.before;
    }
}

TEST(WriteIniValue, KeepsUtf16AndReplacesTheFileAtomically) {
    FileSystem files;
    TempInstallation install;
    const QByteArray before("\xFF\xFE[\0A\0]\0\r\0\n\0k\0=\0o\0l\0d\0\r\0\n\0", 26);
    const QString path = install.WriteFile("u.ini", before);
    const QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QFile::setPermissions(path, permissions);
    WriteIniValue(files, path, "A", "k", "new");
    EXPECT_EQ(install.ReadFile("u.ini"),
              QByteArray("\xFF\xFE[\0A\0]\0\r\0\n\0k\0=\0n\0e\0w\0\r\0\n\0", 26));
    EXPECT_EQ(QFile::permissions(path) & 0x7077, permissions & 0x7077);
    EXPECT_EQ(QDir(install.Root()).entryList(QDir::Files), QStringList{"u.ini"})
        << "no temporary file left behind";
}

TEST(WriteIniValue, FailsWithThePathAndLeavesTheFileWhole) {
    FileSystem files;
    TempInstallation install;
    // A folder where the file's folder should be: the temporary file cannot be created.
    const QString path = install.Root() + "/not-a-folder/velmora.ini";
    install.WriteFile("not-a-folder", "plain file");
    try {
        WriteIniValue(files, path, "PRINCIPALE", "Versione", "1");
        FAIL() << "no error";
    } catch (const OrvantoError& error) {
        EXPECT_TRUE(error.Message().contains(path)) << error.Message().toStdString();
    }
    EXPECT_EQ(install.ReadFile("not-a-folder"), QByteArray("plain file"));
}

TEST(Impostazioni, ReadsTheSettingsWithTheirDefaults) {
    TempInstallation install;
    install.WriteSettings("[principale]\r\ndatabase = MYDB\r\nDatabase "
                          "server=srvdati\r\n[ORVANTO]\r\nRemote url=http://127.0.0.1/u/ \r\n");
    const Impostazioni settings;
    EXPECT_EQ(settings.GetDatabase(), QString("MYDB"));
    EXPECT_EQ(settings.GetDatabaseServer(), QString("srvdati"));
    EXPECT_EQ(settings.GetRemoteUrl(), QString("http://127.0.0.1/u/"));
    EXPECT_EQ(settings.GetFileName(), install.ProgramFolder() + "velmora.ini");

    install.WriteSettings("[PRINCIPALE]\n");
    EXPECT_EQ(settings.GetDatabase(), QString("VELMORA")) << "every read goes to the file";
    EXPECT_EQ(settings.GetDatabaseServer(), QString());
    EXPECT_TRUE(settings.GetRemoteUrl().startsWith("https://"));
    EXPECT_TRUE(settings.GetRemoteUrl().endsWith("/download/velmora/"));
}

TEST(Impostazioni, AMissingFileIsAnError) {
    TempInstallation install;
    try {
        Impostazioni settings;
        FAIL() << "no error";
    } catch (const std::exception& error) {
        // The fixed message, then where the file was looked for.
        const QStringList lines = QString::fromUtf8(error.what()).split('\n');
        ASSERT_EQ(lines.size(), 2) << error.what();
        EXPECT_EQ(lines[0], QString("Costruttore classe Impostazioni: file inesistente"));
        const QStringList folders = {GetProgramFolder(), GetRoamingDataFolder(),
                                     GetProgramDataFolder()};
        EXPECT_EQ(lines[1], "velmora.ini cercato in: " + folders.join(", "));
    }
}

TEST(IniText, ListsTheKeysItReadsAsSpeltAndInOrder) {
    const IniText text(
        "[SHA256]\r\nVelmora.exe.7z=a\r\n BlokCore.dll.7z = b\r\nvelmora.EXE.7z=c\r\n"
        "senza uguale\r\n[ALTRO]\r\nX=1\r\n[sha256]\r\nTardivo.7z=d\r\n");
    EXPECT_EQ(text.Keys("sha256"), (QStringList{"Velmora.exe.7z", "BlokCore.dll.7z"}));
    EXPECT_EQ(text.Keys("MANCANTE"), QStringList());
}
