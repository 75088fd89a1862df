#include "core/error.h"
#include "environment/lowlevel.h"
#include "support/tempinstall.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

TEST(JoinPath, FollowsTheJoinRule) {
    struct Case {
        const char* folder;
        const char* name;
        const char* joined;
    };
    const Case cases[] = {
        {"", "velmora.ini", "velmora.ini"},
        {"/opt/velmora/", "", "/opt/velmora/"},
        {"/opt/velmora/", "Orvo/Backup", "/opt/velmora/Orvo/Backup"},
        {"/opt/velmora", "velmora.ini", "/opt/velmora/velmora.ini"},
        {"C:\\Velmora\\", "Orvo/Backup", "C:\\Velmora\\Orvo/Backup"},
        {"C:", "x.fdb", "C:x.fdb"},
        {"/opt/velmora/", "/srv/db/velmora.fdb", "/srv/db/velmora.fdb"},
        {"/opt/velmora/", "D:\\db\\velmora.fdb", "D:\\db\\velmora.fdb"},
        {"/home", "Keltra/Velmora/", "/home/Keltra/Velmora/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JoinPath(c.folder, c.name), QString(c.joined)) << c.folder << " + " << c.name;
    EXPECT_EQ(AddTrailingSeparator(JoinPath("/opt/velmora/", "Orvo/Backup")),
              QString("/opt/velmora/Orvo/Backup/"));
    EXPECT_EQ(AddTrailingSeparator(""), QString("/"));
}

TEST(JoinPath, RejectsANulInEitherPart) {
    const QString withNul = QString("a") + QChar(0) + "b";
    EXPECT_THROW(JoinPath("/opt/", withNul), InvalidArgumentError);
    EXPECT_THROW(JoinPath(withNul, "name"), InvalidArgumentError);
}

TEST(QuoteIfSpaced, QuotesOnlyTextWithABlank) {
    EXPECT_EQ(QuoteIfSpaced("/opt/Program Files/isql"), QString("\"/opt/Program Files/isql\""));
    EXPECT_EQ(QuoteIfSpaced("/usr/bin/isql-fb"), QString("/usr/bin/isql-fb"));
    EXPECT_EQ(QuoteIfSpaced("a\tb"), QString("a\tb"));
    EXPECT_EQ(QuoteIfSpaced("\"a b\""), QString("\"\"a b\"\""));
}

TEST(KeptCopyPath, ReplacesTheExtension) {
    EXPECT_EQ(KeptCopyPath("/p/Velmora.exe"), QString("/p/Velmora.bak"));
    EXPECT_EQ(KeptCopyPath("/p/intl/fbintl.conf"), QString("/p/intl/fbintl.bak"));
    EXPECT_EQ(KeptCopyPath("/p.d/Orvanto"), QString("/p.d/Orvanto.bak"));
}

TEST(SettingsSearch, TakesProgramFolderThenRoamingThenMachineData) {
    TempInstallation install;
    const QString roaming = install.Root() + "/home/.config/Keltra/Velmora/velmora.ini";
    const QString machine = install.Root() + "/etc/xdg/Keltra/Velmora/velmora.ini";
    EXPECT_EQ(FindSettingsFile(), QString());

    install.WriteFile("etc/xdg/Keltra/Velmora/velmora.ini", "[PRINCIPALE]\n");
    QDir().mkpath(install.Root() + "/home/.config/Keltra/Velmora");
    EXPECT_EQ(FindSettingsFile(), machine) << "the roaming folder exists but lacks the file";

    install.WriteFile("home/.config/Keltra/Velmora/velmora.ini", "[PRINCIPALE]\n");
    EXPECT_EQ(FindSettingsFile(), roaming);

    const QString own = install.WriteSettings("[PRINCIPALE]\n");
    EXPECT_EQ(FindSettingsFile(), own);
}

TEST(SettingsSearch, IgnoresAFolderNamedLikeTheFileAndFollowsLinks) {
    TempInstallation install;
    QDir().mkpath(install.ProgramFolder() + "velmora.ini");
    const QString machine = install.WriteFile("etc/xdg/Keltra/Velmora/velmora.ini", "");
    EXPECT_EQ(FindSettingsFile(), machine);

    QFile::link(install.Root() + "/missing.ini",
                install.Root() + "/home/.config/Keltra/Velmora/velmora.ini");
    EXPECT_EQ(FindSettingsFile(), machine) << "a dangling link does not count";
}

TEST(DataFolders, FollowTheEnvironment) {
    TempInstallation install;
    ScopedEnvironment env;
    env.Set("XDG_CONFIG_HOME", "/cfg");
    env.Set("XDG_CONFIG_DIRS", "/etc/one:/etc/two");
    EXPECT_EQ(GetRoamingDataFolder(), QString("/cfg/Keltra/Velmora/"));
    EXPECT_EQ(GetProgramDataFolder(), QString("/etc/one/Keltra/Velmora/"));
    env.Unset("XDG_CONFIG_HOME");
    env.Set("HOME", "/home/u");
    env.Unset("XDG_CONFIG_DIRS");
    EXPECT_EQ(GetRoamingDataFolder(), QString("/home/u/.config/Keltra/Velmora/"));
    EXPECT_EQ(GetProgramDataFolder(), QString("/etc/xdg/Keltra/Velmora/"));
    env.Unset("HOME");
    EXPECT_EQ(GetRoamingDataFolder(), QString());
}

TEST(FirebirdFolder, PrefersTheEnvironmentVariable) {
    ScopedEnvironment env;
    env.Set("FIREBIRD", "/srv/firebird");
    EXPECT_EQ(GetFirebirdFolder(), QString("/srv/firebird/"));
    env.Set("FIREBIRD", "");
    EXPECT_TRUE(GetFirebirdFolder().endsWith('/')) << "the client library's root folder";
}

TEST(IsPlainFileName, AcceptsOnlyOneNameWithoutSeparatorsOrControls) {
    for (const char* name :
         {"Velmora.exe-0123456789abcdef.zst", "Nota spese è.txt", ".nascosto", "a..b"})
        EXPECT_TRUE(IsPlainFileName(QString::fromUtf8(name))) << name;
    for (const char* name :
         {"", ".", "..", "../a", "a/b", "/etc/passwd", "a\\b", "C:a", "a\tb", "a\x7f", "a\xc2\x85"})
        EXPECT_FALSE(IsPlainFileName(QString::fromUtf8(name))) << name;
}
