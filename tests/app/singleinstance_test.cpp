#include "environment/instanceguard.h"
#include "support/nginxserver.h"
#include "support/programcopy.h"
#include "support/tempinstall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int StartupWait = 1500;
// The windows check for updates at once: on a loopback port where nothing answers.
const QByteArray LoopbackSettings = "[ORVANTO]\nRemote url=http://127.0.0.1:9/velmora/\n";
// Runs a command as the unprivileged user "nobody".
const QStringList AsNobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};

// Starts the window once from that folder, lets it take its guard, ends it and returns the lock
// files it left in the folder's "Orvo".
QStringList LockFilesOfARun(const QString& programFolder) {
    {
        RunningProgram run(programFolder + "Orvanto", {}, true);
        if (run.WaitForExit(StartupWait))
            ADD_FAILURE() << "the first start ended: " << run.StandardError().toStdString();
    }
    QStringList files;
    for (const QString& name : QDir(programFolder + "Orvo").entryList({"*.lock"}, QDir::Files))
        files << programFolder + "Orvo/" + name;
    return files;
}

// Whether someone holds a lock on the file.
bool IsLocked(const QString& path) {
    return QProcess::execute("flock", {"-n", path, "true"}) != 0;
}

// A lock that the user "nobody" holds on a file (created when missing) until the object goes.
class LockOfAnotherUser {
public:
    explicit LockOfAnotherUser(const QString& path) {
        // flock waits for cat, which ends when its input closes with this process.
        Holder.start(AsNobody.first(), AsNobody.mid(1) + QStringList{"flock", "-o", path, "cat"});
        for (int i = 0; i < 200 && !IsLocked(path); ++i)
            QThread::msleep(25);
        if (!IsLocked(path))
            ADD_FAILURE() << "nobody could not lock " << path.toStdString();
    }

    ~LockOfAnotherUser() {
        Holder.kill();
        Holder.waitForFinished();
    }
    LockOfAnotherUser(const LockOfAnotherUser&) = delete;
    LockOfAnotherUser& operator=(const LockOfAnotherUser&) = delete;

private:
    QProcess Holder;
};

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
    auto running = std::make_unique<RunningProgram>(first, QStringList{}, true);
    ASSERT_FALSE(running->WaitForExit(StartupWait)) << running->StandardError().toStdString();

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

    // A copy under another name works on the same installation: it waits for the first.
    const QString renamedCopy = CopyProgramTo(install.ProgramFolder(), "Orvanto2");
    RunningProgram beside(renamedCopy, {"--update"}, false);
    ASSERT_TRUE(beside.WaitForExit(30000));
    EXPECT_EQ(beside.ExitCode(), 1);
    EXPECT_TRUE(beside.StandardError().contains(InstallationBusyMessage))
        << beside.StandardError().toStdString();
    running.reset();

    RunningProgram renamed(renamedCopy, {}, true);
    EXPECT_FALSE(renamed.WaitForExit(StartupWait)) << "once the first ended, the copy starts";
    RunningProgram renamedAgain(renamedCopy, {}, false);
    ASSERT_TRUE(renamedAgain.WaitForExit(30000));
    EXPECT_EQ(renamedAgain.ExitCode(), 1);
    EXPECT_TRUE(
        renamedAgain.StandardError().contains(QString::fromUtf8("più istanze di Orvanto2")));
}

TEST(SingleInstance, ALinkOrPipeAtTheLockPathIsNotFollowedAndRefusesTheStart) {
    TempInstallation install;
    install.WriteSettings(LoopbackSettings);
    const QString program = CopyProgramTo(install.ProgramFolder());
    const QStringList locks = LockFilesOfARun(install.ProgramFolder());
    ASSERT_EQ(locks.size(), 2)
        << "the guard's and the installation's lock files in its work folder";
    const QString existing = install.WriteFile("altrove/esistente", "contenuto");
    const QString missing = install.Root() + "/altrove/mancante";

    const struct {
        const char* Planted;
        bool (*Plant)(const QString& lock, const QString& target);
        QString Target;
    } rows[] = {
        {"link to a missing file",
         [](const QString& l, const QString& t) { return QFile::link(t, l); }, missing},
        {"link to an existing file",
         [](const QString& l, const QString& t) { return QFile::link(t, l); }, existing},
        {"named pipe",
         [](const QString& l, const QString&) {
             return ::mkfifo(QFile::encodeName(l).constData(), 0600) == 0;
         },
         {}},
    };
    for (const QString& lock : locks) {
        for (const auto& row : rows) {
            SCOPED_TRACE(lock.toStdString() + ": " + row.Planted);
            ASSERT_TRUE(QFile::remove(lock));
            ASSERT_TRUE(row.Plant(lock, row.Target));
            RunningProgram start(program, {"--check"}, false);
            ASSERT_TRUE(start.WaitForExit(30000)) << "the start does not hang";
            EXPECT_EQ(start.ExitCode(), 1);
            const QString error = start.StandardError();
            EXPECT_TRUE(error.contains(SecondInstanceMessage + "Orvanto")) << error.toStdString();
            EXPECT_TRUE(error.contains(lock)) << error.toStdString();
        }
        // The next start makes the lock file anew.
        ASSERT_TRUE(QFile::remove(lock));
    }
    EXPECT_FALSE(QFileInfo::exists(missing)) << "the link was followed";
    EXPECT_EQ(install.ReadFile("altrove/esistente"), QByteArray("contenuto"));
}

TEST(SingleInstance, LocksAnotherUserHoldsOutsideTheInstallationDoNotBlockIt) {
    TempInstallation install;
    install.WriteSettings(LoopbackSettings);
    install.WriteFile("Altra/velmora.ini", LoopbackSettings);
    CopyProgramTo(install.ProgramFolder());
    CopyProgramTo(install.Root() + "/Altra/");
    // A temporary folder every user may write, as the system's.
    QTemporaryDir shared;
    ASSERT_EQ(::chmod(QFile::encodeName(shared.path()).constData(), 01777), 0);
    install.Environment().Set("TMPDIR", shared.path());
    install.Environment().Unset("XDG_RUNTIME_DIR");
    MakeWorldReadable(install.Root());

    // Whatever a run leaves in the shared folder, another user may have made first and hold;
    // so may that user hold the lock of another installation.
    QStringList held = LockFilesOfARun(install.Root() + "/Altra/");
    LockFilesOfARun(install.ProgramFolder());
    for (const QString& name : QDir(shared.path()).entryList(QDir::Files | QDir::Hidden)) {
        ASSERT_TRUE(QFile::remove(shared.path() + "/" + name));
        held << shared.path() + "/" + name;
    }
    ASSERT_FALSE(held.isEmpty());
    std::vector<std::unique_ptr<LockOfAnotherUser>> locks;
    for (const QString& path : held)
        locks.push_back(std::make_unique<LockOfAnotherUser>(path));

    RunningProgram check(install.ProgramFolder() + "Orvanto", {"--check"}, false);
    ASSERT_TRUE(check.WaitForExit(30000));
    EXPECT_NE(check.ExitCode(), 1) << check.StandardError().toStdString();
}

TEST(SingleInstance, AUserWhoCannotWriteTheInstallationIsRefusedOnlyWhileItRuns) {
    TempInstallation install;
    install.WriteSettings(LoopbackSettings);
    const QString program = CopyProgramTo(install.ProgramFolder());
    MakeWorldReadable(install.Root());
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeGroup | QFile::ExeOther);
    const QStringList check = AsNobody.mid(1) + QStringList{program, "--check"};

    RunningProgram alone(AsNobody.first(), check, false);
    ASSERT_TRUE(alone.WaitForExit(30000));
    EXPECT_NE(alone.ExitCode(), 1) << alone.StandardError().toStdString();
    EXPECT_TRUE(alone.StandardError().contains("amministratore"))
        << "no lock file yet: the check runs and asks for an administrator";

    RunningProgram running(program, {}, true);
    ASSERT_FALSE(running.WaitForExit(StartupWait)) << running.StandardError().toStdString();
    RunningProgram second(AsNobody.first(), check, false);
    ASSERT_TRUE(second.WaitForExit(30000));
    EXPECT_EQ(second.ExitCode(), 1) << "the lock file is locked read-only";
    EXPECT_TRUE(second.StandardError().contains(SecondInstanceMessage + "Orvanto"));
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
