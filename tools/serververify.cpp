#include "serververify.h"

#include "catalogue/catalogue.h"
#include "catalogue/deltaoffer.h"
#include "catalogue/requiredfiles.h"
#include "catalogue/signature.h"
#include "catalogue/signedcatalogue.h"
#include "core/error.h"
#include "core/userinterface.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"
#include "knownsignatures.h"
#include "net/httpclient.h"
#include "pipeline/delta.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <openssl/evp.h>

namespace {

// The verifier shows nothing while transfers run.
class SilentInterface : public UserInterface {
public:
    void ShowMessage(const QString&, MessageKind) override {}
    bool AskYesNo(const QString&) override { return false; }
    void ShowError(const QString&) override {}
    void ShowReason(const QString&) override {}
    void AppendLog(const QString&) override {}
    void ClearLog() override {}
    void SetDownloadCaption(const QString&) override {}
    void SetDownloadVisible(bool) override {}
    void SetDownloadProgress(int, int) override {}
    void SetUpdateVisible(bool) override {}
    void SetUpdateProgress(int, int) override {}
    void SetBusy(bool) override {}
    void ProcessEvents() override {}
    void SetActionsEnabled(bool) override {}
    void ChecklistChanged() override {}
    void EnvironmentChanged() override {}
    void ShowMainCard() override {}
    void OpenAddress(const QString&) override {}
};

// A sink that keeps no bytes, only their SHA-256 and count.
class DigestSink : public QIODevice {
public:
    DigestSink() : Context(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
        if (!Context || EVP_DigestInit_ex(Context.get(), EVP_sha256(), nullptr) != 1)
            throw OrvantoError(QStringLiteral("Calcolo SHA-256 non riuscito"));
        open(QIODevice::WriteOnly);
    }
    QString Hex() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        EVP_DigestFinal_ex(Context.get(), digest, &length);
        return QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length)).toHex());
    }
    // The bytes written so far.
    qint64 Size() const { return Written; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        if (EVP_DigestUpdate(Context.get(), data, static_cast<size_t>(size)) != 1)
            return -1;
        Written += size;
        return size;
    }

private:
    qint64 Written = 0;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> Context;
};

// The served files, from a folder or from an address with the updater's HTTP client.
class Server {
public:
    explicit Server(const QString& source) : Source(source), Http(Ui, TlsSettings()) {}

    // Copies the served file into the sink; throws OrvantoError with the reason.
    void Fetch(const QString& name, QIODevice& sink) {
        if (IsAddress()) {
            Http.Get(AddTrailingSeparator(Source) + name, sink);
            return;
        }
        QFile file(QDir(Source).absoluteFilePath(name));
        if (!file.open(QIODevice::ReadOnly))
            throw OrvantoError::Failure(QStringLiteral("Lettura del file"), file.fileName(),
                                        file.errorString());
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        for (qint64 got; (got = file.read(buffer.data(), buffer.size())) > 0;) {
            if (sink.write(buffer.constData(), got) != got)
                throw OrvantoError::Failure(QStringLiteral("Lettura del file"), file.fileName(),
                                            sink.errorString());
        }
    }

    QByteArray Read(const QString& name) {
        QBuffer body;
        body.open(QIODevice::WriteOnly);
        Fetch(name, body);
        return body.data();
    }

private:
    bool IsAddress() const {
        return Source.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
               Source.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    }

    QString Source;
    SilentInterface Ui;
    HttpClient Http;
};

// The base64 line of a public key given as the line itself or as a minisign .pub file.
QString PublicKeyLine(const QString& given) {
    QFile file(given);
    if (!file.open(QIODevice::ReadOnly))
        return given;
    const QList<QByteArray> lines = file.readAll().split('\n');
    return QString::fromLatin1(lines.value(1).trimmed());
}

class Verifier {
public:
    explicit Verifier(const VerifyRequest& request) : Request(request), Served(request.Source) {}

    int Run() {
        QByteArray text;
        try {
            text = Served.Read(CatalogueFileName);
        } catch (const OrvantoError& error) {
            Problem("catalogo non leggibile: " + error.Message());
            return -1;
        }
        const IniText catalogue(text);
        CheckSignature(text);
        for (const QString& package : catalogue.Keys(ChecksumSection))
            CheckPackage(catalogue, package);
        for (const QString& package : catalogue.Keys(PackageSizeSection)) {
            if (!catalogue.Keys(ChecksumSection).contains(package))
                Problem(package + ": elencato nella sezione " + PackageSizeSection +
                        " ma non nella sezione " + ChecksumSection);
        }
        CheckComponents(catalogue);
        for (const QString& key : catalogue.Keys(DeltaSection))
            CheckDelta(catalogue, key);
        std::printf("%d pacchetti e delta letti, %d problemi\n", Read, Problems);
        return Problems;
    }

private:
    void Problem(const QString& line) {
        std::printf("PROBLEMA: %s\n", line.toLocal8Bit().constData());
        ++Problems;
    }

    void CheckSignature(const QByteArray& catalogue) {
        if (Request.PublicKey.isEmpty())
            return;
        try {
            const Signature signature = ParseSignatureFile(Served.Read(SignatureFileName));
            VerifySignature(ParsePublicKey(PublicKeyLine(Request.PublicKey)), signature, catalogue);
            const qint64 signedAt = SigningTime(signature.TrustedComment);
            const qint64 newest = NewestKnownSigning(signature.KeyId);
            if (signedAt < 0)
                Problem(
                    QStringLiteral("la firma non porta la data: le installazioni la rifiutano"));
            else if (signedAt < newest)
                Problem("la firma è del " + IsoTime(signedAt) +
                        ", più vecchia dell'ultima nota con la stessa chiave (" + IsoTime(newest) +
                        "): le installazioni che hanno già accettato quella rifiutano il catalogo");
            else if (!RecordSigning(signature.KeyId, signedAt))
                Problem(QStringLiteral("impossibile registrare la data della firma"));
            else
                std::printf("Firma valida, chiave %s, del %s\n",
                            KeyIdText(signature.KeyId).toLocal8Bit().constData(),
                            IsoTime(signedAt).toLocal8Bit().constData());
        } catch (const OrvantoError& error) {
            Problem("firma del catalogo: " + error.Message());
        }
    }

    static QString IsoTime(qint64 secondsSinceEpoch) {
        return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch).toString(Qt::ISODate);
    }

    // The package is served with the SHA-256 and the size the catalogue lists.
    void CheckPackage(const IniText& catalogue, const QString& package) {
        ++Read;
        const QString expected = catalogue.ReadString(ChecksumSection, package, QString());
        const QString listedSize = catalogue.ReadString(PackageSizeSection, package, QString());
        try {
            DigestSink digest;
            Served.Fetch(package, digest);
            const QString served = digest.Hex();
            if (served.compare(expected, Qt::CaseInsensitive) != 0)
                Problem(package + ": SHA-256 atteso " + expected + ", servito " + served);
            if (!listedSize.isEmpty() && listedSize != QString::number(digest.Size()))
                Problem(package + ": dimensione elencata " + listedSize + " byte, servita " +
                        QString::number(digest.Size()));
        } catch (const OrvantoError& error) {
            Problem(package + ": non disponibile (" + error.Message() + ")");
        }
    }

    // Every file of each published component, and every script up to the schema step, has its
    // package in the catalogue.
    void CheckComponents(const IniText& catalogue) {
        RequiredFileList files;
        BuildRequiredFiles(files);
        const QString listed = catalogue.Keys(ChecksumSection).join('\n') + '\n';
        const auto expect = [&](const QString& component, const QString& package) {
            if (!listed.contains(package + '\n'))
                Problem(component + ": il pacchetto " + package + " manca dal catalogo");
        };
        for (const QString& component : catalogue.Keys(CatalogueSection)) {
            if (component == Component::Schema) {
                const long long step =
                    catalogue.ReadString(CatalogueSection, component, QString()).toLongLong();
                expect(component, ScriptFileName(step) + ".7z");
                continue;
            }
            for (const RequiredFile& file : files) {
                if (file.ComponentName == component && !file.OnlyWhenInstalled)
                    expect(component, file.FileName + ".7z");
            }
        }
    }

    // A delta of a plain name, listed and served, with the size and SHA-256 of the file it
    // rebuilds; rebuilt from an older release that holds its source file.
    void CheckDelta(const IniText& catalogue, const QString& key) {
        const QString delta = catalogue.ReadString(DeltaSection, key, QString());
        const QString file = key.section('@', 0, 0);
        const QString source = key.section('@', 1).toLower();
        const QString checksum = catalogue.ReadString(FileChecksumSection, file, QString());
        bool sized = false;
        const qint64 size =
            catalogue.ReadString(FileSizeSection, file, QString()).toLongLong(&sized);
        if (!IsPlainFileName(delta))
            return Problem("delta di " + file + ": '" + delta + "' non è un semplice nome di file");
        if (!catalogue.Keys(ChecksumSection).contains(delta))
            Problem("delta " + delta + ": manca dalla sezione " + ChecksumSection);
        if (checksum.isEmpty() || !sized)
            return Problem("delta " + delta + ": mancano SHA-256 o dimensione di " + file +
                           " nelle sezioni " + FileChecksumSection + " e " + FileSizeSection);
        for (const QString& folder : Request.PreviousReleases) {
            const QString reference = QDir(folder).absoluteFilePath(file);
            if (FileSha256(reference) == source)
                return Rebuild(delta, reference, file, checksum, size);
        }
    }

    void Rebuild(const QString& delta, const QString& reference, const QString& file,
                 const QString& checksum, qint64 size) {
        try {
            QFile fetched(Work.filePath(delta));
            if (!fetched.open(QIODevice::WriteOnly))
                throw OrvantoError::Failure(QStringLiteral("Scrittura del file"),
                                            fetched.fileName(), fetched.errorString());
            Served.Fetch(delta, fetched);
            fetched.close();
            RebuildFromDelta(reference, fetched.fileName(), Work.filePath(file), size);
            if (FileSha256(Work.filePath(file)).compare(checksum, Qt::CaseInsensitive) != 0)
                Problem("delta " + delta + ": ricostruisce " + file + " con un altro SHA-256");
        } catch (const OrvantoError& error) {
            Problem("delta " + delta + ": " + error.Message());
        }
    }

    const VerifyRequest& Request;
    Server Served;
    QTemporaryDir Work;
    int Problems = 0;
    int Read = 0;
};

} // namespace

int VerifyServer(const VerifyRequest& request) {
    return Verifier(request).Run();
}
