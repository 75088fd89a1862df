#include "catalogue/cataloguefetch.h"
#include "catalogue/signedcatalogue.h"
#include "catalogue/updatecheck.h"
#include "core/error.h"
#include "pipeline/download.h"
#include "support/fileserver.h"
#include "support/minisign.h"
#include "support/updatesite.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const QByteArray Package(2048, 'a');

// Proposes the archiver: installed 1.7.0.12, offered 1.7.0.13, its package's SHA-256 given.
QByteArray Catalogue() {
    return "[VERSIONI]\r\n7za=1.7.0.13\r\n[SHA256]\r\n7za.exe.7z=" +
           QCryptographicHash::hash(Package, QCryptographicHash::Sha256).toHex() + "\r\n";
}

// Replaces one base64 line of a signature file (0-based line index) after changing its bytes.
QByteArray WithLine(const QByteArray& signature, int index,
                    const std::function<QByteArray(QByteArray)>& change) {
    QList<QByteArray> lines = signature.split('\n');
    lines[index] = change(lines[index]);
    return lines.join('\n');
}

QByteArray Base64Patched(const QByteArray& line, qsizetype at, const QByteArray& bytes) {
    QByteArray decoded = QByteArray::fromBase64(line);
    decoded.replace(at, bytes.size(), bytes);
    return decoded.toBase64();
}

class SignedCatalogueTest : public ::testing::Test {
protected:
    SignedCatalogueTest() {
        QFile::copy(QStringLiteral(ORVANTO_SOURCE_DIR "/tests/fixtures/pe/onepair-x64.dll"),
                    Site.Install.ProgramFolder() + "7za.exe");
        Site.WriteServed("7za.exe.7z", Package);
        Site.Run.PublicKey = Maker.PublicKeyLine();
    }

    // The check's error message, or empty text when it accepted the catalogue. Asked for only if
    // it changed, the catalogue is fetched as for the check after an update.
    QString Check(CatalogueFetch::Ask ask = CatalogueFetch::Ask::Whole) {
        try {
            if (ask == CatalogueFetch::Ask::Whole) {
                ActionControllaExecute(Site.Steps);
            } else {
                CatalogueFetch fetch(Site.Steps, ask);
                ActionControllaExecute(Site.Steps, fetch);
            }
            return {};
        } catch (const OrvantoError& error) {
            return error.Message();
        }
    }

    bool Proposed() const {
        return Site.Run.UpdateButtonVisible && Site.Run.Checklist.size() == 1 &&
               Site.Run.Checklist[0].Checked;
    }

    UpdateSite Site;
    MinisignKey Maker;
    MinisignKey Stranger;
};

} // namespace

TEST_F(SignedCatalogueTest, OnlyACatalogueSignedWithTheConfiguredKeyIsProposed) {
    const QByteArray catalogue = Catalogue();
    const QByteArray good = Maker.Sign(catalogue);
    const QByteArray makerKeyId =
        QByteArray::fromBase64(Maker.PublicKeyLine().toLatin1()).mid(2, 8);
    struct Case {
        const char* name;
        std::function<void()> serve;
        const char* reason; // empty: proposed
    };
    const std::vector<Case> cases = {
        {"pre-hashed signature", [&] { Site.WriteServed("update.ini.minisig", good); }, ""},
        {"legacy signature",
         [&] {
             Site.WriteServed("update.ini.minisig",
                              Maker.Sign(catalogue, MinisignKey::Format::Legacy));
         },
         ""},
        {"another maker's key",
         [&] { Site.WriteServed("update.ini.minisig", Stranger.Sign(catalogue)); },
         "firmato con la chiave"},
        {"another key under the configured key's id",
         [&] {
             Site.WriteServed("update.ini.minisig",
                              WithLine(Stranger.Sign(catalogue), 1, [&](const QByteArray& line) {
                                  return Base64Patched(line, 2, makerKeyId);
                              }));
         },
         "il contenuto non corrisponde alla firma"},
        {"catalogue changed after signing",
         [&] {
             Site.WriteServed("update.ini.minisig", good);
             Site.WriteCatalogue(QByteArray(catalogue).replace("1.7.0.13", "1.7.0.14"));
         },
         "il contenuto non corrisponde alla firma"},
        {"trusted comment changed",
         [&] {
             Site.WriteServed("update.ini.minisig", WithLine(good, 2, [](QByteArray line) {
                                  return line.replace("timestamp:", "timestamp:9");
                              }));
         },
         "il commento firmato non corrisponde alla firma"},
        {"no signature on the server", [] {}, "firma non disponibile"},
        {"truncated signature file",
         [&] { Site.WriteServed("update.ini.minisig", good.left(good.size() / 2)); },
         "non è nel formato di minisign"},
        {"garbage signature file",
         [&] { Site.WriteServed("update.ini.minisig", QByteArray(300, '\x9c')); },
         "non è nel formato di minisign"},
        {"trusted comment without the signing time",
         [&] {
             Site.WriteServed(
                 "update.ini.minisig",
                 Maker.Sign(catalogue, MinisignKey::Format::Prehashed, "release 3.12"));
         },
         "il commento firmato non porta la data"},
        {"signature larger than any real one",
         [&] { Site.WriteServed("update.ini.minisig", good + QByteArray(100 * 1024, '\n')); },
         "firma non disponibile"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        QFile::remove(Site.ServedFolder() + "update.ini.minisig");
        QFile::remove(AcceptedSignaturePath());
        Site.WriteCatalogue(catalogue);
        // An earlier check's proposal must not survive a refused catalogue.
        Site.Run.Checklist = {ChecklistRow{"7za", {"1.7.0.12", "1.7.0.13", "2"}, true}};
        Site.Run.UpdateButtonVisible = true;
        row.serve();
        const QString error = Check();
        if (QByteArray(row.reason).isEmpty()) {
            EXPECT_EQ(error, QString());
            EXPECT_TRUE(Proposed());
            EXPECT_TRUE(Site.Run.PackageChecksums.contains("7za.exe.7z"));
            continue;
        }
        EXPECT_TRUE(error.startsWith("Il catalogo degli aggiornamenti non porta una firma valida "
                                     "del produttore"))
            << error.toStdString();
        EXPECT_TRUE(error.contains(QString::fromUtf8(row.reason))) << error.toStdString();
        EXPECT_TRUE(Site.Run.Checklist.isEmpty());
        EXPECT_FALSE(Site.Run.UpdateButtonVisible);
        EXPECT_TRUE(Site.Run.PackageChecksums.isEmpty());
    }
}

TEST_F(SignedCatalogueTest, AnOlderCatalogueServedAgainIsRefused) {
    const QByteArray older = Catalogue().replace("1.7.0.13", "1.7.0.12");
    const qint64 yesterday = QDateTime::currentSecsSinceEpoch() - 86400;
    const QByteArray olderSignature =
        Maker.Sign(older, MinisignKey::Format::Prehashed,
                   QString("timestamp:%1\tfile:update.ini").arg(yesterday));

    Site.WriteCatalogue(Catalogue());
    Site.WriteServed("update.ini.minisig", Maker.Sign(Catalogue()));
    ASSERT_EQ(Check(), QString());
    ASSERT_TRUE(Proposed());
    EXPECT_EQ(Check(), QString()) << "the same catalogue is accepted again";

    Site.WriteCatalogue(older);
    Site.WriteServed("update.ini.minisig", olderSignature);
    const QString error = Check();
    EXPECT_TRUE(error.contains("prima del catalogo già accettato")) << error.toStdString();
    EXPECT_TRUE(Site.Run.Checklist.isEmpty());
}

// The check after an update asks whether the catalogue accepted before it changed. "Not modified"
// gives the bytes already verified, which the signature served now must still cover, signed no
// earlier than the catalogue accepted; a changed catalogue comes whole and is verified again. The
// rows follow in order, each from the state the one before left.
TEST_F(SignedCatalogueTest, TheCheckAfterAnUpdateFetchesTheCatalogueOnlyWhenItChanged) {
    const FileServer server(Site.ServedFolder(), {});
    Site.Run.RemoteUrl = server.BaseUrl();
    const QByteArray catalogue = Catalogue();
    Site.WriteCatalogue(catalogue);
    Site.WriteServed("update.ini.minisig", Maker.Sign(catalogue));
    ASSERT_EQ(Check(), QString());
    const QByteArray changed = QByteArray(catalogue).replace("1.7.0.13", "1.7.0.15");
    const QString yesterday =
        QString("timestamp:%1\tfile:update.ini").arg(QDateTime::currentSecsSinceEpoch() - 86400);
    struct Row {
        const char* Name;
        std::function<void()> Serve;
        int CatalogueStatus;
        const char* Reason; // empty: proposed
        const char* Offered;
    };
    const Row rows[] = {
        {"unchanged", [] {}, 304, "", "1.7.0.13"},
        {"unchanged, a signature of other bytes",
         [&] { Site.WriteServed("update.ini.minisig", Maker.Sign(changed)); }, 304,
         "il contenuto non corrisponde alla firma", ""},
        {"unchanged, an older signature of the same bytes",
         [&] {
             Site.WriteServed("update.ini.minisig",
                              Maker.Sign(catalogue, MinisignKey::Format::Prehashed, yesterday));
         },
         304, "prima del catalogo già accettato", ""},
        {"unchanged, signed anew",
         [&] { Site.WriteServed("update.ini.minisig", Maker.Sign(catalogue)); }, 304, "",
         "1.7.0.13"},
        {"changed after it was signed", [&] { Site.WriteCatalogue(changed); }, 200,
         "il contenuto non corrisponde alla firma", ""},
        {"the change signed", [&] { Site.WriteServed("update.ini.minisig", Maker.Sign(changed)); },
         200, "", "1.7.0.15"},
        {"unchanged since the change", [] {}, 304, "", "1.7.0.15"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        row.Serve();
        const qsizetype before = server.Requests().size();
        const QString error = Check(CatalogueFetch::Ask::IfChanged);
        QStringList requests = server.Requests().mid(before);
        requests.removeIf([](const QString& request) { return !request.contains("/update.ini"); });
        requests.sort();
        EXPECT_EQ(requests.join('\n'),
                  QString("GET /update.ini - %1\nGET /update.ini.minisig - 200")
                      .arg(row.CatalogueStatus));
        EXPECT_TRUE(error.contains(QString::fromUtf8(row.Reason))) << error.toStdString();
        EXPECT_EQ(error.isEmpty(), QByteArray(row.Reason).isEmpty()) << error.toStdString();
        EXPECT_EQ(Site.Run.Checklist.value(0).SubItem(1), QString(row.Offered));
        EXPECT_EQ(Proposed(), error.isEmpty());
    }
}

TEST_F(SignedCatalogueTest, AnUnreadableOrCorruptRecordOfTheNewestCatalogueRefusesIt) {
    Site.WriteCatalogue(Catalogue());
    Site.WriteServed("update.ini.minisig", Maker.Sign(Catalogue()));
    const QString record = AcceptedSignaturePath();
    const auto write = [&record](const QByteArray& content) {
        QFile file(record);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    };
    const struct {
        const char* Name;
        std::function<bool()> Plant;
    } rows[] = {
        {"value not a whole number",
         [&] {
             return write("[FIRMA]\r\nUltimo catalogo accettato=17000O0000\r\n");
         }},
        {"value missing",
         [&] {
             return write("[FIRMA]\r\n");
         }},
        {"empty file",
         [&] {
             return write("");
         }},
        {"folder",
         [&] {
             return QDir().mkdir(record);
         }},
        {"FIFO",
         [&] {
             return ::mkfifo(QFile::encodeName(record).constData(), 0600) == 0;
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        ASSERT_TRUE(row.Plant());
        const QString error = Check();
        EXPECT_TRUE(error.startsWith(CatalogueRefusedMessage("").left(40))) << error.toStdString();
        EXPECT_TRUE(error.contains(record)) << error.toStdString();
        EXPECT_FALSE(Proposed());
        ASSERT_TRUE(QFileInfo(record).isDir() ? QDir().rmdir(record) : QFile::remove(record));
    }
    EXPECT_EQ(Check(), QString()) << "a missing record is the first check";
    EXPECT_TRUE(Proposed());
}

TEST_F(SignedCatalogueTest, WithoutAKeyTheCatalogueIsReadUnsigned) {
    Site.Run.PublicKey.clear();
    Site.WriteCatalogue(Catalogue());
    EXPECT_EQ(Check(), QString());
    EXPECT_TRUE(Proposed());
    EXPECT_EQ(CatalogueProtection("http://example.org/velmora/", QString()),
              QString("Catalogo non firmato, su connessione non protetta (http)"));
    EXPECT_EQ(CatalogueProtection("https://example.org/velmora/", QString()),
              QString("Catalogo non firmato"));
    EXPECT_EQ(CatalogueProtection("http://example.org/velmora/", Maker.PublicKeyLine()),
              "Catalogo firmato, chiave " + Maker.KeyId());
}

TEST_F(SignedCatalogueTest, APackageWithoutItsSha256IsNeverFetched) {
    const QByteArray catalogue = "[VERSIONI]\r\n7za=1.7.0.13\r\n";
    Site.WriteCatalogue(catalogue);
    Site.WriteServed("update.ini.minisig", Maker.Sign(catalogue));
    ASSERT_EQ(Check(), QString());
    ASSERT_TRUE(Proposed());

    EXPECT_FALSE(DownloadUpdates(Site.Steps));
    EXPECT_EQ(Site.Ui.Messages.value(0), QString("Impossibile scaricare '7za.exe'"));
    EXPECT_FALSE(QFile::exists(Site.Run.CopyFolder + "7za.exe.7z"));
    EXPECT_FALSE(QFile::exists(Site.Run.CopyFolder + "7za.exe"));
}
