#include "catalogue/deltaoffer.h"
#include "catalogue/requiredfiles.h"
#include "catalogue/updatecheck.h"
#include "pipeline/delta.h"
#include "pipeline/download.h"
#include "support/fileserver.h"
#include "support/minisign.h"
#include "support/nginxserver.h"
#include "support/updatesite.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

QByteArray RandomBytes(qsizetype size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// The new release of a file: about 1 % of its bytes changed in place.
QByteArray Changed(QByteArray bytes) {
    for (qsizetype at = 1000; at + 50 < bytes.size(); at += 5000)
        bytes.replace(at, 50, RandomBytes(52).left(50));
    return bytes;
}

void Write(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size())
        << path.toStdString();
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// Publishes the new release on the site with the old one as the previous release. The files of
// Velmora that the test does not care about are published as placeholders, since a release must
// hold every file of the components it publishes.
void Publish(const QTemporaryDir& work, const QString& server, const QStringList& previous) {
    RequiredFileList files;
    BuildRequiredFiles(files);
    for (const RequiredFile& file : files) {
        const QString path = work.path() + "/new/" + file.FileName;
        if (file.ComponentName == Component::Velmora && !QFile::exists(path))
            Write(path, "placeholder " + file.FileName.toUtf8());
    }
    QStringList arguments;
    for (const QString& folder : previous)
        arguments << "--previous" << folder;
    RunChecked(QStringLiteral(ORVANTO_PUBLISH),
               arguments + QStringList{work.path() + "/new", server, "Velmora=3.12.0"});
}

} // namespace

TEST(PublishDeltas, WritesTheDeltasThatPayAndZstdRebuildsEachNewFile) {
    QTemporaryDir work;
    const QByteArray program = RandomBytes(400000);
    const QByteArray library = RandomBytes(3000);
    // Velmora.exe changed a little since both releases; BlokCore.dll is unchanged since 3.11 and
    // rewritten whole since 3.10; atlas.html is new.
    Write(work.path() + "/3.10/Velmora.exe", Changed(Changed(program)));
    Write(work.path() + "/3.10/BlokCore.dll", RandomBytes(3000));
    Write(work.path() + "/3.11/Velmora.exe", program);
    Write(work.path() + "/3.11/BlokCore.dll", library);
    const QByteArray newProgram = Changed(program);
    Write(work.path() + "/new/Velmora.exe", newProgram);
    Write(work.path() + "/new/BlokCore.dll", library);
    Write(work.path() + "/new/atlas.html", "<html/>");
    const QString server = work.path() + "/site";
    Write(server + "/Velmora.exe-0000000000000000.zst", "left by an earlier publication");
    Publish(work, server, {work.path() + "/3.10", work.path() + "/3.11"});

    const QStringList deltas = QDir(server).entryList({"*.zst"}, QDir::Files, QDir::Name);
    ASSERT_EQ(deltas.size(), 2) << deltas.join(' ').toStdString();
    const QByteArray catalogue = Read(server + "/update.ini");
    for (const char* release : {"3.10", "3.11"}) {
        const QString old = work.path() + "/" + release + "/Velmora.exe";
        const QString delta = "Velmora.exe-" + FileSha256(old).left(16) + ".zst";
        EXPECT_TRUE(
            catalogue.contains((DeltaKey("Velmora.exe", FileSha256(old)) + "=" + delta).toUtf8()))
            << release;
        EXPECT_TRUE(catalogue.contains((delta + "=" + FileSha256(server + "/" + delta)).toUtf8()))
            << "the delta's checksum is in section SHA256";
        EXPECT_LT(QFileInfo(server + "/" + delta).size(),
                  QFileInfo(server + "/Velmora.exe.7z").size() / 10);
        // The real zstd rebuilds the new file from the old one.
        RunChecked("zstd", {"-q", "-f", "-d", "--patch-from=" + old, server + "/" + delta, "-o",
                            work.path() + "/rebuilt"});
        EXPECT_EQ(Read(work.path() + "/rebuilt"), newProgram) << release;
    }
    EXPECT_TRUE(catalogue.contains(
        ("[SHA256 FILE]\r\nVelmora.exe=" + FileSha256(work.path() + "/new/Velmora.exe")).toUtf8()));
    EXPECT_FALSE(catalogue.contains("BlokCore.dll@"))
        << "no delta for an unchanged file, nor one that does not pay";
}

namespace {

// An installation with BlokCore.dll of release 3.11, and a site that offers release 3.12 with a
// delta from it, behind a server that logs what it is asked for.
class DeltaUpdateTest : public ::testing::Test {
protected:
    DeltaUpdateTest() : Old(RandomBytes(300000)), New(Changed(Old)) {
        Write(Work.path() + "/3.11/BlokCore.dll", Old);
        Write(Work.path() + "/new/BlokCore.dll", New);
        Publish(Work, Site.ServedFolder(), {Work.path() + "/3.11"});
        MakeWorldReadable(Site.ServedFolder());
        Delta = QDir(Site.ServedFolder()).entryList({"*.zst"}).value(0);
        Site.Install.WriteFile("Velmora/BlokCore.dll", Old);
        Site.Run.RemoteUrl = Server.BaseUrl();
    }

    // The check, then the download of BlokCore.dll; what the server was asked for.
    QStringList Update(const std::function<void()>& beforeDownload = [] {}) {
        ActionControllaExecute(Site.Steps);
        beforeDownload();
        const qsizetype asked = Server.Requests().size();
        EXPECT_TRUE(DownloadPackage(Site.Steps, "BlokCore.dll"));
        EXPECT_EQ(Read(Site.Run.CopyFolder + "BlokCore.dll"), New);
        QStringList gets;
        for (const QString& request : Server.Requests().mid(asked))
            gets.append(request.section(' ', 1, 1).mid(1));
        return gets;
    }

    // Replaces a text of the published catalogue.
    void RewriteCatalogue(const QString& from, const QString& to) {
        const QString catalogue = Site.ServedFolder() + "update.ini";
        Write(catalogue, Read(catalogue).replace(from.toUtf8(), to.toUtf8()));
        MakeWorldReadable(Site.ServedFolder());
    }

    QString RunLogText() const {
        return QString::fromUtf8(Read(Site.Install.ProgramFolder() + "Orvo/orvanto.log"));
    }

    void Corrupt(const QString& name) {
        QByteArray bytes = Read(Site.ServedFolder() + name);
        bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5a);
        Write(Site.ServedFolder() + name, bytes);
        Site.Run.PackageChecksums[name] = Sha256(bytes);
    }

    QTemporaryDir Work;
    UpdateSite Site;
    const FileServer Server{Site.ServedFolder(), {}};
    QByteArray Old, New;
    QString Delta;
};

} // namespace

TEST_F(DeltaUpdateTest, TheDeltaRebuildsTheFileAndItsSizeIsShown) {
    ASSERT_FALSE(Delta.isEmpty());
    EXPECT_EQ(Update(), QStringList{Delta});
    const qint64 kilobytes = QFileInfo(Site.ServedFolder() + Delta).size() / 1024;
    ASSERT_FALSE(Site.Run.Checklist.isEmpty());
    EXPECT_EQ(Site.Run.Checklist[0].SubItem(2), QString::number(kilobytes))
        << "the size column counts the delta, not the package";
    EXPECT_FALSE(QFile::exists(Site.Run.CopyFolder + Delta));
}

TEST_F(DeltaUpdateTest, AnyFailureOfTheDeltaFallsBackToThePackage) {
    const QString package = QStringLiteral("BlokCore.dll.7z");
    const struct {
        const char* Why;
        // Spoiled before the check (true) or between the check and the download.
        bool BeforeCheck;
        std::function<void()> Spoil;
        QStringList Asked;
    } table[] = {
        {"an installed file that matches no delta",
         true,
         [&] { Site.Install.WriteFile("Velmora/BlokCore.dll", RandomBytes(1000)); },
         {package}},
        // The catalogue lists the delta's size: no size query finds it missing, the download does.
        {"a delta missing at the check",
         true,
         [&] { QFile::remove(Site.ServedFolder() + Delta); },
         {Delta, package}},
        {"a corrupt delta", false, [&] { Corrupt(Delta); }, {Delta, package}},
        {"a result with another SHA-256",
         false,
         [&] { Site.Run.FileChecksums["BlokCore.dll"] = QString(64, '0'); },
         {Delta, package}},
        {"a delta missing at the download",
         false,
         [&] { QFile::remove(Site.ServedFolder() + Delta); },
         {Delta, package}},
        {"a catalogue without the rebuilt file's size",
         true,
         [&] { RewriteCatalogue("[DIMENSIONE FILE]", "[ALTRO]"); },
         {package}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.Why);
        Site.Install.WriteFile("Velmora/BlokCore.dll", Old);
        QFile::remove(Site.Run.CopyFolder + "BlokCore.dll");
        Publish(Work, Site.ServedFolder(), {Work.path() + "/3.11"});
        MakeWorldReadable(Site.ServedFolder());
        Site.Ui.Messages.clear();
        if (row.BeforeCheck)
            row.Spoil();
        EXPECT_EQ(Update(row.BeforeCheck ? std::function<void()>([] {}) : row.Spoil), row.Asked);
        EXPECT_TRUE(Site.Ui.Messages.filter("BlokCore").isEmpty())
            << Site.Ui.Messages.join('\n').toStdString();
    }
}

TEST_F(DeltaUpdateTest, UnderASignatureOnlyADeltaItCoversIsUsed) {
    const MinisignKey maker;
    Site.Run.PublicKey = maker.PublicKeyLine();
    const auto sign = [&](const QByteArray& catalogue) {
        Write(Site.ServedFolder() + "update.ini", catalogue);
        Write(Site.ServedFolder() + "update.ini.minisig", maker.Sign(catalogue));
        MakeWorldReadable(Site.ServedFolder());
    };
    const QByteArray published = Read(Site.ServedFolder() + "update.ini");
    sign(published);
    EXPECT_EQ(Update(), QStringList{Delta});

    QByteArray uncovered;
    for (const QByteArray& line : published.split('\n')) {
        if (!line.startsWith(Delta.toUtf8() + "="))
            uncovered += line + '\n';
    }
    uncovered.chop(1);
    sign(uncovered);
    QFile::remove(Site.Run.CopyFolder + "BlokCore.dll");
    EXPECT_EQ(Update(), QStringList{"BlokCore.dll.7z"});
}

TEST_F(DeltaUpdateTest, ADeltaNameThatIsNotAPlainFileNameIsRefused) {
    const QString outside = Site.Install.Root() + "/victim.txt";
    const QString installed = Site.Install.ProgramFolder() + "BlokCore.dll";
    const struct {
        QString Name;
        // The file that the name reaches from the work folder.
        QString Reached;
    } rows[] = {{"../../../victim.txt", outside},
                {outside, outside},
                {"../../BlokCore.dll", installed},
                {"..\\..\\BlokCore.dll", installed},
                {"C:victim.txt", outside},
                {"victim\t.txt", outside},
                {"..", Site.Install.ProgramFolder() + "Orvo"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name.toStdString());
        Publish(Work, Site.ServedFolder(), {Work.path() + "/3.11"});
        RewriteCatalogue("=" + Delta + "\r\n[SHA256 FILE]", "=" + row.Name + "\r\n[SHA256 FILE]");
        Site.Install.WriteFile("Velmora/BlokCore.dll", Old);
        Write(outside, "not the updater's");
        QFile::remove(Site.Run.CopyFolder + "BlokCore.dll");

        EXPECT_EQ(Update(), QStringList{"BlokCore.dll.7z"});
        EXPECT_EQ(Read(outside), "not the updater's");
        EXPECT_EQ(Read(installed), Old);
        EXPECT_TRUE(QFileInfo(row.Reached).exists());
        EXPECT_TRUE(RunLogText().contains("Riga del catalogo rifiutata: [DELTA] BlokCore.dll@"))
            << RunLogText().toStdString();
    }
}

TEST_F(DeltaUpdateTest, ADeltaThatWouldRebuildMoreThanTheCatalogueSaysIsStoppedBeforeWriting) {
    // 64 MB of zeros in a frame of a few kilobytes, served under the delta's name.
    const QString bomb = Work.path() + "/bomb.bin";
    Write(bomb, QByteArray(64 * 1024 * 1024, '\0'));
    RunChecked("zstd", {"-q", "-f", bomb, "-o", Site.ServedFolder() + Delta});
    MakeWorldReadable(Site.ServedFolder());
    ASSERT_LT(QFileInfo(Site.ServedFolder() + Delta).size(), 64 * 1024);

    // Whoever serves an unsigned catalogue gives the bomb's checksum too.
    const auto listBomb = [&] {
        Site.Run.PackageChecksums[Delta] = Sha256(Read(Site.ServedFolder() + Delta));
        Site.Run.ListedSizes[Delta] = QFileInfo(Site.ServedFolder() + Delta).size();
    };
    EXPECT_EQ(Update(listBomb), (QStringList{Delta, "BlokCore.dll.7z"}));
    EXPECT_TRUE(RunLogText().contains("ricostruirebbe 67108864 byte, oltre i " +
                                      QString::number(New.size()) + " annunciati"))
        << RunLogText().toStdString();
}
