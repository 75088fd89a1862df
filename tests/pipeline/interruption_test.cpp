#include "catalogue/requiredfiles.h"
#include "pipeline/journal.h"
#include "pipeline/updateaction.h"
#include "support/faultyfilesystem.h"
#include "support/firebirdfixture.h"
#include "support/updatesite.h"

#include <QFile>
#include <gtest/gtest.h>

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

} // namespace

TEST(Interruption, EveryStopOrFullDiskEndsBeforeOrUpdated) {
    const struct {
        const char* Case;
        QByteArray Script;
        bool FullDisk;
        // At least this many operations (or writes) must be walked.
        int Walked;
    } table[] = {
        {"update stopped", GoodScript, false, 20},
        {"failing update, its rollback stopped", FailingScript, false, 20},
        {"update on a disk that fills up", GoodScript, true, 5},
    };
    for (const auto& row : table) {
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
}
