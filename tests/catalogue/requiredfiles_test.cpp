#include "catalogue/requiredfiles.h"
#include "catalogue/runstate.h"
#include "pipeline/workfolderscan.h"
#include "support/tempinstall.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

// What runs killed part-way leave in the work folder goes at the next scan; links among it are
// removed themselves, never followed.
TEST(WorkFolderScan, RemovesPartialFilesAndTheStagingFolderWithoutFollowingLinks) {
    TempInstallation install;
    RunState run;
    run.CopyFolder = install.CopyFolder();
    run.BackupFolder = install.BackupFolder();
    BuildRequiredFiles(run.RequiredFiles);
    const QString elsewhere = install.WriteFile("altrove/esistente", "contenuto");
    const QString orvo = install.ProgramFolder() + "Orvo/";

    for (const bool stagingIsALink : {false, true}) {
        SCOPED_TRACE(stagingIsALink ? "staging folder is a link" : "staging folder");
        install.WriteFile("Velmora/Orvo/Copiare/Velmora.exe.7z.part", "metà");
        ASSERT_TRUE(QFile::link(elsewhere, orvo + "Copiare/BlokCore.dll.7z.part"));
        install.WriteFile("Velmora/Orvo/Copiare/note.txt", "di chi amministra");
        install.WriteFile("Velmora/Orvo/Backup/261211_101010.7z.part", "archivio a metà");
        if (stagingIsALink) {
            ASSERT_TRUE(QFile::link(install.Root() + "/altrove", orvo + "Ripristino"));
        } else {
            install.WriteFile("Velmora/Orvo/Ripristino/velmora.fdb", "database");
            ASSERT_TRUE(QFile::link(install.Root() + "/altrove", orvo + "Ripristino/cartella"));
        }

        EXPECT_TRUE(ScanWorkFolders(run, 3));
        EXPECT_EQ(QDir(orvo + "Copiare")
                      .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                  QStringList{"note.txt"});
        EXPECT_TRUE(
            QDir(orvo + "Backup").isEmpty(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot));
        EXPECT_FALSE(QFileInfo(orvo + "Ripristino").exists() ||
                     QFileInfo(orvo + "Ripristino").isSymLink());
        EXPECT_EQ(install.ReadFile("altrove/esistente"), QByteArray("contenuto"));
    }
}
