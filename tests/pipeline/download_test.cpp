#include "catalogue/requiredfiles.h"
#include "pipeline/download.h"
#include "support/fileserver.h"
#include "support/nginxserver.h"
#include "support/updatesite.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class DownloadTest : public ::testing::Test {
protected:
    DownloadTest() {
        // A server of our own that logs every request, so that fetches can be counted.
        Site.Server = std::make_unique<NginxServer>(
            Site.ServedFolder(),
            NginxServer::Options{false, false,
                                 "    access_log " + LogFolder.path() + "/access.log;\n"});
        Site.Run.RemoteUrl = Site.Server->BaseUrl();
    }

    void Tick(const QString& caption, bool checked = true) {
        Site.Run.Checklist.append({caption, {}, checked});
    }

    QString Work(const QString& name) const { return Site.Run.CopyFolder + name; }

    QByteArray Read(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // How often the server was asked for a package. A last request on the same kept-open
    // connection makes sure the server has logged the ones before it.
    int Requests(const QString& package) {
        QBuffer ignored;
        ignored.open(QIODevice::WriteOnly);
        try {
            Site.Http.Get(Site.Run.RemoteUrl + "sentinel", ignored);
        } catch (const std::exception&) {
        }
        return QString::fromUtf8(Read(LogFolder.path() + "/access.log"))
            .count("\"GET /" + package + " HTTP/");
    }

    QStringList Captions() const {
        QStringList captions;
        for (const QString& event : Site.Ui.Events) {
            if (event.startsWith("caption: "))
                captions.append(event.mid(9));
        }
        return captions;
    }

    // A package of whatever `make` leaves in an empty folder, each entry archived as it is.
    void PublishMade(const QString& fileName, const std::function<void(const QString&)>& make) {
        QTemporaryDir folder;
        make(folder.path() + "/");
        QProcess archiver;
        archiver.setWorkingDirectory(folder.path());
        archiver.start("7za",
                       QStringList{"a", Site.ServedFolder() + fileName + ".7z"} +
                           QDir(folder.path())
                               .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot));
        ASSERT_TRUE(archiver.waitForFinished(60000) && archiver.exitCode() == 0);
        MakeWorldReadable(Site.ServedFolder());
    }

    QTemporaryDir LogFolder;
    UpdateSite Site;
};

QString Sha256(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex());
}

} // namespace

TEST_F(DownloadTest, NoTickedRowFetchesNothing) {
    Tick(Component::Mappe, false);
    Site.Run.DownloadedCount = 7;
    EXPECT_TRUE(DownloadUpdates(Site.Steps));
    EXPECT_EQ(Site.Run.DownloadedCount, 0);
    EXPECT_EQ(Captions(), QStringList({"Download", "Download"}));
    EXPECT_TRUE(Site.Ui.DownloadVisible);
    EXPECT_TRUE(QDir(Site.Run.CopyFolder).isEmpty());
    EXPECT_TRUE(Site.Ui.Messages.isEmpty());
}

TEST_F(DownloadTest, FetchesTickedRowsInRowOrderThenListOrder) {
    Site.PublishPackage("dbexpida41.dll", "driver");
    Site.PublishPackage("atlas.html", "map");
    Site.PublishPackage("WebView2Loader.dll", "loader");
    Tick(Component::Dbexpress);
    Tick(Component::Orvanto, false);
    // Captions differing in case only fetch nothing: no Velmora package is served.
    Tick("velmora");
    Tick(Component::Mappe);
    ASSERT_TRUE(DownloadUpdates(Site.Steps));
    // The packages travel at once: each is named while it arrives, in whatever order.
    const QStringList captions = Captions();
    EXPECT_EQ(captions.first(), "Download");
    EXPECT_EQ(captions.last(), "Download");
    for (const char* name : {"dbexpida41.dll", "atlas.html", "WebView2Loader.dll"})
        EXPECT_TRUE(captions.contains(QString("Download ") + name)) << name;
    EXPECT_EQ(Site.Run.DownloadedCount, 3);
    // The bar ends full, measured in the bytes of all three packages.
    qint64 packageBytes = 0;
    for (const char* name : {"dbexpida41.dll", "atlas.html", "WebView2Loader.dll"})
        packageBytes += QFileInfo(Site.ServedFolder() + name + ".7z").size();
    EXPECT_EQ(Site.Ui.DownloadMaximum, packageBytes);
    EXPECT_EQ(Site.Ui.DownloadPosition, packageBytes);
    EXPECT_EQ(Read(Work("dbexpida41.dll")), "driver");
    EXPECT_EQ(Read(Work("atlas.html")), "map");
    EXPECT_EQ(Read(Work("WebView2Loader.dll")), "loader");
    EXPECT_EQ(QDir(Site.Run.CopyFolder).entryList(QDir::Files | QDir::Hidden).size(), 3)
        << "no package file and no temporary file is left";
    EXPECT_TRUE(Site.Ui.Messages.isEmpty());
}

TEST_F(DownloadTest, AMissingSecondPackageStopsWithoutRetryOrMessage) {
    Site.PublishPackage("atlas.html", "map");
    Tick(Component::Mappe);
    Tick(Component::Dbexpress);
    EXPECT_FALSE(DownloadUpdates(Site.Steps));
    EXPECT_EQ(Read(Work("atlas.html")), "map");
    EXPECT_EQ(Site.Run.DownloadedCount, 1);
    EXPECT_EQ(Site.Ui.DownloadCaption, "Download WebView2Loader.dll");
    EXPECT_TRUE(Site.Ui.Messages.isEmpty());
    EXPECT_EQ(Requests("WebView2Loader.dll.7z"), 1);
    // The third may have travelled beside the second, but it does not count.
    EXPECT_LE(Requests("dbexpida41.dll.7z"), 1);
}

TEST_F(DownloadTest, APackageThatKeepsFailingIsFetchedFourTimesThenNamed) {
    Site.WriteServed("it's.dll.7z", "not an archive");
    Site.PublishPackage("Velmora.exe", "program");
    Site.Run.PackageChecksums["Velmora.exe.7z"] = QString(64, '0');
    Site.PublishPackage("atlas.html", "map");
    QDir().mkpath(Work("atlas.html"));
    const auto write = [](const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    };
    PublishMade("BlokCore.dll", [](const QString& folder) {
        ASSERT_TRUE(QFile::link("/etc/passwd", folder + "BlokCore.dll"));
    });
    PublishMade("BlokJobs.dll", [&](const QString& folder) {
        write(folder + "a/BlokJobs.dll", "jobs");
        write(folder + "b/BlokJobs.dll", "other jobs");
    });
    PublishMade("BlokStock.dll", [&](const QString&) {});
    PublishMade("BlokPrint.dll", [&](const QString& folder) { write(folder + "other.dll", "x"); });
    // A damaged archive whose checksum the catalogue gives as it is: only the extraction's own
    // CRC check can catch it.
    Site.PublishPackage("BlokSites.dll", QByteArray(200000, 's') + QByteArray(50000, 't'));
    {
        QFile damaged(Site.ServedFolder() + "BlokSites.dll.7z");
        ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
        QByteArray bytes = damaged.readAll();
        bytes[40] = static_cast<char>(bytes[40] ^ 0x55);
        ASSERT_TRUE(damaged.seek(0) && damaged.write(bytes) == bytes.size());
        Site.Run.PackageChecksums["BlokSites.dll.7z"] =
            QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    }
    // A sound package that is not as large as the catalogue says.
    Site.PublishPackage("BlokBroker.dll", "broker");
    Site.Run.ListedSizes["BlokBroker.dll.7z"] =
        QFileInfo(Site.ServedFolder() + "BlokBroker.dll.7z").size() + 1;
    // 20 MB of zeros pack into a few kilobytes: no real program file expands that much.
    Site.PublishPackage("BlokTrade.dll", QByteArray(20 * 1024 * 1024, '\0'));
    const struct {
        const char* Why;
        QString Name;
        QString Message;
    } table[] = {
        {"fails its archive test", "it's.dll", "Impossibile scaricare 'it''s.dll'"},
        {"has another checksum", "Velmora.exe", "Impossibile scaricare 'Velmora.exe'"},
        {"cannot be unpacked", "atlas.html", "Impossibile scaricare 'atlas.html'"},
        {"holds a symbolic link", "BlokCore.dll", "Impossibile scaricare 'BlokCore.dll'"},
        {"holds two files of the same name", "BlokJobs.dll",
         "Impossibile scaricare 'BlokJobs.dll'"},
        {"is empty", "BlokStock.dll", "Impossibile scaricare 'BlokStock.dll'"},
        {"holds another file only", "BlokPrint.dll", "Impossibile scaricare 'BlokPrint.dll'"},
        {"is damaged though its checksum matches", "BlokSites.dll",
         "Impossibile scaricare 'BlokSites.dll'"},
        {"unpacks to over a thousand times its size", "BlokTrade.dll",
         "Impossibile scaricare 'BlokTrade.dll'"},
        {"is not of the size the catalogue lists", "BlokBroker.dll",
         "Impossibile scaricare 'BlokBroker.dll'"},
    };
    for (const auto& row : table) {
        Site.Ui.Messages.clear();
        EXPECT_FALSE(DownloadPackage(Site.Steps, row.Name)) << row.Why;
        EXPECT_EQ(Site.Ui.Messages, QStringList{row.Message}) << row.Why;
        EXPECT_EQ(Requests(row.Name + ".7z"), 4) << row.Why;
        EXPECT_EQ(Site.Ui.DownloadCaption, "Download " + row.Name) << row.Why;
    }
    EXPECT_EQ(Site.Run.DownloadedCount, 0);
    EXPECT_FALSE(QFile::exists(Work("Velmora.exe.7z")))
        << "a package with another checksum is not kept";
    EXPECT_FALSE(QFileInfo(Work("BlokCore.dll")).isSymLink()) << "no link is unpacked";
    EXPECT_FALSE(QFile::exists(Work("extra.dll")));
    EXPECT_FALSE(QFile::exists(Work("BlokTrade.dll"))) << "refused before extraction";
    EXPECT_FALSE(QFile::exists(Work("BlokSites.dll"))) << "no damaged file is left";
}

TEST_F(DownloadTest, APackageComesOutFlatWhateverFoldersItsFilesAreStoredIn) {
    const auto write = [](const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    };
    const struct {
        const char* Shape;
        QString Name;
        std::function<void(const QString&)> Make;
        QStringList Unpacked;
    } shapes[] = {
        {"one file",
         "BlokCore.dll",
         [&](const QString& folder) { write(folder + "BlokCore.dll", "core"); },
         {"BlokCore.dll"}},
        {"a file inside a folder",
         "BlokStock.dll",
         [&](const QString& folder) { write(folder + "rel/bin/BlokStock.dll", "stock"); },
         {"BlokStock.dll"}},
        {"two files",
         "BlokJobs.dll",
         [&](const QString& folder) {
             write(folder + "BlokJobs.dll", "jobs");
             write(folder + "doc/leggimi.txt", "notes");
         },
         {"BlokJobs.dll", "leggimi.txt"}},
    };
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.Shape);
        PublishMade(shape.Name, shape.Make);
        Site.Ui.Messages.clear();
        EXPECT_TRUE(DownloadPackage(Site.Steps, shape.Name));
        EXPECT_TRUE(Site.Ui.Messages.isEmpty()) << Site.Ui.Messages.join('\n').toStdString();
        for (const QString& name : shape.Unpacked)
            EXPECT_TRUE(QFileInfo(Work(name)).isFile()) << name.toStdString();
        EXPECT_FALSE(QFileInfo::exists(Work("rel"))) << "no folder comes out";
        EXPECT_FALSE(QFileInfo::exists(Work("doc")));
    }
}

TEST_F(DownloadTest, AMatchingChecksumInAnyLetterCaseIsAccepted) {
    Site.PublishPackage("atlas.html", "map");
    Site.Run.PackageChecksums["atlas.html.7z"] =
        Sha256(Site.ServedFolder() + "atlas.html.7z").toUpper();
    Tick(Component::Mappe);
    Site.Run.RequiredFiles = {{Component::Mappe, "atlas.html", "", false}};
    EXPECT_TRUE(DownloadUpdates(Site.Steps));
    EXPECT_EQ(Read(Work("atlas.html")), "map");
    EXPECT_EQ(Requests("atlas.html.7z"), 1);
}

TEST_F(DownloadTest, AnEarlierPackageOfTheSameNameIsReplaced) {
    Site.PublishPackage("atlas.html", "old map");
    QFile::copy(Site.ServedFolder() + "atlas.html.7z", Work("atlas.html.7z"));
    Site.PublishPackage("atlas.html", "new map");
    EXPECT_TRUE(DownloadPackage(Site.Steps, "atlas.html"));
    EXPECT_EQ(Read(Work("atlas.html")), "new map");
    EXPECT_FALSE(QFile::exists(Work("atlas.html.7z")));
    EXPECT_EQ(Site.Run.DownloadedCount, 1);
    EXPECT_EQ(Site.Ui.DownloadCaption, "Download");
}

TEST_F(DownloadTest, AMissingWorkFolderIsCreated) {
    Site.PublishPackage("atlas.html", "map");
    ASSERT_TRUE(QDir(Site.Install.ProgramFolder() + "Orvo").removeRecursively());
    Tick(Component::Mappe);
    Site.Run.RequiredFiles = {{Component::Mappe, "atlas.html", "", false}};
    EXPECT_TRUE(DownloadUpdates(Site.Steps));
    EXPECT_EQ(Read(Work("atlas.html")), "map");
}

TEST_F(DownloadTest, APackageFileThatCannotBeWrittenFailsAtOnce) {
    Site.PublishPackage("atlas.html", "map");
    Tick(Component::Mappe);
    Site.Run.RequiredFiles = {{Component::Mappe, "atlas.html", "", false}};
    const struct {
        const char* Why;
        std::function<void()> Prepare;
    } table[] = {
        {"a folder stands where the package goes",
         [&] {
             QDir().mkpath(Work("atlas.html.7z"));
         }},
        {"a file stands where the work folder goes",
         [&] {
             QDir(Site.Install.ProgramFolder() + "Orvo").removeRecursively();
             Site.Install.WriteFile("Velmora/Orvo", "a file");
         }},
    };
    for (const auto& row : table) {
        row.Prepare();
        const int before = Requests("atlas.html.7z");
        EXPECT_FALSE(DownloadUpdates(Site.Steps)) << row.Why;
        EXPECT_LE(Requests("atlas.html.7z") - before, 1) << row.Why << ": no further attempt";
        EXPECT_TRUE(Site.Ui.Messages.isEmpty()) << row.Why;
        EXPECT_EQ(Site.Run.DownloadedCount, 0) << row.Why;
    }
}

TEST_F(DownloadTest, ATransferBrokenPartWayIsResumedOrStartedAgain) {
    QByteArray content;
    for (int i = 0; i < 60000; ++i)
        content += QByteArray::number(QRandomGenerator::global()->generate64(), 36);
    Site.PublishPackage("BlokCore.dll", content);
    const QString package = Site.ServedFolder() + "BlokCore.dll.7z";
    Site.Run.PackageChecksums["BlokCore.dll.7z"] = Sha256(package);
    const qint64 size = QFileInfo(package).size();
    ASSERT_GT(size, 300000);
    const struct {
        const char* Why;
        FileServer::Options Server;
        QStringList Requests;
    } table[] = {
        {"a server that serves ranges sends the rest",
         {0, 0, 100000, false},
         {"GET /BlokCore.dll.7z - 200", "GET /BlokCore.dll.7z bytes=100000- 206"}},
        {"a server that ignores ranges sends the whole package again",
         {0, 0, 100000, true},
         {"GET /BlokCore.dll.7z - 200", "GET /BlokCore.dll.7z bytes=100000- 200"}},
    };
    for (const auto& row : table) {
        const FileServer server(Site.ServedFolder(), row.Server);
        Site.Run.RemoteUrl = server.BaseUrl();
        QFile::remove(Work("BlokCore.dll"));
        Site.Ui.Messages.clear();
        EXPECT_TRUE(DownloadPackage(Site.Steps, "BlokCore.dll")) << row.Why;
        EXPECT_EQ(server.Requests(), row.Requests) << row.Why;
        EXPECT_EQ(Read(Work("BlokCore.dll")), content) << row.Why;
        EXPECT_TRUE(Site.Ui.Messages.isEmpty()) << row.Why;
        EXPECT_FALSE(QFile::exists(Work("BlokCore.dll.7z.part"))) << row.Why;
    }
}
