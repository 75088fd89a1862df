#include "core/instanceguard.h"
#include "support/programcopy.h"
#include "support/tempinstall.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

constexpr int StartupWait = 1500;
// The windows check for updates at once: on a loopback port where nothing answers.
const QByteArray LoopbackSettings = "[ORVANTO]\nRemote url=http://127.0.0.1:9/velmora/\n";

} // namespace

TEST(GuardName, DropsBackslashesAndColons) {
    EXPECT_EQ(GuardName("C:\\Programmi\\Velmora\\", "Orvanto"),
              QByteArray("CProgrammiVelmoraOrvanto"));
    EXPECT_EQ(GuardName("/opt/velmora/", "Orvanto"), QByteArray("/opt/velmora/Orvanto"));
    EXPECT_EQ(GuardName("/opt/a:b/", "Orvanto"), GuardName("/opt/ab:/", "Orvanto"));
    EXPECT_NE(GuardName("/opt/velmora/", "Orvanto"), GuardName("/opt/velmora/", "Orvanto2"));
}

TEST(SingleInstance, RefusesASecondStartFromTheSameFolderOnly) {
    TempInstallation install;
    install.WriteSettings(LoopbackSettings);
    const QString first = CopyProgramTo(install.ProgramFolder());
    RunningProgram running(first, {}, true);
    ASSERT_FALSE(running.WaitForExit(StartupWait)) << running.StandardError().toStdString();

    RunningProgram second(first, {}, false);
    ASSERT_TRUE(second.WaitForExit(30000));
    EXPECT_EQ(second.ExitCode(), 1);
    EXPECT_TRUE(second.StandardError().contains(
        QString::fromUtf8("Non si possono aprire contemporaneamente più istanze di Orvanto")));

    const QString otherFolder = install.Root() + "/Altra/";
    QDir().mkpath(otherFolder);
    install.WriteFile("Altra/velmora.ini", LoopbackSettings);
    RunningProgram elsewhere(CopyProgramTo(otherFolder), {}, true);
    EXPECT_FALSE(elsewhere.WaitForExit(StartupWait)) << "a copy in another folder starts";

    RunningProgram renamed(CopyProgramTo(install.ProgramFolder(), "Orvanto2"), {}, true);
    EXPECT_FALSE(renamed.WaitForExit(StartupWait)) << "another name is another guard";
    RunningProgram renamedAgain(install.ProgramFolder() + "Orvanto2", {}, false);
    ASSERT_TRUE(renamedAgain.WaitForExit(30000));
    EXPECT_EQ(renamedAgain.ExitCode(), 1);
    EXPECT_TRUE(
        renamedAgain.StandardError().contains(QString::fromUtf8("più istanze di Orvanto2")));
}

TEST(Startup, AMissingSettingsFileFailsWithItsMessageAndCodeTwo) {
    TempInstallation install;
    RunningProgram check(CopyProgramTo(install.ProgramFolder()), {"--check"}, false);
    ASSERT_TRUE(check.WaitForExit(30000));
    EXPECT_EQ(check.ExitCode(), 2);
    EXPECT_TRUE(
        check.StandardError().contains("Costruttore classe Impostazioni: file inesistente"));
}

TEST(Startup, HelpListsTheHeadlessCommands) {
    TempInstallation install;
    RunningProgram help(CopyProgramTo(install.ProgramFolder()), {"--help"}, false);
    ASSERT_TRUE(help.WaitForExit(30000));
    EXPECT_EQ(help.ExitCode(), 0);
    const QString text = help.StandardOutput();
    for (const char* option : {"--check", "--show-all", "--update", "--list-backups", "--restore",
                               "--yes", "--fileversion"})
        EXPECT_TRUE(text.contains(option)) << option;
}
