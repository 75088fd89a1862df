#include "catalogue/requiredfiles.h"
#include "support/minisign.h"
#include "support/nginxserver.h"
#include "support/tempinstall.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct Outcome {
    int ExitCode;
    QByteArray Output;
};

// Runs a program with the text on its standard input, as a person typing a password would.
Outcome RunWithInput(const QString& program, const QStringList& arguments,
                     const QByteArray& input) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        return {-1, process.readAll()};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAll()};
}

void Write(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size())
        << path.toStdString();
}

// A release of Velmora 3.12.0 with every file of the component and schema step 206.
void WriteRelease(const QString& folder) {
    RequiredFileList files;
    BuildRequiredFiles(files);
    for (const RequiredFile& file : files) {
        if (file.ComponentName == Component::Velmora)
            Write(folder + "/" + file.FileName, "Velmora 3.12.0: " + file.FileName.toUtf8());
    }
    Write(folder + "/modifiche206.sql", "ALTER TABLE CLIENTI ADD CITTA VARCHAR(60);\nCOMMIT;\n");
}

// Everything below the folder, links as their targets and files as their content, so that two
// snapshots are equal only when nothing was added, removed or changed.
QMap<QString, QByteArray> Snapshot(const QString& folder) {
    QMap<QString, QByteArray> tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo entry(it.next());
        const QString name = entry.filePath().mid(folder.size());
        if (entry.isSymLink()) {
            tree[name] = "-> " + entry.symLinkTarget().toUtf8();
        } else if (entry.isFile()) {
            QFile file(entry.filePath());
            tree[name] = file.open(QIODevice::ReadOnly) ? file.readAll() : "<unreadable>";
        } else {
            tree[name] = "<folder>";
        }
    }
    return tree;
}

} // namespace

TEST(Publish, SignsTheCatalogueWithAPasswordProtectedKey) {
    QTemporaryDir dir;
    const QString keys = dir.path() + "/chiave";
    QDir().mkpath(keys);
    const Outcome made =
        RunWithInput("minisign", {"-G", "-p", keys + "/minisign.pub", "-s", keys + "/minisign.key"},
                     "parola segreta\nparola segreta\n");
    ASSERT_EQ(made.ExitCode, 0) << made.Output.toStdString();
    const QString release = dir.path() + "/release";
    const QString served = dir.path() + "/site/velmora";
    WriteRelease(release);

    const QStringList publish = {"--sign", keys + "/minisign.key", release,
                                 served,   "Velmora=3.12.0",       "Schema database=206"};
    const Outcome signedRun =
        RunWithInput(QStringLiteral(ORVANTO_PUBLISH), publish, "parola segreta\n");
    ASSERT_EQ(signedRun.ExitCode, 0) << signedRun.Output.toStdString();
    // The real minisign accepts what was published, with the signing time in the trusted comment.
    const QByteArray verified =
        RunChecked("minisign", {"-V", "-p", keys + "/minisign.pub", "-m", served + "/update.ini"});
    EXPECT_TRUE(verified.contains("Trusted comment: timestamp:")) << verified.toStdString();
    EXPECT_TRUE(signedRun.Output.contains("Firmato con la chiave "))
        << signedRun.Output.toStdString();

    // A wrong password: nothing of the live release changes, its signature stays.
    const QMap<QString, QByteArray> before = Snapshot(dir.path() + "/site");
    const Outcome wrong =
        RunWithInput(QStringLiteral(ORVANTO_PUBLISH), publish, "parola sbagliata\n");
    EXPECT_EQ(wrong.ExitCode, 65);
    EXPECT_TRUE(wrong.Output.contains("minisign non ha firmato")) << wrong.Output.toStdString();
    EXPECT_EQ(Snapshot(dir.path() + "/site"), before);

    // Published again without a key: no earlier signature stays beside the new catalogue.
    const Outcome unsignedRun =
        RunWithInput(QStringLiteral(ORVANTO_PUBLISH), publish.mid(2), QByteArray());
    ASSERT_EQ(unsignedRun.ExitCode, 0) << unsignedRun.Output.toStdString();
    EXPECT_FALSE(QFile::exists(served + "/update.ini.minisig"));
    EXPECT_TRUE(unsignedRun.Output.contains("Catalogo non firmato"))
        << unsignedRun.Output.toStdString();
}

TEST(Publish, AMakersMistakeLeavesTheLiveServerUntouched) {
    QTemporaryDir dir;
    const MinisignKey maker;
    const QString release = dir.path() + "/release";
    const QString site = dir.path() + "/site";
    const QString served = site + "/velmora";
    WriteRelease(release);
    // The live server: a folder published the way makers did before releases were switched.
    Write(served + "/update.ini", "[VERSIONI]\r\nVelmora=3.11.0\r\nSchema database=205\r\n");
    Write(served + "/Velmora.exe.7z", "the live package");
    Write(served + "/update.ini.minisig", "the live signature");
    const QString passwordKey = dir.path() + "/con-password.key";
    const Outcome made =
        RunWithInput("minisign", {"-G", "-p", dir.path() + "/con-password.pub", "-s", passwordKey},
                     "parola\nparola\n");
    ASSERT_EQ(made.ExitCode, 0) << made.Output.toStdString();
    const QString publicKey = dir.path() + "/chiave.pub";
    Write(publicKey,
          "untrusted comment: minisign public key\n" + maker.PublicKeyLine().toUtf8() + "\n");

    const QStringList good = {release, served, "Velmora=3.12.0", "Schema database=206"};
    const struct {
        const char* Why;
        QStringList Arguments;
        int Exit;
        const char* Named;
    } rows[] = {
        {"a blank instead of '='", {release, served, "Velmora 3.12.0"}, 65, "Velmora 3.12.0"},
        {"an unknown component", {release, served, "Velmra=3.12.0"}, 65, "Velmra"},
        {"a version the updater cannot compare", {release, served, "7za=latest"}, 65, "latest"},
        {"no version at all", {release, served}, 65, "nessuna versione"},
        {"a schema step without its script",
         {release, served, "Schema database=207"},
         65,
         "modifiche207.sql"},
        {"a missing previous release", QStringList{"--previous", dir.path() + "/3.10"} + good, 65,
         "3.10"},
        {"a key file that does not exist", QStringList{"--sign", dir.path() + "/maker.kye"} + good,
         65, "maker.kye"},
        {"the public key given as the secret key", QStringList{"--sign", publicKey} + good, 65,
         "chiave.pub"},
        {"a key that needs a password, with no one to type it",
         QStringList{"--sign", passwordKey} + good, 65, "con-password.key"},
        {"an unknown option", QStringList{"--firma", "x"} + good, 64, "firma"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        const QMap<QString, QByteArray> before = Snapshot(site);
        const Outcome outcome =
            RunWithInput(QStringLiteral(ORVANTO_PUBLISH), row.Arguments, QByteArray());
        EXPECT_EQ(outcome.ExitCode, row.Exit) << outcome.Output.toStdString();
        EXPECT_TRUE(outcome.Output.contains(row.Named)) << outcome.Output.toStdString();
        EXPECT_EQ(Snapshot(site), before);
    }
}

TEST(Publish, SwitchesTheServerToTheCompleteReleaseAndKeepsThePreviousOne) {
    QTemporaryDir dir;
    const QString release = dir.path() + "/release";
    const QString served = dir.path() + "/site/velmora";
    WriteRelease(release);
    // Release files only their owner can read still become files any web server can serve.
    ASSERT_TRUE(QFile::setPermissions(release + "/Velmora.exe",
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    Write(served + "/modifiche205.sql.7z", "the script of an earlier step");
    Write(served + "/Vecchio.dll.7z", "a file no longer released");
    const QStringList publish = {release, served, "Velmora=3.12.0", "Schema database=206"};

    const Outcome first = RunWithInput(QStringLiteral(ORVANTO_PUBLISH), publish, QByteArray());
    ASSERT_EQ(first.ExitCode, 0) << first.Output.toStdString();
    EXPECT_TRUE(QFileInfo(served).isSymLink());
    const QString firstRelease = QFileInfo(served).canonicalFilePath();
    QFile catalogue(served + "/update.ini");
    ASSERT_TRUE(catalogue.open(QIODevice::ReadOnly));
    const QByteArray listed = catalogue.readAll();
    EXPECT_TRUE(listed.contains("modifiche205.sql.7z=")) << "older installations need step 205";
    EXPECT_TRUE(listed.contains("modifiche206.sql.7z="));
    EXPECT_FALSE(listed.contains("Vecchio.dll")) << listed.toStdString();
    for (const QFileInfo& file : QDir(served).entryInfoList(QDir::Files))
        EXPECT_EQ(file.permissions() & 0x7777, QFileDevice::Permissions(0x6644))
            << file.fileName().toStdString();
    EXPECT_TRUE(first.Output.contains("Velmora 3.12.0")) << first.Output.toStdString();
    EXPECT_TRUE(first.Output.contains("Pacchetti: 12,")) << first.Output.toStdString();

    // The next publication keeps the release it replaces, for transfers still running, and
    // removes the one before.
    const QStringList kept = QDir(served + ".rilasci").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    const Outcome second = RunWithInput(QStringLiteral(ORVANTO_PUBLISH), publish, QByteArray());
    ASSERT_EQ(second.ExitCode, 0) << second.Output.toStdString();
    const QStringList now = QDir(served + ".rilasci").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_EQ(now.size(), 2) << now.join(' ').toStdString();
    EXPECT_TRUE(QFileInfo::exists(firstRelease)) << "the release just replaced stays";
    EXPECT_NE(QFileInfo(served).canonicalFilePath(), firstRelease);
    EXPECT_EQ(kept.size(), 2) << "the first switch kept the folder it replaced";
}

TEST(PublishVerify, FindsWhatWouldFailAnInstallation) {
    QTemporaryDir dir;
    // Where orvanto-publish keeps the newest signing time it knows.
    ScopedEnvironment environment;
    environment.Set("XDG_STATE_HOME", dir.path() + "/state");
    const MinisignKey maker;
    const QString release = dir.path() + "/release";
    const QString previous = dir.path() + "/3.11";
    const QString served = dir.path() + "/site/velmora";
    WriteRelease(release);
    QByteArray program(200000, '\0');
    for (qsizetype i = 0; i < program.size(); ++i)
        program[i] = static_cast<char>((i * 7919) % 251);
    Write(previous + "/Velmora.exe", program);
    program.replace(1000, 5, "3.12.");
    Write(release + "/Velmora.exe", program);
    const QString publicKey = maker.PublicKeyLine();
    const QStringList publish = {"--previous", previous, "--sign",         maker.SecretKeyFile(),
                                 release,      served,   "Velmora=3.12.0", "Schema database=206"};
    const NginxServer server(dir.path() + "/site");
    const QStringList verify = {
        "--verify", server.BaseUrl() + "velmora/", "--key", publicKey, "--previous", previous};
    const auto republish = [&] {
        const Outcome published =
            RunWithInput(QStringLiteral(ORVANTO_PUBLISH), publish, QByteArray());
        ASSERT_EQ(published.ExitCode, 0) << published.Output.toStdString();
        ASSERT_TRUE(published.Output.contains("Delta: Velmora.exe-"))
            << published.Output.toStdString();
    };
    republish();
    const QString delta = QDir(served).entryList({"*.zst"}).value(0);
    for (const QStringList& arguments :
         {verify, QStringList{"--verify", served, "--key", publicKey, "--previous", previous}}) {
        const Outcome good = RunWithInput(QStringLiteral(ORVANTO_PUBLISH), arguments, QByteArray());
        EXPECT_EQ(good.ExitCode, 0) << good.Output.toStdString();
        EXPECT_TRUE(good.Output.contains(", 0 problemi")) << good.Output.toStdString();
    }

    const auto catalogue = [&] {
        QFile file(served + "/update.ini");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const struct {
        const char* Why;
        std::function<void()> Spoil;
        QString Named;
    } rows[] = {
        {"a tampered package",
         [&] { Write(served + "/Velmora.exe.7z", "not the published package"); },
         "Velmora.exe.7z: SHA-256"},
        {"a missing delta", [&] { QFile::remove(served + "/" + delta); },
         delta + ": non disponibile"},
        {"a signature over other bytes",
         [&] { Write(served + "/update.ini.minisig", maker.Sign(catalogue() + "\r\n")); },
         "firma del catalogo"},
        // Valid, but older than the publication: installations that took that one refuse it.
        {"a stale signature",
         [&] {
             Write(served + "/update.ini.minisig",
                   maker.Sign(catalogue(), MinisignKey::Format::Prehashed,
                              "timestamp:1700000000\tfile:update.ini"));
         },
         "più vecchia dell'ultima nota con la stessa chiave"},
        {"a size that is not the package's",
         [&] {
             const QByteArray size =
                 QByteArray::number(QFileInfo(served + "/Velmora.exe.7z").size());
             const QByteArray changed = catalogue().replace("Velmora.exe.7z=" + size + "\r\n",
                                                            "Velmora.exe.7z=1" + size + "\r\n");
             Write(served + "/update.ini", changed);
             Write(served + "/update.ini.minisig", maker.Sign(changed));
         },
         "Velmora.exe.7z: dimensione elencata 1"},
        {"a missing script",
         [&] {
             const QByteArray changed =
                 catalogue().replace("Schema database=206", "Schema database=207");
             Write(served + "/update.ini", changed);
             Write(served + "/update.ini.minisig", maker.Sign(changed));
         },
         "modifiche207.sql.7z manca"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        republish();
        row.Spoil();
        MakeWorldReadable(dir.path() + "/site");
        const Outcome found = RunWithInput(QStringLiteral(ORVANTO_PUBLISH), verify, QByteArray());
        EXPECT_EQ(found.ExitCode, 1) << found.Output.toStdString();
        EXPECT_TRUE(found.Output.contains(row.Named.toUtf8())) << found.Output.toStdString();
    }
}

TEST(Publish, AKilledPublicationLeavesAReleaseThatInstallationsCanUse) {
    QTemporaryDir dir;
    const QString release = dir.path() + "/release";
    const QString served = dir.path() + "/site/velmora";
    WriteRelease(release);
    const auto publish = [&](const QString& version, const QStringList& before) {
        return RunWithInput(before.isEmpty() ? QStringLiteral(ORVANTO_PUBLISH) : before[0],
                            before.mid(1) +
                                (before.isEmpty() ? QStringList() : QStringList{ORVANTO_PUBLISH}) +
                                QStringList{release, served, "Velmora=" + version},
                            QByteArray());
    };
    ASSERT_EQ(publish("3.11.0", {}).ExitCode, 0);
    // Each attempt starts from the live release as makers had it before: a real folder, which
    // the switch trades places with, then files away.
    const auto makeLiveARealFolder = [&] {
        const QString live = QFileInfo(served).canonicalFilePath();
        if (QFileInfo(served).isSymLink() && QFile::remove(served))
            QDir().rename(live, served);
    };
    // Every rename the publisher itself makes, the switch's among them, is in turn its last
    // (strace counts the calls of each system call apart).
    for (const QString call : {"rename", "renameat", "renameat2"}) {
        for (int nth = 1;; ++nth) {
            SCOPED_TRACE((call + " " + QString::number(nth)).toStdString());
            makeLiveARealFolder();
            const Outcome killed = publish(
                "3.12.0", {"strace", "-qq", "-o", "/dev/null", "-e", "trace=" + call, "-e",
                           QStringLiteral("inject=%1:signal=KILL:when=%2").arg(call).arg(nth)});
            QFile catalogue(served + "/update.ini");
            ASSERT_TRUE(catalogue.open(QIODevice::ReadOnly));
            const QByteArray text = catalogue.readAll();
            EXPECT_TRUE(text.contains("Velmora=3.11.0") || text.contains("Velmora=3.12.0"))
                << text.toStdString();
            const Outcome verified =
                RunWithInput(QStringLiteral(ORVANTO_PUBLISH), {"--verify", served}, QByteArray());
            EXPECT_EQ(verified.ExitCode, 0) << verified.Output.toStdString();
            if (killed.ExitCode == 0)
                break;
            ASSERT_LT(nth, 10) << killed.Output.toStdString();
        }
    }
    ASSERT_EQ(publish("3.13.0", {}).ExitCode, 0) << "a later publication goes through";
    EXPECT_EQ(QDir(served + ".rilasci").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2)
        << "what killed publications left is gone";
}
