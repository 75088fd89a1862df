#include "core/workfolder.h"
#include "support/tempinstall.h"

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct stat StatusOf(const QString& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &status), 0) << path.toStdString();
    return status;
}

} // namespace

TEST(WorkFile, WhatIsNotARegularFileOfItsOwnIsRefusedWithItsPathAndLeftAlone) {
    TempInstallation install;
    const QString elsewhere = install.WriteFile("altrove/esistente", "contenuto");
    const QString path = install.ProgramFolder() + "Orvo/orvanto.log";
    const struct {
        const char* Name;
        std::function<bool()> Plant;
        const char* Found;
    } rows[] = {
        {"link to a file", [&] { return QFile::link(elsewhere, path); }, "collegamento simbolico"},
        {"link to nothing", [&] { return QFile::link(elsewhere + ".no", path); },
         "collegamento simbolico"},
        {"FIFO", [&] { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }, "FIFO"},
        {"folder", [&] { return QDir().mkdir(path); }, "cartella"},
        {"second name of a file",
         [&] {
             return ::link(QFile::encodeName(elsewhere).constData(),
                           QFile::encodeName(path).constData()) == 0;
         },
         "collegamenti fisici"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        ASSERT_TRUE(row.Plant());
        try {
            OpenWorkFile(path, O_WRONLY | O_CREAT | O_TRUNC);
            ADD_FAILURE() << "opened";
        } catch (const OrvantoError& error) {
            EXPECT_TRUE(error.Message().contains(path + ": ")) << error.Message().toStdString();
            EXPECT_TRUE(error.Message().contains(row.Found)) << error.Message().toStdString();
        }
        EXPECT_EQ(install.ReadFile("altrove/esistente"), QByteArray("contenuto"));
        EXPECT_FALSE(QFile::exists(elsewhere + ".no"));
        ASSERT_TRUE(QFileInfo(path).isDir() && !QFileInfo(path).isSymLink() ? QDir().rmdir(path)
                                                                            : QFile::remove(path));
    }

    install.WriteFile("Velmora/Orvo/orvanto.log", "vecchio");
    const Descriptor file = OpenWorkFile(path, O_WRONLY | O_CREAT | O_TRUNC);
    ASSERT_EQ(::write(file.Get(), "nuovo", 5), 5);
    EXPECT_EQ(install.ReadFile("Velmora/Orvo/orvanto.log"), QByteArray("nuovo"));
}

TEST(WorkFolderCreation, MakesFoldersWithTheirModesForTheInstallationsOwnerAndRefusesLinks) {
    TempInstallation install;
    const QString program = install.ProgramFolder();
    ASSERT_TRUE(QDir(program + "Orvo").removeRecursively());
    // An installation owned by another user, the run's umask keeping everything private.
    ASSERT_EQ(::chown(QFile::encodeName(program).constData(), 65534, 65534), 0);
    const mode_t umask = ::umask(077);
    EnsureWorkFolder(program + "Orvo/Backup/", PrivateWorkFolderMode);
    EnsureWorkFolder(program + "Orvo/Copiare", SharedWorkFolderMode);
    ::umask(umask);
    for (const auto& [folder, mode] : {std::pair{QString("Orvo"), 0755},
                                       {QString("Orvo/Backup"), 0700},
                                       {QString("Orvo/Copiare"), 0755}}) {
        SCOPED_TRACE(folder.toStdString());
        const struct stat status = StatusOf(program + folder);
        EXPECT_TRUE(S_ISDIR(status.st_mode));
        EXPECT_EQ(status.st_mode & 07777, static_cast<mode_t>(mode));
        EXPECT_EQ(status.st_uid, 65534u);
        EXPECT_EQ(status.st_gid, 65534u);
    }

    const QString elsewhere = install.Root() + "/altrove";
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(QFile::link(elsewhere, program + "Orvo/Ripristino"));
    for (const QString& folder :
         {program + "Orvo/Ripristino", program + "Orvo/Ripristino/dentro"}) {
        SCOPED_TRACE(folder.toStdString());
        try {
            EnsureWorkFolder(folder, PrivateWorkFolderMode);
            ADD_FAILURE() << "accepted";
        } catch (const OrvantoError& error) {
            EXPECT_TRUE(error.Message().contains(program + "Orvo/Ripristino: è un collegamento"))
                << error.Message().toStdString();
        }
    }
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
}
