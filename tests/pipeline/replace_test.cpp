#include "core/filesystem.h"
#include "environment/inifile.h"
#include "support/faultyfilesystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

// How the file-system seam puts a new file in the place of an installed one: there is a file at
// the name at every moment, and the new file keeps the owner, group and mode of the old one.

namespace {

struct Attributes {
    uid_t Owner = 0;
    gid_t Group = 0;
    mode_t Mode = 0;
    bool operator==(const Attributes&) const = default;
    friend void PrintTo(const Attributes& a, std::ostream* out) {
        *out << a.Owner << ":" << a.Group << " " << std::oct << a.Mode << std::dec;
    }
};

Attributes Of(const QString& path) {
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return {status.st_uid, status.st_gid, static_cast<mode_t>(status.st_mode & 07777)};
}

// The account "nobody" and the group "nogroup", which own the installations of these tests.
uid_t Nobody() {
    const passwd* entry = ::getpwnam("nobody");
    return entry ? entry->pw_uid : 65534;
}
gid_t NoGroup() {
    const group* entry = ::getgrnam("nogroup");
    return entry ? entry->gr_gid : 65534;
}

class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : Saved(::umask(mask)) {}
    ~UmaskScope() { ::umask(Saved); }

private:
    mode_t Saved;
};

class ReplaceTest : public ::testing::Test {
protected:
    QString Write(const QString& name, const QByteArray& content, mode_t mode) const {
        const QString path = Dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile::remove(path); // a new file, not another name of an old one
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        ::chmod(QFile::encodeName(path).constData(), mode);
        return path;
    }
    QByteArray Read(const QString& name) const {
        QFile file(Dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static void Own(const QString& path, uid_t owner, gid_t group) {
        ASSERT_EQ(::lchown(QFile::encodeName(path).constData(), owner, group), 0);
    }

    QTemporaryDir Dir;
};

} // namespace

TEST_F(ReplaceTest, ThereIsAFileAtTheNameWhereverTheReplacementIsStopped) {
    for (const bool refuseLinks : {false, true}) {
        for (int n = 1;; ++n) {
            const std::string where =
                (refuseLinks ? "no hard links, stopped at " : "stopped at ") + std::to_string(n);
            Write("Orvanto", "old", 0755);
            Write("Orvanto.bak", "older", 0755);
            Write("Orvo/Copiare/Orvanto", "new", 0700);
            FaultyFileSystem faulty;
            faulty.StopAt = n;
            faulty.RefuseLinks = refuseLinks;
            bool stopped = false;
            try {
                faulty.ReplaceKeepingCopy(Dir.filePath("Orvo/Copiare/Orvanto"),
                                          Dir.filePath("Orvanto"), Dir.filePath("Orvanto.bak"));
            } catch (const SimulatedStop&) {
                stopped = true;
            }
            const QString at = stopped ? faulty.Done.last() : QString();
            const bool renamingAside = refuseLinks && at.startsWith("Rename") &&
                                       at.contains("Copiare") && Read("Orvanto.bak") == "old";
            if (!renamingAside) {
                EXPECT_NE(Read("Orvanto"), "<missing>") << where << ": " << at.toStdString();
            }
            if (!stopped) {
                EXPECT_EQ(Read("Orvanto"), "new") << where;
                EXPECT_EQ(Read("Orvanto.bak"), "old") << where;
                EXPECT_EQ(Of(Dir.filePath("Orvanto")).Mode, 0755u) << where;
                EXPECT_EQ(faulty.Done.filter("Link ").size(), 1) << where;
                EXPECT_EQ(faulty.Done.filter("Rename ").size(), refuseLinks ? 2 : 1) << where;
                EXPECT_GT(n, 3) << where;
                break;
            }
        }
    }
}

TEST_F(ReplaceTest, TheNewFileKeepsTheOwnerGroupAndModeOfTheOld) {
    const UmaskScope privateMask(077);
    const bool root = ::geteuid() == 0;
    const QString database = Write("velmora.fdb", "old", 0660);
    const QString program = Write("Velmora.exe", "old", 0750);
    if (root) {
        Own(database, Nobody(), NoGroup());
        Own(program, Nobody(), NoGroup());
    }
    const Attributes databaseBefore = Of(database);
    const Attributes programBefore = Of(program);
    FileSystem files;
    files.Replace(Write("Ripristino/velmora.fdb", "new", 0600), database);
    files.ReplaceKeepingCopy(Write("Copiare/Velmora.exe", "new", 0700), program,
                             Dir.filePath("Velmora.bak"));
    EXPECT_EQ(Read("velmora.fdb"), "new");
    EXPECT_EQ(Of(database), databaseBefore);
    EXPECT_EQ(Read("Velmora.exe"), "new");
    EXPECT_EQ(Of(program), programBefore);
    EXPECT_EQ(Read("Velmora.bak"), "old");
    EXPECT_EQ(Of(Dir.filePath("Velmora.bak")), programBefore);
}

TEST_F(ReplaceTest, AnAddedFileIsReadableAsItsNeighboursWhateverTheUmask) {
    const UmaskScope privateMask(077);
    const QString folder = Dir.filePath("Velmora");
    QDir().mkpath(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    const bool root = ::geteuid() == 0;
    if (root)
        Own(folder, Nobody(), NoGroup());
    FileSystem files;
    // As 7za unpacks them under umask 077: a program and a plain file.
    files.ReplaceKeepingCopy(Write("Copiare/BlokPlanner.dll", "new", 0600),
                             folder + "/BlokPlanner.dll", folder + "/BlokPlanner.bak");
    files.Replace(Write("Copiare/Orvanto", "new", 0700), folder + "/Orvanto");
    EXPECT_EQ(Of(folder + "/BlokPlanner.dll").Mode, 0644u);
    EXPECT_EQ(Of(folder + "/Orvanto").Mode, 0755u);
    if (root) {
        EXPECT_EQ(Of(folder + "/BlokPlanner.dll").Owner, Nobody()) << "the folder's owner";
        EXPECT_EQ(Of(folder + "/BlokPlanner.dll").Group, NoGroup());
    }
    files.Replace(Write("Copiare/Mappe.dll", "new", 04777), folder + "/Mappe.dll");
    EXPECT_EQ(Of(folder + "/Mappe.dll").Mode, 0755u) << "no set-id bit, no write for others";
    ::chmod(QFile::encodeName(folder).constData(), 0750);
    files.Replace(Write("Copiare/BlokJobs.dll", "new", 0600), folder + "/BlokJobs.dll");
    EXPECT_EQ(Of(folder + "/BlokJobs.dll").Mode, 0640u) << "others cannot read the folder";
}

TEST_F(ReplaceTest, WrittenSettingsKeepTheirOwnerAndModeAndTheirLink) {
    const UmaskScope privateMask(077);
    const QString settings = Write("etc/velmora.ini", "[PRINCIPALE]\r\nVersione=3.11.0\r\n", 0640);
    if (::geteuid() == 0)
        Own(settings, Nobody(), NoGroup());
    const Attributes before = Of(settings);
    const QString link = Dir.filePath("Velmora/velmora.ini");
    QDir().mkpath(Dir.filePath("Velmora"));
    ASSERT_TRUE(QFile::link("../etc/velmora.ini", link));
    FileSystem files;
    WriteIniValue(files, link, "PRINCIPALE", "Versione", "3.12.0");
    EXPECT_TRUE(QFileInfo(link).isSymLink()) << "the link stays";
    EXPECT_EQ(Read("etc/velmora.ini"), "[PRINCIPALE]\r\nVersione=3.12.0\r\n");
    EXPECT_EQ(Of(settings), before);
}
