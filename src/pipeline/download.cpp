#include "pipeline/download.h"

#include "catalogue/catalogue.h"
#include "catalogue/requiredfiles.h"
#include "core/error.h"
#include "core/runstate.h"
#include "core/services.h"
#include "core/userinterface.h"
#include "environment/lowlevel.h"
#include "pipeline/commandrunner.h"
#include "pipeline/httpclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <openssl/evp.h>
#include <optional>

namespace {

const QString DownloadCaption = QStringLiteral("Download");
const QString PackageFailedMessage = QStringLiteral("Impossibile scaricare ");
const QString WriteOperation = QStringLiteral("Scrittura del file");
const QString UnavailableDigest = QStringLiteral("Calcolo SHA-256 non riuscito");
constexpr int PackageAttempts = 4;
// Program files and scripts pack at most a few tens of times smaller; a package that claims to
// unpack to more than this multiple of its own size (and more than the floor) is refused.
constexpr qint64 MaxExpansion = 1000;
constexpr qint64 MinExpansionBound = 1024 * 1024;

// Passes what it is given on to a file and, when asked to, keeps the SHA-256 of it.
class HashingSink : public QIODevice {
public:
    HashingSink(QIODevice& target, bool hashing)
        : Target(target), Context(hashing ? EVP_MD_CTX_new() : nullptr, &EVP_MD_CTX_free) {
        if (hashing && (!Context || EVP_DigestInit_ex(Context.get(), EVP_sha256(), nullptr) != 1))
            throw OrvantoError(UnavailableDigest);
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

    // The digest in lower-case hexadecimal.
    QString HexDigest() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!Context || EVP_DigestFinal_ex(Context.get(), digest, &length) != 1)
            throw OrvantoError(UnavailableDigest);
        return QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(digest), static_cast<int>(length)).toHex());
    }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        const qint64 written = Target.write(data, size);
        if (written > 0 && Context &&
            EVP_DigestUpdate(Context.get(), data, static_cast<size_t>(written)) != 1)
            return -1;
        return written;
    }

private:
    QIODevice& Target;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> Context;
};

// The partial download beside the package, removed unless it became the package.
class PartialFile {
public:
    explicit PartialFile(const QString& package) : File(package + QStringLiteral(".part")) {}
    ~PartialFile() {
        File.close();
        QFile::remove(File.fileName());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    QFile File;
};

// Streams the package into a partial file beside it and puts it in place only when it is
// complete and, where the catalogue gives one, its SHA-256 matches. False for a mismatch (the
// package is then not kept); throws OrvantoError when the transfer or the writing fails. The
// work folder is scratch space, so nothing here waits for the disk.
bool FetchPackage(const Services& services, const QString& fileName, const QString& package) {
    const QString expected = services.Run.PackageChecksums.value(fileName + ".7z");
    PartialFile partial(package);
    QFile& file = partial.File;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw OrvantoError::Failure(WriteOperation, file.fileName(), file.errorString());
    HashingSink sink(file, !expected.isEmpty());
    services.Http.Get(PackageAddress(services.Run.RemoteUrl, fileName), sink);
    if (!file.flush())
        throw OrvantoError::Failure(WriteOperation, file.fileName(), file.errorString());
    file.close();
    if (!expected.isEmpty() && expected.compare(sink.HexDigest(), Qt::CaseInsensitive) != 0)
        return false;
    std::error_code error;
    std::filesystem::rename(QFile::encodeName(file.fileName()).toStdString(),
                            QFile::encodeName(package).toStdString(), error);
    if (error)
        throw OrvantoError::Failure(WriteOperation, package,
                                    QString::fromStdString(error.message()));
    return true;
}

// The unpacked size of the archive's only entry when that entry is a plain file of that name;
// nothing when it holds a folder, a link, a path or a second file, which make it unusable.
std::optional<qint64> SoleFileSize(const QString& package, const QString& fileName) {
    QByteArray listing;
    if (RunCommand(ArchiveListCommand(package), &listing) != 0)
        return std::nullopt;
    const qsizetype entries = listing.indexOf("\n----------\n");
    if (entries < 0)
        return std::nullopt;
    QStringList paths;
    qint64 size = -1;
    for (const QByteArray& raw : listing.mid(entries).split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1String("Path = ")))
            paths.append(line.mid(7));
        else if (line.startsWith(QLatin1String("Size = ")))
            size = line.mid(7).toLongLong();
        else if (line == QLatin1String("Folder = +") ||
                 line.startsWith(QLatin1String("Symbolic Link = ")))
            return std::nullopt;
        else if (line.startsWith(QLatin1String("Attributes = "))) {
            // Windows attributes, then the Unix mode when the archive was made on Unix.
            const QString attributes = line.mid(13);
            const QString unixMode = attributes.section(' ', 1, 1);
            if (attributes.section(' ', 0, 0).contains('D') ||
                (!unixMode.isEmpty() && !unixMode.startsWith('-')))
                return std::nullopt;
        }
    }
    if (paths != QStringList{fileName} || size < 0)
        return std::nullopt;
    return size;
}

// Whether the file may be unpacked: it fits in the work folder's free space, and it does not
// expand beyond what any real release does (a bound against archives made to fill the disk).
bool FitsUnpacked(const QString& package, qint64 unpackedSize) {
    const QFileInfo packed(package);
    const qint64 bound = std::max(MinExpansionBound, packed.size() * MaxExpansion);
    return unpackedSize <= bound && unpackedSize < QStorageInfo(packed.path()).bytesAvailable();
}

// Unpacks a package that holds only its file, and checks that a plain file came out. A package
// whose SHA-256 already matched the catalogue is decoded once: the extraction checks every CRC
// and fails on a mismatch. Without a SHA-256 the archive is tested first.
bool Unpack(const QString& package, const QString& fileName, bool checksumMatched) {
    const std::optional<qint64> size = SoleFileSize(package, fileName);
    if (!size || !FitsUnpacked(package, *size) || (!checksumMatched && !TestArchive(package)))
        return false;
    const QString unpacked = JoinPath(QFileInfo(package).path(), fileName);
    const bool extracted = ExtractArchive(package, true);
    if (!extracted || QFileInfo(unpacked).isSymLink() || !QFileInfo(unpacked).isFile()) {
        QFile::remove(unpacked);
        return false;
    }
    return true;
}

} // namespace

bool DownloadPackage(const Services& services, const QString& fileName) {
    UserInterface& ui = services.Ui;
    ui.SetDownloadCaption(DownloadCaption + " " + fileName);
    ui.ProcessEvents();
    const QString package = JoinPath(services.Run.CopyFolder, fileName + ".7z");
    // With a signed catalogue a package that the signature does not cover is never fetched.
    const bool checksummed = services.Run.PackageChecksums.contains(fileName + ".7z");
    const bool covered = checksummed || !services.Run.CatalogueSigned();
    for (int attempt = 0; covered && attempt < PackageAttempts; ++attempt) {
        try {
            if (!FetchPackage(services, fileName, package))
                continue;
        } catch (const std::exception&) {
            return false;
        }
        if (Unpack(package, fileName, checksummed)) {
            ++services.Run.DownloadedCount;
            ui.SetDownloadCaption(DownloadCaption);
            ui.ProcessEvents();
            return true;
        }
    }
    ui.ShowMessage(PackageFailedMessage + QuoteSingle(fileName));
    return false;
}

bool DownloadUpdates(const Services& services) {
    RunState& run = services.Run;
    UserInterface& ui = services.Ui;
    run.DownloadedCount = 0;
    try {
        // A missing work folder is made here; one that cannot be made fails at the first package.
        QDir().mkpath(run.CopyFolder);
        ui.SetDownloadCaption(DownloadCaption);
        ui.SetDownloadVisible(true);
        ui.ProcessEvents();
        for (const SelectedFile& selected : SelectedFiles(run)) {
            if (!DownloadPackage(services, selected.File.FileName))
                return false;
        }
        ui.SetDownloadCaption(DownloadCaption);
        ui.ProcessEvents();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
