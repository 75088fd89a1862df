#include "catalogue/requiredfiles.h"
#include "environment/lowlevel.h"
#include "pipeline/journal.h"
#include "pipeline/recovery.h"
#include "pipeline/updateaction.h"
#include "pipeline/workfolderscan.h"
#include "support/faultyfilesystem.h"
#include "support/firebirdfixture.h"
#include "support/updatesite.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <gtest/gtest.h>
#include <optional>

// Every file operation of a real update (files, settings, an embedded database with a script) is
// interrupted in turn, as a kill or a full disk would; the next start must leave the installation
// exactly as before the update or exactly updated, and a later update must succeed.

namespace {

const char* const SchemaStep = "SELECT CAST(RDB$DESCRIPTION AS VARCHAR(9)) FROM RDB$DATABASE";
const char* const ScriptTable =
    "SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'T206'";
const QByteArray GoodScript = "CREATE TABLE T206 (A INTEGER);\nCOMMIT;\n"
                              "COMMENT ON DATABASE IS '206';\nCOMMIT;\n";
// Fails after its first COMMIT: the update rolls back.
const QByteArray FailingScript = "CREATE TABLE T206 (A INTEGER);\nCOMMIT;\n"
                                 "INSERT INTO NON_ESISTE VALUES (1);\nCOMMIT;\n";

// What the person would call the installation: files, settings and database.
struct State {
    QByteArray Executable, Core, Planner, Settings;
    QString Schema, Table;
    bool operator==(const State&) const = default;
    friend void PrintTo(const State& s, std::ostream* out) {
        *out << "{" << s.Executable.toStdString() << " | " << s.Core.toStdString() << " | "
             << s.Planner.toStdString() << " | " << s.Settings.simplified().toStdString()
             << " | schema " << s.Schema.toStdString() << ", T206 " << s.Table.toStdString() << "}";
    }
};

const QByteArray SettingsBefore = "[PRINCIPALE]\r\nVersione=3.11.0\r\n";
const State Before{"old Velmora.exe", "old BlokCore.dll", "<missing>", SettingsBefore, "205", "0"};
const State After{"new Velmora.exe",
                  "new BlokCore.dll",
                  "new BlokPlanner.dll",
                  "[PRINCIPALE]\r\nVersione=3.12.0\r\n",
                  "206",
                  "1"};

// An installation with Velmora.exe and BlokCore.dll installed, BlokPlanner.dll to be added, and
// script 206 due, its packages on a real nginx.
class Installation {
public:
    explicit Installation(const QByteArray& script) {
        Site.Install.WriteSettings(SettingsBefore);
        Site.Install.WriteFile("Velmora/Velmora.exe", Before.Executable);
        Site.Install.WriteFile("Velmora/BlokCore.dll", Before.Core);
        for (const char* name : {"Velmora.exe", "BlokCore.dll", "BlokPlanner.dll"})
            Site.PublishPackage(name, QByteArray("new ") + name);
        Site.PublishPackage("modifiche206.sql", script);
        Site.WriteCatalogue(""); // the check at the end keeps the checklist as it is
        Prepare();
    }

    // The run state as the check leaves it; the list of files is cut down to keep the table short.
    void Prepare() {
        Site.Connection.Close();
        Site.Run.Checklist = {{Component::Velmora, {"3.11.0", "3.12.0", "0"}, true},
                              {Component::Schema, {"205", "206", "0"}, true}};
        Site.Run.RequiredFiles = {{Component::Velmora, "Velmora.exe", "", true},
                                  {Component::Velmora, "BlokCore.dll", "", false},
                                  {Component::Velmora, "BlokPlanner.dll", "", false},
                                  {Component::Schema, "modifiche206.sql", "", false}};
    }

    bool Update(FileSystem& files) {
        Prepare();
        const Services steps{Site.Run, Site.Ui, Site.Http, Site.Connection, files, Site.Log};
        return ActionAggiornaExecute(steps, [] {});
    }

    // A new start: what the show-time sequence does before the check.
    void Recover(FileSystem& files) {
        Prepare();
        RecoverInterruptedUpdate({Site.Run, Site.Ui, Site.Http, Site.Connection, files, Site.Log});
        ScanWorkFolders(Site.Run, 5);
    }

    State Now() const {
        const auto read = [this](const char* name) {
            QFile file(Site.Install.ProgramFolder() + name);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
        };
        return {read("Velmora.exe"),
                read("BlokCore.dll"),
                read("BlokPlanner.dll"),
                read("velmora.ini"),
                QueryValue(Site.DatabaseFile(), SchemaStep),
                QueryValue(Site.DatabaseFile(), ScriptTable)};
    }

    UpdateSite Site;
};

// One case of the walk. Each runs as a test of its own, so that the three walks (each a few
// dozen real updates) share the machine's cores and each has its own time limit.
struct InterruptionCase {
    const char* Case;
    QByteArray Script;
    bool FullDisk;
    // At least this many operations (or writes) must be walked.
    int Walked;
};

void WalkEveryStop(const InterruptionCase& row) {
    for (int n = 1;; ++n) {
        const std::string where = std::string(row.Case) + " at operation " + std::to_string(n);
        Installation install(row.Script);
        FaultyFileSystem faulty;
        (row.FullDisk ? faulty.FullFrom : faulty.StopAt) = n;
        bool stopped = false;
        bool updated = false;
        try {
            updated = install.Update(faulty);
        } catch (const SimulatedStop&) {
            stopped = true;
        } catch (const std::exception&) {
            // What reaches the default error handler: the update did not happen.
        }
        if (!stopped && (row.FullDisk ? faulty.Writes < n : faulty.Operations < n)) {
            // The fault came after the last operation: the table has been walked.
            EXPECT_EQ(install.Now(), row.Script == GoodScript ? After : Before) << where;
            EXPECT_GT(n, row.Walked) << where << ": too few operations were walked";
            break;
        }
        EXPECT_FALSE(updated && install.Now() != After) << where << ": success reported";

        // The next start is itself stopped once in the middle of its rollback, then run again.
        FaultyFileSystem stoppedAgain;
        stoppedAgain.StopAt = 8;
        try {
            install.Recover(stoppedAgain);
        } catch (const SimulatedStop&) {
        }
        FileSystem real;
        ASSERT_NO_THROW(install.Recover(real)) << where;
        EXPECT_FALSE(QFile::exists(JournalPath())) << where;
        const State recovered = install.Now();
        EXPECT_TRUE(recovered == Before || recovered == After)
            << where << ": " << ::testing::PrintToString(recovered);
        if (row.Script == FailingScript) {
            EXPECT_EQ(recovered, Before) << where;
        } else if (recovered == Before) {
            EXPECT_TRUE(install.Update(real)) << where << ": a later update succeeds";
            EXPECT_EQ(install.Now(), After) << where;
        }
    }
}

} // namespace

TEST(Interruption, EveryStopOfAnUpdateEndsBeforeOrUpdated) {
    WalkEveryStop({"update stopped", GoodScript, false, 20});
}

TEST(Interruption, EveryStopOfARollbackEndsBefore) {
    WalkEveryStop({"failing update, its rollback stopped", FailingScript, false, 20});
}

TEST(Interruption, AnUpdateOnADiskThatFillsUpEndsBeforeOrUpdated) {
    WalkEveryStop({"update on a disk that fills up", GoodScript, true, 5});
}

namespace {

QByteArray ProgramBytes(const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An installation whose updater is replaced by a newer one (a stand-in that tells version 1.7.2),
// with script 206 due after it: a failing script makes the update roll the updater back.
class UpdaterInstallation {
public:
    explicit UpdaterInstallation(const QByteArray& script) {
        Site.Install.WriteSettings(SettingsBefore);
        Updater = Site.Install.WriteFile("Velmora/Orvanto", Old);
        QFile::setPermissions(Updater, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                           QFile::ExeOther);
        Site.PublishPackage("Orvanto", New);
        Site.PublishPackage("modifiche206.sql", script);
        Site.WriteCatalogue("");
    }

    void Prepare() {
        Site.Connection.Close();
        Site.Run.Checklist = {{Component::Orvanto, {"1.7.1", "1.7.2", "0"}, true},
                              {Component::Schema, {"205", "206", "0"}, true}};
        Site.Run.RequiredFiles = {{Component::Orvanto, "Orvanto", "", false},
                                  {Component::Schema, "modifiche206.sql", "", false}};
    }

    bool Update(FileSystem& files) {
        Prepare();
        return ActionAggiornaExecute(
            {Site.Run, Site.Ui, Site.Http, Site.Connection, files, Site.Log}, [] {});
    }

    void Recover(FileSystem& files) {
        Prepare();
        RecoverInterruptedUpdate({Site.Run, Site.Ui, Site.Http, Site.Connection, files, Site.Log});
        ScanWorkFolders(Site.Run, 5);
    }

    // A file that can be started stands at the updater's name.
    bool UpdaterThere() const {
        const QFileInfo info(Updater);
        return info.isFile() && info.isExecutable() && info.size() > 0;
    }
    QByteArray Present() const {
        QFile file(Updater);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    const QByteArray Old = ProgramBytes(ORVANTO_UPDATER_SILENT);
    const QByteArray New = ProgramBytes(ORVANTO_RESTART_STANDIN);
    UpdateSite Site;
    QString Updater;
};

} // namespace

// The update, its rollback and the recovery at the next start, each stopped before every one of
// its file operations in turn (as a kill would): there is always an executable updater, and the
// next start ends with the old updater or the new one.
TEST(Interruption, ThereIsAlwaysAnUpdaterWhenItsOwnReplacementIsStopped) {
    const struct {
        const char* Case;
        QByteArray Script;
        bool RefuseLinks;
    } table[] = {
        {"update stopped", GoodScript, false},
        {"failing update, its rollback stopped", FailingScript, false},
        {"update stopped, no hard links", GoodScript, true},
        {"failing update, no hard links", FailingScript, true},
    };
    for (const auto& row : table) {
        bool replacedSeen = false;
        bool recoveryWalked = false;
        for (int n = 1; n < 200; ++n) {
            const std::string where = std::string(row.Case) + " at operation " + std::to_string(n);
            UpdaterInstallation install(row.Script);
            ASSERT_FALSE(install.Old.isEmpty());
            ASSERT_FALSE(install.New.isEmpty());
            FaultyFileSystem faulty;
            faulty.StopAt = n;
            faulty.RefuseLinks = row.RefuseLinks;
            bool stopped = false;
            try {
                install.Update(faulty);
            } catch (const SimulatedStop&) {
                stopped = true;
            } catch (const std::exception&) {
            }
            const QString stoppedAt = stopped ? faulty.Done.last() : QString();
            if (stoppedAt.startsWith("Rename ") && stoppedAt.endsWith(" " + install.Updater))
                replacedSeen = true;
            // Without hard links the moment between the two renames has no updater: the journal
            // still ends the update at the next start, once the administrator puts it back.
            const bool windowByDesign =
                row.RefuseLinks && stopped && stoppedAt.startsWith("Rename ") &&
                stoppedAt.endsWith(" " + install.Updater) && !QFile::exists(install.Updater);
            if (!windowByDesign) {
                EXPECT_TRUE(install.UpdaterThere())
                    << where << ", stopped at " << stoppedAt.toStdString();
            }
            if (windowByDesign) {
                ASSERT_TRUE(QFile::rename(KeptCopyPath(install.Updater), install.Updater));
            }
            // The last operation before the new updater would take over this process.
            const bool last = stoppedAt == "Remove " + JournalPath();
            if (!stopped || last) {
                std::printf("%s: %d stop points walked\n", row.Case, n);
                EXPECT_TRUE(replacedSeen) << where << ": the replacement was walked";
                EXPECT_EQ(install.Present(), row.Script == GoodScript ? install.New : install.Old)
                    << where;
                break;
            }

            // The recovery is stopped before each of its operations in turn when it has the new
            // updater to put back (once per row), else once in its middle.
            const std::optional<UpdateJournal> journal = ReadJournal();
            const bool walkRecovery = !recoveryWalked && journal &&
                                      journal->Phase == UpdateJournal::Stage::Applying &&
                                      install.Present() == install.New;
            recoveryWalked = recoveryWalked || walkRecovery;
            for (int again = walkRecovery ? 1 : 8; again < 60; ++again) {
                FaultyFileSystem stoppedAgain;
                stoppedAgain.StopAt = again;
                stoppedAgain.RefuseLinks = row.RefuseLinks;
                bool stoppedRecovery = false;
                try {
                    install.Recover(stoppedAgain);
                } catch (const SimulatedStop&) {
                    stoppedRecovery = true;
                }
                const QString at = stoppedRecovery ? stoppedAgain.Done.last() : QString();
                if (row.RefuseLinks && !QFile::exists(install.Updater)) {
                    ASSERT_TRUE(QFile::rename(KeptCopyPath(install.Updater), install.Updater));
                } else {
                    EXPECT_TRUE(install.UpdaterThere())
                        << where << ", recovery stopped at " << at.toStdString();
                }
                if (!stoppedRecovery || !walkRecovery)
                    break;
            }
            if (QFile::exists(JournalPath())) {
                // A recovery stopped once is ended by the next start.
                FileSystem real;
                ASSERT_NO_THROW(install.Recover(real)) << where;
            }
            EXPECT_FALSE(QFile::exists(JournalPath())) << where;
            const QByteArray present = install.Present();
            EXPECT_TRUE(present == install.Old || present == install.New) << where;
            if (row.Script == FailingScript) {
                EXPECT_EQ(present, install.Old) << where;
            }
        }
    }
}
