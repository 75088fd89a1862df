#include "support/demosite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

// Links, FIFOs and folders planted in the work folder of the demo installation, whose update
// would fail its script and roll back: a real update run stops at once, naming the planted path,
// changes nothing elsewhere and never waits on a FIFO.

namespace {

enum class Planted { LinkToFile, LinkToFolder, Fifo, Folder };

bool Plant(const QString& path, Planted what, const QString& elsewhere) {
    QDir().mkpath(QFileInfo(path).path());
    switch (what) {
    case Planted::LinkToFile:
        return QFile::link(elsewhere + "/esistente", path);
    case Planted::LinkToFolder:
        return QFile::link(elsewhere, path);
    case Planted::Fifo:
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    case Planted::Folder:
        return QDir().mkdir(path);
    }
    return false;
}

} // namespace

TEST(WorkFolder, APlantedLinkFifoOrFolderStopsTheRunNamingItsPath) {
    DemoSite site;
    site.PublishFailingScript();
    const QString elsewhere = site.Folder() + "/altrove";
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    QFile outside(elsewhere + "/esistente");
    ASSERT_TRUE(outside.open(QIODevice::WriteOnly) && outside.write("contenuto") == 9);
    outside.close();

    const struct {
        const char* Path;
        Planted What;
        int ExitCode;
    } rows[] = {
        {"Orvo/orvanto.log", Planted::LinkToFile, 4},
        {"Orvo/orvanto.log", Planted::Fifo, 4},
        {"Orvo/aggiornamento-in-corso.ini.nuovo", Planted::LinkToFile, 4},
        {"Orvo/aggiornamento-in-corso.ini", Planted::LinkToFile, 4},
        {"Orvo/aggiornamento-in-corso.ini", Planted::Fifo, 4},
        {"Orvo/aggiornamento-in-corso.ini", Planted::Folder, 4},
        {"Orvo/firma-catalogo.ini", Planted::Fifo, 4},
        {"Orvo/Copiare/update.ini", Planted::LinkToFile, 4},
        {"Orvo/Copiare/Velmora.exe.7z.part", Planted::LinkToFile, 4},
        {"Orvo/Ripristino", Planted::LinkToFolder, 4},
        {"Orvo/Backup", Planted::LinkToFolder, 4},
        // The work folder itself is refused by the guard taken first at every start.
        {"Orvo", Planted::LinkToFolder, 1},
    };
    for (const auto& row : rows) {
        const QString path = site.ProgramFolder() + row.Path;
        SCOPED_TRACE(path.toStdString());
        // A folder the run made stands aside while a link takes its place.
        const bool aside = QFileInfo(path).isDir();
        if (aside) {
            ASSERT_TRUE(QDir().rename(path, path + ".via"));
        }
        ASSERT_TRUE(Plant(path, row.What, elsewhere));

        const DemoSite::Result run = site.Run({"--update", "--quiet"});
        EXPECT_EQ(run.ExitCode, row.ExitCode) << run.Errors.toStdString();
        EXPECT_TRUE(run.Errors.contains(path + ":")) << run.Errors.toStdString();
        EXPECT_EQ(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList{"esistente"});
        EXPECT_EQ(site.Read("../altrove/esistente"), QByteArray("contenuto"));
        EXPECT_TRUE(site.Read("Velmora.exe").startsWith("Velmora 3.11.0"));

        if (row.What == Planted::Folder)
            ASSERT_TRUE(QDir().rmdir(path));
        else
            ASSERT_TRUE(QFile::remove(path));
        if (aside) {
            ASSERT_TRUE(QDir().rename(path + ".via", path));
        }
    }
}
