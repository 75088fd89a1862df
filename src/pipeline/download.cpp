#include "pipeline/download.h"

#include "catalogue/componentfiles.h"
#include "catalogue/deltaoffer.h"
#include "catalogue/requiredfiles.h"
#include "catalogue/runstate.h"
#include "catalogue/services.h"
#include "core/error.h"
#include "core/runlog.h"
#include "core/userinterface.h"
#include "core/workfolder.h"
#include "environment/lowlevel.h"
#include "net/httpclient.h"
#include "pipeline/commandrunner.h"
#include "pipeline/delta.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <openssl/evp.h>
#include <optional>
#include <set>
#include <vector>

namespace {

const QString DownloadCaption = QStringLiteral("Download");
const QString PackageFailedMessage = QStringLiteral("Impossibile scaricare ");
const QString WriteOperation = QStringLiteral("Scrittura del file");
const QString UnavailableDigest = QStringLiteral("Calcolo SHA-256 non riuscito");
const QString UnpackOperation = QStringLiteral("Estrazione del pacchetto");
constexpr int PackageAttempts = 4;
// Packages fetched at once: enough to hide the round trips of a slow link, few enough to leave
// each transfer a fair share of it.
constexpr int ConcurrentDownloads = 4;
// Program files and scripts pack at most a few tens of times smaller; a package that claims to
// unpack to more than this multiple of its own size (and more than the floor) is refused.
constexpr qint64 MaxExpansion = 1000;
constexpr qint64 MinExpansionBound = 1024 * 1024;

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// The package as it arrives: a partial file beside the package, removed unless it became the
// package, and, when the catalogue gives a SHA-256, the digest of what the file holds so far, so
// that a transfer resumed after a break still checks every byte.
class PartialPackage : public QIODevice {
public:
    PartialPackage(const QString& package, bool hashing)
        : Path(package + QStringLiteral(".part")), Hashing(hashing),
          Context(nullptr, &EVP_MD_CTX_free) {
        Restart();
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    ~PartialPackage() override {
        File.close();
        QFile::remove(Path);
    }

    // Starts the file and the digest again from nothing; throws when the file cannot be made.
    void Restart() {
        File.close();
        // A link or a FIFO planted at the partial file's name is refused, never written through.
        Descriptor file = OpenWorkFile(Path, O_WRONLY | O_CREAT | O_TRUNC);
        if (!File.open(file.Get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
            throw OrvantoError::Failure(WriteOperation, Path, File.errorString());
        file.Release();
        Length = 0;
        if (!Hashing)
            return;
        Context.reset(EVP_MD_CTX_new());
        if (!Context || EVP_DigestInit_ex(Context.get(), EVP_sha256(), nullptr) != 1)
            throw OrvantoError(UnavailableDigest);
    }

    // Restart for a server that sends the whole package again: false, with the reason in
    // errorString(), when the file cannot be made.
    bool RestartDuringTransfer() {
        try {
            Restart();
            return true;
        } catch (const OrvantoError& error) {
            setErrorString(error.Message());
            return false;
        }
    }

    qint64 Held() const { return Length; }
    QString FileName() const { return Path; }

    // Closes the complete file; throws when its last bytes cannot be written.
    void Close() {
        if (!File.flush())
            throw OrvantoError::Failure(WriteOperation, Path, File.errorString());
        File.close();
    }

    // The digest of the whole file in lower-case hexadecimal.
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
        const qint64 written = File.write(data, size);
        if (written < 0) {
            setErrorString(File.errorString());
            return -1;
        }
        if (Context && EVP_DigestUpdate(Context.get(), data, static_cast<size_t>(written)) != 1)
            return -1;
        Length += written;
        return written;
    }

private:
    // A file opened from a descriptor has no name of its own.
    QString Path;
    QFile File;
    bool Hashing;
    DigestContext Context;
    qint64 Length = 0;
};

// What a package holds, as its listing tells: the unpacked size of all its files, or why it cannot
// be used. Files may be stored with their folders and come out flat, so two files of the same name
// would overwrite each other; links, devices and other special files are never unpacked; and the
// file the package is named after must be among them.
struct PackageContent {
    qint64 Size = 0;
    QString Refusal;
    // The names of its folder entries, which the archiver makes as empty folders.
    QStringList Folders;
};

PackageContent ListPackage(const QString& package, const QString& fileName) {
    QByteArray listing;
    if (RunCommand(ArchiveListCommand(package), &listing) != 0)
        return {0, QStringLiteral("l'archivio non si può elencare"), {}};
    const qsizetype start = listing.indexOf("\n----------\n");
    if (start < 0)
        return {0, QStringLiteral("l'archivio non contiene file"), {}};
    PackageContent content;
    QStringList names;
    // One block of "Name = value" lines per entry, ended by an empty line.
    QString path;
    qint64 size = -1;
    bool folder = false;
    bool special = false;
    const auto endEntry = [&] {
        if (path.isEmpty())
            return;
        const QString name = path.section('/', -1).section('\\', -1);
        if (special)
            content.Refusal = path + " non è un file regolare";
        else if (folder)
            content.Folders.append(name);
        else {
            if (names.contains(name))
                content.Refusal = "due file di nome " + name;
            names.append(name);
            content.Size += std::max<qint64>(size, 0);
        }
        path.clear();
        size = -1;
        folder = special = false;
    };
    for (const QByteArray& raw : listing.mid(start + 12).split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty())
            endEntry();
        else if (line.startsWith(QLatin1String("Path = ")))
            path = line.mid(7);
        else if (line.startsWith(QLatin1String("Size = ")))
            size = line.mid(7).toLongLong();
        else if (line == QLatin1String("Folder = +"))
            folder = true;
        else if (line.startsWith(QLatin1String("Symbolic Link = ")) && line.size() > 16)
            special = true;
        else if (line.startsWith(QLatin1String("Attributes = "))) {
            // Windows attributes, then the Unix mode when the archive was made on Unix.
            const QString attributes = line.mid(13);
            const QString unixMode = attributes.section(' ', 1, 1);
            if (attributes.section(' ', 0, 0).contains('D') || unixMode.startsWith('d'))
                folder = true;
            else if (!unixMode.isEmpty() && !unixMode.startsWith('-'))
                special = true;
        }
    }
    endEntry();
    if (content.Refusal.isEmpty() && !names.contains(fileName))
        content.Refusal = "l'archivio non contiene il file " + fileName;
    return content;
}

// Whether the file may be unpacked: it fits in the work folder's free space, and it does not
// expand beyond what any real release does (a bound against archives made to fill the disk).
bool FitsUnpacked(const QString& package, qint64 unpackedSize) {
    const QFileInfo packed(package);
    const qint64 bound = std::max(MinExpansionBound, packed.size() * MaxExpansion);
    return unpackedSize <= bound && unpackedSize < QStorageInfo(packed.path()).bytesAvailable();
}

// Unpacks a package, its files flat into its folder, and checks that its file came out plain. A
// package whose SHA-256 already matched the catalogue is decoded once: the extraction checks every
// CRC and fails on a mismatch. Without a SHA-256 the archive is tested first. Gives the reason when
// the file did not come out, nothing when it did.
QString Unpack(const QString& package, const QString& fileName, bool checksumMatched) {
    const PackageContent content = ListPackage(package, fileName);
    if (!content.Refusal.isEmpty())
        return OrvantoError::Failure(UnpackOperation, package, content.Refusal).Message();
    if (!FitsUnpacked(package, content.Size))
        return OrvantoError::Failure(
                   UnpackOperation, package,
                   QStringLiteral("%1 byte estratti, oltre lo spazio libero o il limite")
                       .arg(content.Size))
            .Message();
    QString failure;
    if (!checksumMatched && !TestArchive(package, &failure))
        return failure;
    const QString unpacked = JoinPath(QFileInfo(package).path(), fileName);
    const bool extracted = ExtractArchive(package, true, &failure);
    // The empty folders that the archiver made for folder entries go again, the last listed first.
    for (auto folder = content.Folders.crbegin(); folder != content.Folders.crend(); ++folder)
        QDir(QFileInfo(package).path()).rmdir(*folder);
    if (!extracted || QFileInfo(unpacked).isSymLink() || !QFileInfo(unpacked).isFile()) {
        QFile::remove(unpacked);
        return extracted ? OrvantoError::Failure(UnpackOperation, package,
                                                 "non ne è uscito il file " + fileName)
                               .Message()
                         : failure;
    }
    return {};
}

// One package's download over its attempts: a transfer broken part-way is resumed from where
// it stopped; a package with another checksum, or that does not unpack, is fetched anew.
class PackageDownload {
public:
    enum class Outcome { Running, Unpacked, Refused, Stopped };

    PackageDownload(const Services& services, const QString& fileName, int index)
        : S(services), Name(fileName) {
        Request.Tag = index;
        Request.Limits = PackageLimits;
        const auto delta = services.Run.Deltas.constFind(fileName);
        if (delta != services.Run.Deltas.constEnd())
            Fetch(delta->Delta);
        else
            UseFullPackage();
    }

    const QString& FileName() const { return Name; }
    // The file's name on the server: its delta or its package.
    const QString& Served() const { return ServedName; }
    Outcome Result() const { return State; }
    // The bytes of this package held so far.
    qint64 Bytes() const { return Done ? DoneBytes : (Partial ? Partial->Held() : 0); }

    // The request of the next attempt: the rest of a broken transfer, or the whole package.
    HttpRequest* NextAttempt() {
        ++Attempts;
        if (!Partial)
            Partial = std::make_unique<PartialPackage>(Package, !Expected.isEmpty());
        const bool resume = Request.Broken && !Request.AnswerValidator.isEmpty();
        if (resume) {
            Request.ResumeFrom = Partial->Held();
            Request.Validator = Request.AnswerValidator;
        } else {
            Partial->Restart();
            Request.ResumeFrom = 0;
            Request.Validator.clear();
        }
        Request.Sink = Partial.get();
        Request.Restart = [this] {
            return Partial->RestartDuringTransfer();
        };
        Request.Error.clear();
        Request.Received = 0;
        Request.Broken = false;
        return &Request;
    }

    // Why the last attempt failed.
    const QString& Failure() const { return LastFailure; }

    // Judges the attempt that ended: true when another one is due.
    bool Ended() {
        if (!Request.Ok())
            NoteFailure(Request.Error);
        if (!Request.Ok() && IsDelta()) {
            UseFullPackage();
            return State == Outcome::Running;
        }
        if (!Request.Ok()) {
            // A break part-way is tried again; any other failed transfer ends the package.
            if (Request.Broken && Attempts < PackageAttempts)
                return true;
            State = Outcome::Stopped;
            return false;
        }
        if (Complete()) {
            S.Log.Write(QStringLiteral("Scaricato %1 (%2 byte)%3")
                            .arg(ServedName)
                            .arg(DoneBytes)
                            .arg(IsDelta() ? QStringLiteral(", file ricostruito") : QString()));
            State = Outcome::Unpacked;
            return false;
        }
        // A delta that does not rebuild the file gives way to the package, whose attempts are
        // all still to come.
        if (IsDelta()) {
            UseFullPackage();
            return State == Outcome::Running;
        }
        Request.Broken = false;
        if (Attempts < PackageAttempts)
            return true;
        State = Outcome::Refused;
        return false;
    }

private:
    bool IsDelta() const { return ServedName != Name + ".7z"; }

    void NoteFailure(const QString& reason) {
        LastFailure = reason;
        S.Log.Write(QStringLiteral("Tentativo %1 di %2 non riuscito: %3")
                        .arg(Attempts)
                        .arg(ServedName, reason));
    }

    void Fetch(const QString& served) {
        ServedName = served;
        Package = JoinPath(S.Run.CopyFolder, served);
        Expected = S.Run.PackageChecksums.value(served);
        Request.Address = S.Run.RemoteUrl + served;
        Request.Broken = false;
        Partial.reset();
        Attempts = 0;
    }

    void UseFullPackage() {
        Fetch(Name + ".7z");
        // With a signed catalogue a package that the signature does not cover is never fetched.
        if (Expected.isEmpty() && S.Run.CatalogueSigned()) {
            NoteFailure("il catalogo firmato non dà lo SHA-256 di " + ServedName);
            State = Outcome::Refused;
        }
    }

    // Puts the received package in place when its checksum matches, and unpacks it, or rebuilds
    // the file from the delta.
    bool Complete() {
        Partial->Close();
        const QString received = Expected.isEmpty() ? QString() : Partial->HexDigest();
        if (received.compare(Expected, Qt::CaseInsensitive) != 0) {
            NoteFailure(OrvantoError::Failure(QStringLiteral("Controllo SHA-256"), Request.Address,
                                              "atteso " + Expected + ", ricevuto " + received)
                            .Message());
            return false;
        }
        // Without a SHA-256 the listed size still tells a damaged package.
        const qint64 listed = S.Run.ListedSizes.value(ServedName, -1);
        if (listed >= 0 && Partial->Held() != listed) {
            NoteFailure(
                OrvantoError::Failure(
                    QStringLiteral("Controllo della dimensione"), Request.Address,
                    QStringLiteral("attesi %1 byte, ricevuti %2").arg(listed).arg(Partial->Held()))
                    .Message());
            return false;
        }
        std::error_code error;
        std::filesystem::rename(QFile::encodeName(Partial->FileName()).toStdString(),
                                QFile::encodeName(Package).toStdString(), error);
        if (error)
            throw OrvantoError::Failure(WriteOperation, Package,
                                        QString::fromStdString(error.message()));
        DoneBytes = Partial->Held();
        Partial.reset();
        const QString failure = IsDelta() ? Rebuild() : Unpack(Package, Name, !Expected.isEmpty());
        if (!failure.isEmpty()) {
            NoteFailure(failure);
            return false;
        }
        Done = true;
        return true;
    }

    // The file rebuilt from the installed one and the delta, with the SHA-256 the catalogue
    // gives. Gives the reason when it could not be rebuilt, nothing when it was.
    QString Rebuild() {
        const QString output = JoinPath(S.Run.CopyFolder, Name);
        QString failure;
        try {
            const DeltaOffer offer = S.Run.Deltas.value(Name);
            RebuildFromDelta(offer.Reference, Package, output, offer.Size);
            const QString expected = S.Run.FileChecksums.value(Name);
            const QString rebuilt = FileSha256(output);
            if (expected.compare(rebuilt, Qt::CaseInsensitive) != 0)
                failure = OrvantoError::Failure(QStringLiteral("Controllo SHA-256"), output,
                                                "atteso " + expected + ", ricostruito " + rebuilt)
                              .Message();
        } catch (const OrvantoError& error) {
            failure = error.Message();
        }
        QFile::remove(Package);
        if (!failure.isEmpty())
            QFile::remove(output);
        return failure;
    }

    const Services& S;
    QString Name;
    QString ServedName;
    QString Package;
    QString Expected;
    HttpRequest Request;
    QString LastFailure;
    std::unique_ptr<PartialPackage> Partial;
    int Attempts = 0;
    bool Done = false;
    qint64 DoneBytes = 0;
    Outcome State = Outcome::Running;
};

// Downloads the packages of the files, several at a time, and judges them in their order: the
// first package that fails decides the result and its message, as if they had been fetched one
// after another; packages after it are not started.
bool DownloadFiles(const Services& services, const QStringList& fileNames) {
    UserInterface& ui = services.Ui;
    std::vector<std::unique_ptr<PackageDownload>> downloads;
    std::deque<HttpRequest*> queue;
    for (const QString& fileName : fileNames) {
        downloads.push_back(std::make_unique<PackageDownload>(services, fileName,
                                                              static_cast<int>(downloads.size())));
        if (downloads.back()->Result() != PackageDownload::Outcome::Running)
            break;
        queue.push_back(downloads.back()->NextAttempt());
    }
    // The bar counts the bytes of the whole download against the sizes the check announced.
    qint64 expected = 0;
    for (const auto& download : downloads)
        expected += services.Run.PackageBytes.value(download->Served(), 0);
    const auto showProgress = [&] {
        qint64 held = 0;
        for (const auto& download : downloads)
            held += download->Bytes();
        expected = std::max(expected, held);
        ui.SetDownloadProgress(static_cast<int>(std::min<qint64>(expected, INT_MAX)),
                               static_cast<int>(std::min<qint64>(held, INT_MAX)));
    };
    std::size_t firstFailed = downloads.size();
    HttpClient::Observer observer;
    // The caption names the package whose body arrived last, and when that one ends, the oldest
    // still arriving: on a slow link, the big package that the small ones overtook.
    std::set<int> arriving;
    int shown = -1;
    const auto showCaption = [&](int tag) {
        shown = tag;
        ui.SetDownloadCaption(DownloadCaption + " " + downloads[tag]->FileName());
    };
    observer.BodyBegins = [&](HttpRequest& request, qint64) {
        arriving.insert(request.Tag);
        showCaption(request.Tag);
    };
    observer.BodyData = [&](HttpRequest&, qint64) {
        showProgress();
    };
    observer.Ended = [&](HttpRequest& request) {
        arriving.erase(request.Tag);
        if (request.Tag == shown && !arriving.empty())
            showCaption(*arriving.begin());
        const auto index = static_cast<std::size_t>(request.Tag);
        PackageDownload& download = *downloads[index];
        if (download.Ended()) {
            // Another attempt of this package goes first, as it would one after another.
            queue.push_front(download.NextAttempt());
        } else if (download.Result() != PackageDownload::Outcome::Unpacked && index < firstFailed) {
            firstFailed = index;
            std::erase_if(queue, [&](HttpRequest* waiting) {
                return static_cast<std::size_t>(waiting->Tag) > index;
            });
        }
        showProgress();
    };
    ui.SetDownloadProgress(0, 0);
    // A package file that cannot be written ends the download at once, without a message.
    bool written = true;
    try {
        services.Http.Run(queue, ConcurrentDownloads, observer);
    } catch (const std::exception& error) {
        services.Log.Reason(ExceptionMessage(error));
        written = false;
    }

    int unpacked = 0;
    for (const auto& download : downloads) {
        switch (download->Result()) {
        case PackageDownload::Outcome::Unpacked:
            ++unpacked;
            continue;
        case PackageDownload::Outcome::Refused:
            ui.SetDownloadCaption(DownloadCaption + " " + download->FileName());
            services.Log.Reason(download->Failure());
            ui.ShowMessage(PackageFailedMessage + QuoteSingle(download->FileName()),
                           MessageKind::Failure);
            break;
        default:
            ui.SetDownloadCaption(DownloadCaption + " " + download->FileName());
            if (!download->Failure().isEmpty())
                services.Log.Reason(download->Failure());
            break;
        }
        services.Run.DownloadedCount += unpacked;
        return false;
    }
    services.Run.DownloadedCount += unpacked;
    if (!written)
        return false;
    ui.SetDownloadCaption(DownloadCaption);
    ui.ProcessEvents();
    return true;
}

} // namespace

bool DownloadPackage(const Services& services, const QString& fileName) {
    return DownloadFiles(services, {fileName});
}

bool DownloadUpdates(const Services& services) {
    RunState& run = services.Run;
    UserInterface& ui = services.Ui;
    run.DownloadedCount = 0;
    try {
        EnsureWorkFolder(run.CopyFolder, SharedWorkFolderMode);
        ui.SetDownloadCaption(DownloadCaption);
        ui.SetDownloadVisible(true);
        ui.ProcessEvents();
        QStringList fileNames;
        for (const SelectedFile& selected : SelectedFiles(run))
            fileNames.append(selected.File.FileName);
        if (!fileNames.isEmpty() && !DownloadFiles(services, fileNames))
            return false;
        ui.SetDownloadCaption(DownloadCaption);
        ui.ProcessEvents();
        return true;
    } catch (const std::exception& error) {
        services.Log.Reason(ExceptionMessage(error));
        return false;
    }
}
