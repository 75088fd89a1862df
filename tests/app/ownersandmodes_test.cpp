#include "support/demosite.h"
#include "support/firebirdfixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// An installation that belongs to Velmora's users (here "nobody"), whose database they may write
// (0660), updated, rolled back, restored and recovered by root under umask 077: every file keeps
// its owner, group and mode, and the files an update adds are readable as their neighbours.

namespace {

struct Attributes {
    uid_t Owner = 0;
    gid_t Group = 0;
    mode_t Mode = 0;
    bool operator==(const Attributes&) const = default;
};

QString Describe(const Attributes& a) {
    return QString("%1:%2 %3").arg(a.Owner).arg(a.Group).arg(a.Mode, 4, 8, QChar('0'));
}

Attributes Of(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return {status.st_uid, status.st_gid, static_cast<mode_t>(status.st_mode & 07777)};
}

// Every file of the installation but Orvanto's own folder and the kept copies.
QMap<QString, QString> Installation(const DemoSite& site) {
    QMap<QString, QString> files;
    const QString root = site.ProgramFolder();
    QDirIterator walk(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        const QString name = path.mid(root.size());
        if (!name.startsWith("Orvo/") && !name.endsWith(".bak"))
            files[name] = Describe(Of(path));
    }
    return files;
}

QString Differences(const QMap<QString, QString>& expected, const QMap<QString, QString>& got) {
    QStringList lines;
    for (auto i = expected.begin(); i != expected.end(); ++i) {
        if (got.value(i.key()) != i.value())
            lines.append(i.key() + ": " + i.value() + " -> " + got.value(i.key(), "<missing>"));
    }
    for (auto i = got.begin(); i != got.end(); ++i) {
        if (!expected.contains(i.key()))
            lines.append(i.key() + ": added " + i.value());
    }
    return lines.join('\n');
}

// A run of the installation's Orvanto under umask 077, through a wrapper when one is given.
DemoSite::Result RunPrivately(const DemoSite& site, const QString& arguments,
                              const QString& wrapper = QString()) {
    return site.Shell("umask 077; exec " + wrapper + " '" + site.ProgramFolder() + "Orvanto' " +
                      arguments);
}

} // namespace

TEST(OwnersAndModes, AreKeptByUpdatesRollbacksRestoresAndRecoveries) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the installation to another user needs root";
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    ASSERT_TRUE(nobody && nogroup);
    DemoSite site;
    const QString folder = site.ProgramFolder();
    // The update adds BlokPlanner.dll.
    ASSERT_TRUE(QFile::remove(folder + "BlokPlanner.dll"));
    ASSERT_EQ(site.Shell("chown -R nobody:nogroup '" + folder + "' && chmod 0660 '" + folder +
                         "velmora.fdb' && chmod 0640 '" + folder + "velmora.ini' && chmod 0750 '" +
                         folder + "Velmora.exe' && chmod 0755 '" + folder + "'")
                  .ExitCode,
              0);
    const QMap<QString, QString> before = Installation(site);
    ASSERT_EQ(before.value("velmora.fdb"), Describe({nobody->pw_uid, nogroup->gr_gid, 0660}));

    // An update killed between two replacements, and the next start that puts it back.
    const DemoSite::Result killed = RunPrivately(site, "--update",
                                                 "strace -qq -o /dev/null -e trace=link -e "
                                                 "inject=link:signal=SIGKILL:when=3");
    EXPECT_NE(killed.ExitCode, 0);
    EXPECT_TRUE(QFile::exists(folder + "Orvo/aggiornamento-in-corso.ini")) << "killed half-way";
    const DemoSite::Result recovered = RunPrivately(site, "--check");
    EXPECT_EQ(recovered.ExitCode, 3) << recovered.Errors.toStdString();
    EXPECT_TRUE(recovered.Errors.contains("L'ultimo aggiornamento non era terminato"))
        << recovered.Errors.toStdString();
    EXPECT_EQ(Differences(before, Installation(site)).toStdString(), "") << "after the recovery";

    // A successful update: what it replaces keeps owner and mode, what it adds is readable.
    const DemoSite::Result update = RunPrivately(site, "--update");
    EXPECT_EQ(update.ExitCode, 0) << update.Errors.toStdString();
    QMap<QString, QString> updated = before;
    updated["BlokPlanner.dll"] = Describe({nobody->pw_uid, nogroup->gr_gid, 0644});
    EXPECT_EQ(Differences(updated, Installation(site)).toStdString(), "") << "after the update";
    EXPECT_TRUE(site.Read("velmora.ini").contains("Versione=3.12.0"));
    // The backup holds the database: it is no more readable than the database.
    const QStringList archives =
        QDir(folder + "Orvo/Backup").entryList({"*.7z"}, QDir::Files, QDir::Name);
    ASSERT_FALSE(archives.isEmpty());
    for (const QString& archive : archives) {
        const Attributes made = Of(folder + "Orvo/Backup/" + archive);
        EXPECT_EQ(made.Mode & 0077, 0040u)
            << archive.toStdString() << " " << Describe(made).toStdString();
        EXPECT_EQ(made.Group, nogroup->gr_gid) << archive.toStdString();
    }

    // The restore of the archive made before that update: the file the update added is left
    // only as its kept copy, and Velmora's version is the archived one.
    const DemoSite::Result restore = RunPrivately(site, "--restore " + archives.last() + " --yes");
    EXPECT_EQ(restore.ExitCode, 0) << restore.Errors.toStdString();
    EXPECT_EQ(Differences(before, Installation(site)).toStdString(), "") << "after the restore";
    EXPECT_TRUE(site.Read("velmora.ini").contains("Versione=3.11.0"));
    EXPECT_TRUE(site.Read("Velmora.exe").startsWith("Velmora 3.11.0"));

    // A failed update (its script fails): the rollback puts back files and database as they were.
    site.PublishFailingScript();
    const DemoSite::Result failed = RunPrivately(site, "--update");
    EXPECT_EQ(failed.ExitCode, 4) << failed.Errors.toStdString();
    EXPECT_EQ(Differences(before, Installation(site)).toStdString(), "") << "after the rollback";
    EXPECT_EQ(QueryValue(site.DatabaseFile(),
                         "SELECT CAST(RDB$DESCRIPTION AS VARCHAR(20)) FROM RDB$DATABASE"),
              "205");
}

TEST(OwnersAndModes, ASettingsFileBehindALinkIsWrittenWhereTheLinkLeadsAndKeepsItsOwner) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "giving the settings to another user needs root";
    DemoSite site;
    // velmora.ini lives in a folder of its own, belongs to Velmora's users and is writable by
    // their group; the program folder holds a relative link to it.
    const QString link = site.ProgramFolder() + "velmora.ini";
    const QString target = site.Folder() + "/impostazioni/velmora.ini";
    ASSERT_EQ(site.Shell("mkdir '" + site.Folder() + "/impostazioni' && mv '" + link + "' '" +
                         target + "' && chown -R nobody:nogroup '" + site.Folder() +
                         "/impostazioni' && chmod 0664 '" + target + "' && ln -s " +
                         "../impostazioni/velmora.ini '" + link + "'")
                  .ExitCode,
              0);
    // What the person keeps in the settings besides the version stays through every run.
    const QByteArray personal = "[UTENTE]\r\nTema=scuro\r\n";
    {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::Append) && file.write(personal) == personal.size());
    }
    const Attributes owned = Of(target);
    const auto settings = [&] {
        QFile file(target);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto firstArchive = [&] {
        return QDir(site.ProgramFolder() + "Orvo/Backup").entryList({"*.7z"}, QDir::Files).value(0);
    };
    const struct {
        const char* Step;
        bool FailingScript;
        // "ARCHIVE" stands for the archive the update made.
        QString Arguments;
        int ExitCode;
        const char* Version;
    } steps[] = {
        {"the update", false, "--update", 0, "Versione=3.12.0"},
        {"the restore", false, "--restore ARCHIVE --yes", 0, "Versione=3.11.0"},
        {"a failed update", true, "--update", 4, "Versione=3.11.0"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Step);
        if (step.FailingScript)
            site.PublishFailingScript();
        const DemoSite::Result run =
            RunPrivately(site, QString(step.Arguments).replace("ARCHIVE", firstArchive()));
        EXPECT_EQ(run.ExitCode, step.ExitCode) << run.Errors.toStdString();
        EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link stays a link";
        EXPECT_EQ(Describe(Of(target)).toStdString(), Describe(owned).toStdString());
        EXPECT_TRUE(settings().contains(step.Version)) << settings().toStdString();
        EXPECT_TRUE(settings().endsWith(personal)) << settings().toStdString();
    }
}
