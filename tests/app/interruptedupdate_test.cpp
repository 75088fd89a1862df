#include "support/demosite.h"
#include "support/installationsnapshot.h"
#include "support/smalldisk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

// The real updater killed with SIGKILL at chosen moments of an update on the demo installation:
// the next start puts the installation back as it was, says so, and a later update succeeds.

namespace {

const QString RolledBack = QStringLiteral("L'ultimo aggiornamento non era terminato");

// The renames the updater itself makes during "--update", as "from|to", in order.
QStringList RenamesOfAnUpdate(const std::function<void(const DemoSite&)>& arrange) {
    DemoSite site;
    arrange(site);
    return site.RenamesDuring({"--update"});
}

} // namespace

TEST(InterruptedUpdate, KilledAtAnyOfItsStepsTheNextStartPutsTheInstallationBack) {
    const auto asIs = [](const DemoSite&) {
    };
    const QStringList good = RenamesOfAnUpdate(asIs);
    const QStringList failing = RenamesOfAnUpdate(&DemoSite::PublishFailingScript);
    const auto index = [](const QStringList& renames, const QString& pattern, int occurrence) {
        int seen = 0;
        for (int i = 0; i < renames.size(); ++i) {
            if (renames[i].contains(QRegularExpression(pattern)) && ++seen == occurrence)
                return i + 1;
        }
        return 0;
    };
    const struct {
        const char* Case;
        std::function<void(const DemoSite&)> Arrange;
        // The rename before which the updater is killed: the n-th one matching the pattern.
        int KillAt;
        // The next start says that it put the installation back.
        bool Told;
        // The release is sound: a later update must succeed.
        bool Sound;
    } table[] = {
        {"during the backup, before the archive is named", asIs, index(good, R"(\.7z\.part\|)", 1),
         false, true},
        {"between two replacements", asIs, index(good, R"(Orvo/Copiare/BlokTrade\.dll\|)", 1), true,
         true},
        {"right after the script ran", asIs, index(good, R"(\|.*aggiornamento-in-corso\.ini$)", 3),
         true, true},
        {"during the rollback of a failed script", &DemoSite::PublishFailingScript,
         index(failing, R"(Orvo/Ripristino/Velmora\.exe\|)", 1), true, false},
    };
    for (const auto& row : table) {
        ASSERT_GT(row.KillAt, 0) << row.Case << ": no such step in\n"
                                 << good.join('\n').toStdString();
        DemoSite site;
        row.Arrange(site);
        InstallationSnapshot before = TakeSnapshot(site);
        const QString injection = QString("inject=rename:signal=SIGKILL:when=%1").arg(row.KillAt);
        const DemoSite::Result killed =
            site.Run({"--update"},
                     {"strace", "-qq", "-o", "/dev/null", "-e", "trace=rename", "-e", injection});
        EXPECT_NE(killed.ExitCode, 0) << row.Case;

        const DemoSite::Result next = site.Run({"--check"});
        EXPECT_EQ(next.ExitCode, 3) << row.Case << ": " << next.Errors.toStdString();
        EXPECT_EQ(next.Errors.contains(RolledBack), row.Told) << row.Case;
        EXPECT_EQ(TakeSnapshot(site), before) << row.Case;
        EXPECT_FALSE(QFile::exists(site.ProgramFolder() + "Orvo/aggiornamento-in-corso.ini"))
            << row.Case;

        if (row.Sound) {
            const DemoSite::Result later = site.Run({"--update"});
            EXPECT_EQ(later.ExitCode, 0) << row.Case << ": " << later.Errors.toStdString();
            EXPECT_TRUE(site.Read("Velmora.exe").startsWith("Velmora 3.12.0")) << row.Case;
            EXPECT_EQ(TakeSnapshot(site).Schema, "206") << row.Case;
        }
    }
}

TEST(InterruptedUpdate, SettingsOnAFullDiskAreNeverLostAndTheUpdateEndsAfterSpaceIsFreed) {
    DemoSite site;
    // velmora.ini moves to the per-user folder, on a disk of its own that is full.
    QTemporaryDir home;
    const QString folder = home.path() + "/Keltra/Velmora";
    SmallDisk disk(folder, 64);
    if (!disk.Mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QByteArray settings = site.Read("velmora.ini");
    QFile::remove(site.ProgramFolder() + "velmora.ini");
    QFile moved(folder + "/velmora.ini");
    ASSERT_TRUE(moved.open(QIODevice::WriteOnly) && moved.write(settings) == settings.size());
    moved.close();
    site.Environment["XDG_CONFIG_HOME"] = home.path();
    const InstallationSnapshot before = TakeSnapshot(site);
    disk.Fill();

    const DemoSite::Result update = site.Run({"--update"});
    EXPECT_EQ(update.ExitCode, 4) << update.Errors.toStdString();
    EXPECT_TRUE(update.Errors.contains("Impossibile applicare gli aggiornamenti"));
    EXPECT_TRUE(update.Errors.contains("liberare") || update.Errors.contains("No space"))
        << update.Errors.toStdString();
    QFile kept(folder + "/velmora.ini");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), settings) << "the settings are whole";

    disk.Free();
    const DemoSite::Result next = site.Run({"--check"});
    EXPECT_EQ(next.ExitCode, 3) << next.Errors.toStdString();
    EXPECT_TRUE(next.Errors.contains(RolledBack)) << update.Errors.toStdString() << "\n---\n"
                                                  << next.Errors.toStdString();
    const InstallationSnapshot after = TakeSnapshot(site);
    EXPECT_EQ(after.Files.value("Velmora.exe"), before.Files.value("Velmora.exe"));
    EXPECT_EQ(after.Schema, before.Schema);

    const DemoSite::Result later = site.Run({"--update"});
    EXPECT_EQ(later.ExitCode, 0) << later.Errors.toStdString();
    kept.close();
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_TRUE(kept.readAll().contains("Versione=3.12.0"));
}

TEST(InterruptedUpdate, KilledAroundItsOwnReplacementTheUpdaterIsStillThere) {
    // The new updater is a stand-in that tells version 1.7.2 and records its start.
    const auto newUpdater = [](const DemoSite& site) {
        QFile::remove(site.ReleaseFolder() + "Orvanto");
        QFile::copy(ORVANTO_RESTART_STANDIN, site.ReleaseFolder() + "Orvanto");
        site.Republish({"Orvanto=1.7.2"});
    };
    const QStringList renames = RenamesOfAnUpdate(newUpdater);
    int intoPlace = 0;
    for (int i = 0; i < renames.size(); ++i) {
        if (renames[i].contains(QRegularExpression(R"(Orvo/Copiare/Orvanto\|.*/Orvanto$)")))
            intoPlace = i + 1;
    }
    ASSERT_GT(intoPlace, 0) << renames.join('\n').toStdString();
    const struct {
        const char* Case;
        QString Injection;
    } table[] = {
        {"before the old updater gets its kept name", "inject=link:signal=SIGKILL:when=1"},
        {"before the new updater is renamed into place",
         QString("inject=rename:signal=SIGKILL:when=%1").arg(intoPlace)},
    };
    for (const auto& row : table) {
        DemoSite site;
        newUpdater(site);
        const QByteArray updater = site.Read("Orvanto");
        const InstallationSnapshot before = TakeSnapshot(site);
        const DemoSite::Result killed =
            site.Run({"--update"}, {"strace", "-qq", "-o", "/dev/null", "-e", "trace=rename,link",
                                    "-e", row.Injection});
        EXPECT_NE(killed.ExitCode, 0) << row.Case;
        const QFileInfo present(site.ProgramFolder() + "Orvanto");
        EXPECT_TRUE(present.isFile() && present.isExecutable()) << row.Case;
        EXPECT_EQ(site.Read("Orvanto"), updater) << row.Case;

        const DemoSite::Result next = site.Run({"--check"});
        EXPECT_EQ(next.ExitCode, 3) << row.Case << ": " << next.Errors.toStdString();
        EXPECT_TRUE(next.Errors.contains(RolledBack)) << row.Case;
        EXPECT_EQ(TakeSnapshot(site), before) << row.Case;
        EXPECT_EQ(site.Read("Orvanto"), updater) << row.Case;
        EXPECT_FALSE(QFile::exists(site.ProgramFolder() + "Orvo/aggiornamento-in-corso.ini"))
            << row.Case;
    }
}

TEST(InterruptedUpdate, ARestoreEndsWithTheArchivedInstallationWhetherOrNotItWasKilledHalfWay) {
    const auto updated = [](DemoSite& site) {
        // The update adds BlokPlanner.dll: the restore must leave it only as a kept copy.
        EXPECT_TRUE(QFile::remove(site.ProgramFolder() + "BlokPlanner.dll"));
        const InstallationSnapshot before = TakeSnapshot(site);
        EXPECT_EQ(site.Run({"--update"}).ExitCode, 0);
        EXPECT_NE(TakeSnapshot(site), before);
        return before;
    };
    const auto archive = [](const DemoSite& site) {
        return QDir(site.ProgramFolder() + "Orvo/Backup").entryList({"*.7z"}).value(0);
    };
    const QStringList renames = [&] {
        DemoSite site;
        updated(site);
        return site.RenamesDuring({"--restore", archive(site), "--yes"});
    }();
    int killAt = 0;
    while (killAt < renames.size() && !renames[killAt].contains("Orvo/Ripristino/Velmora.exe|"))
        ++killAt;
    ASSERT_LT(killAt, renames.size()) << renames.join('\n').toStdString();

    const struct {
        const char* Case;
        // Before which rename the restore is killed; none when 0.
        int KillAt;
    } table[] = {{"in one go", 0}, {"killed half-way", killAt + 1}};
    for (const auto& row : table) {
        SCOPED_TRACE(row.Case);
        DemoSite site;
        const InstallationSnapshot before = updated(site);
        const QString name = archive(site);
        const QStringList wrapper =
            row.KillAt == 0
                ? QStringList()
                : QStringList{
                      "strace", "-qq",
                      "-o",     "/dev/null",
                      "-e",     "trace=rename",
                      "-e",     QString("inject=rename:signal=SIGKILL:when=%1").arg(row.KillAt)};
        const DemoSite::Result restore = site.Run({"--restore", name, "--yes"}, wrapper);
        if (row.KillAt == 0) {
            EXPECT_EQ(restore.ExitCode, 0) << restore.Errors.toStdString();
            EXPECT_EQ(restore.Output.split('\n').filter(name + "\tripristinato").size(), 1)
                << restore.Output.toStdString();
            EXPECT_TRUE(restore.Errors.contains("Ripristino completato: l'installazione è tornata "
                                                "com'era nell'archivio '" +
                                                name + "'."))
                << restore.Errors.toStdString();
        } else {
            EXPECT_NE(restore.ExitCode, 0);
            ASSERT_TRUE(QFile::exists(site.ProgramFolder() + "Orvo/aggiornamento-in-corso.ini"));
        }

        // Velmora is the archived one again, and its version says so: the check proposes the
        // newer release once more, and the kept copies of the later one are gone.
        const DemoSite::Result next = site.Run({"--check"});
        EXPECT_EQ(next.ExitCode, 3) << next.Errors.toStdString();
        EXPECT_EQ(next.Errors.contains("L'ultimo ripristino non era terminato: è stato concluso"),
                  row.KillAt != 0)
            << next.Errors.toStdString();
        EXPECT_FALSE(next.Errors.contains("L'ultimo aggiornamento")) << next.Errors.toStdString();
        EXPECT_TRUE(next.Output.contains("Velmora\t3.11.0\t3.12.0")) << next.Output.toStdString();
        EXPECT_EQ(TakeSnapshot(site), before);
        EXPECT_FALSE(QFile::exists(site.ProgramFolder() + "BlokPlanner.bak"));
    }
}
