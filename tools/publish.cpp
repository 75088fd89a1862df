// orvanto-publish [--sign SECRET_KEY_FILE] [--previous OLD_RELEASE_FOLDER ...] RELEASE_FOLDER
//                 SERVER_FOLDER COMPONENT=VERSION ...
// orvanto-publish --verify URL_OR_FOLDER [--key PUBLIC_KEY] [--previous OLD_RELEASE_FOLDER ...]
//
// Checks the request first (versions, scripts, files, folders, key) and touches nothing when
// anything is wrong. Then builds the new release beside the server folder: every file of the
// release folder packed into N.7z (one 7-Zip archive per file, holding the file under its name
// alone, as the updater downloads and unpacks it), the script packages of earlier schema steps
// kept from the live release, and update.ini: section "VERSIONI" with the given versions, and
// section "SHA256" with the SHA-256 of every package, section "DIMENSIONE" with the size in bytes
// of every package and delta. With --sign, minisign signs update.ini with the secret key into
// update.ini.minisig (asking for the key's password as minisign does). With
// --previous (once per older release still in the field), every file that changed since that
// release also gets a delta, NAME-<first 16 digits of the old file's SHA-256>.zst made by
// `zstd --patch-from`, when it is smaller than 60 % of the full package; update.ini then lists
// the deltas in section "DELTA", the SHA-256 of their new files in section "SHA256 FILE" and
// their sizes in section "DIMENSIONE FILE". Only when all of it is complete does the server
// folder switch to it, in one step. Ends with a summary of what was published.
//
// --verify reads the server as an installation does and lists what would fail an update (see
// serververify.h).
//
// Exit codes: 0 published (or verified without a problem), 64 wrong usage, 65 a problem of the
// release or the key (nothing changed), 1 a failure while building or switching (the live
// release stays served), or problems found by --verify.

#include "catalogue/catalogue.h"
#include "catalogue/deltaoffer.h"
#include "catalogue/signature.h"
#include "catalogue/signedcatalogue.h"
#include "core/error.h"
#include "knownsignatures.h"
#include "pipeline/delta.h"
#include "releasecheck.h"
#include "releaseswitch.h"
#include "serververify.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <cstdio>

namespace {

constexpr int UsageExit = 64;
constexpr int DataExit = 65;

// A delta pays when it is smaller than this share of the full package.
constexpr double DeltaShare = 0.6;

void Print(FILE* stream, const QString& line) {
    std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
}

int Fail(const QString& message, int code = 1) {
    Print(stderr, "orvanto-publish: " + message);
    return code;
}

// Runs a tool to the end; false with its output as the reason when it fails.
bool RunTool(QProcess& tool, const QString& program, const QStringList& arguments,
             const QString& what, QString& error) {
    tool.start(program, arguments);
    if (!tool.waitForFinished(-1) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0) {
        error = what + ": " + QString::fromLocal8Bit(tool.readAllStandardError()) +
                (tool.error() == QProcess::FailedToStart ? tool.errorString() : QString());
        return false;
    }
    return true;
}

bool Pack(const QString& releaseFolder, const QString& name, const QString& package,
          QString& error) {
    QProcess archiver;
    archiver.setWorkingDirectory(releaseFolder);
    archiver.setStandardOutputFile(QProcess::nullDevice());
    return RunTool(archiver, QStringLiteral("7za"), {"a", "-mx5", "-bd", package, "--", name},
                   "7za non ha creato " + package, error);
}

// Runs minisign on the catalogue with the terminal (or standard input) passed through, so that
// it can ask for the secret key's password.
bool Sign(const QString& secretKey, const QString& catalogue, const QString& signature,
          QString& error) {
    QProcess signer;
    signer.setProcessChannelMode(QProcess::ForwardedChannels);
    signer.setInputChannelMode(QProcess::ForwardedInputChannel);
    return RunTool(signer, QStringLiteral("minisign"),
                   {"-S", "-s", secretKey, "-m", catalogue, "-x", signature},
                   "minisign non ha firmato " + catalogue + " con la chiave " + secretKey, error);
}

QString Kilobytes(qint64 bytes) {
    return QString::number((bytes + 1023) / 1024) + " KB";
}

// The new release as it is built: its catalogue sections and what the summary reports.
struct Release {
    QString Deltas, FileChecksums, FileSizes;
    QStringList MadeDeltas, SkippedDeltas, KeptScripts;
    int Packages = 0;
    qint64 PackageBytes = 0;
};

// The deltas of the file from each older release where they pay; the new file's SHA-256 and size
// are listed when there is at least one.
bool PublishDeltas(const PublishRequest& request, const QString& name, const QDir& folder,
                   Release& release, QString& error) {
    const QString newFile = QDir(request.ReleaseFolder).absoluteFilePath(name);
    const QString newSha = FileSha256(newFile);
    const qint64 packageSize = QFileInfo(folder.absoluteFilePath(name + ".7z")).size();
    bool any = false;
    for (const QString& previous : request.PreviousReleases) {
        const QString oldFile = QDir(previous).absoluteFilePath(name);
        const QString oldSha = FileSha256(oldFile);
        if (oldSha.isEmpty() || oldSha == newSha)
            continue;
        const QString delta = name + "-" + oldSha.left(16) + ".zst";
        QProcess zstd;
        if (!RunTool(zstd, QStringLiteral("zstd"),
                     {"-q", "-f", "--patch-from=" + oldFile, newFile, "-o",
                      folder.absoluteFilePath(delta)},
                     "zstd non ha creato " + delta, error))
            return false;
        const qint64 size = QFileInfo(folder.absoluteFilePath(delta)).size();
        const QString described =
            delta + " (" + Kilobytes(size) + ", pacchetto " + Kilobytes(packageSize) + ")";
        if (size >= packageSize * DeltaShare) {
            QFile::remove(folder.absoluteFilePath(delta));
            release.SkippedDeltas.append(described);
            continue;
        }
        release.Deltas += DeltaKey(name, oldSha) + "=" + delta + "\r\n";
        release.MadeDeltas.append(described);
        any = true;
    }
    if (any) {
        release.FileChecksums += name + "=" + newSha + "\r\n";
        release.FileSizes += name + "=" + QString::number(QFileInfo(newFile).size()) + "\r\n";
    }
    return true;
}

// Script packages of earlier schema steps that the live release serves and this release does not
// bring: installations still at those steps need them.
bool KeepEarlierScripts(const QString& live, const QDir& folder, Release& release, QString& error) {
    if (live.isEmpty())
        return true;
    for (const QString& package :
         QDir(live).entryList({QStringLiteral("modifiche*.sql.7z")}, QDir::Files)) {
        if (folder.exists(package))
            continue;
        if (!QFile::copy(QDir(live).absoluteFilePath(package), folder.absoluteFilePath(package))) {
            error = "impossibile copiare " + QDir(live).absoluteFilePath(package);
            return false;
        }
        release.KeptScripts.append(package);
    }
    return true;
}

// Builds the whole release in the new folder; false with the reason and the exit code.
bool Build(const PublishRequest& request, const ReleaseSwitch& target, Release& release,
           QString& error, int& code) {
    code = 1;
    const QDir source(request.ReleaseFolder);
    const QDir folder(target.NewFolder());
    for (const QString& name : source.entryList(QDir::Files, QDir::Name)) {
        if (!Pack(source.absolutePath(), name, folder.absoluteFilePath(name + ".7z"), error) ||
            !PublishDeltas(request, name, folder, release, error))
            return false;
        ++release.Packages;
        release.PackageBytes += QFileInfo(folder.absoluteFilePath(name + ".7z")).size();
    }
    for (const QString& skipped : source.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        Print(stderr, "orvanto-publish: cartella ignorata (si pubblicano solo i file): " +
                          source.absoluteFilePath(skipped));
    if (!KeepEarlierScripts(target.LiveFolder(), folder, release, error))
        return false;

    QString catalogue = "[" + CatalogueSection + "]\r\n" + request.Versions.join("\r\n") + "\r\n";
    catalogue += "[" + ChecksumSection + "]\r\n";
    for (const QString& package : folder.entryList({"*.7z", "*.zst"}, QDir::Files, QDir::Name)) {
        const QString checksum = FileSha256(folder.absoluteFilePath(package));
        if (checksum.isEmpty()) {
            error = "impossibile leggere " + folder.absoluteFilePath(package);
            return false;
        }
        catalogue += package + "=" + checksum + "\r\n";
    }
    catalogue += "[" + PackageSizeSection + "]\r\n";
    for (const QFileInfo& package :
         folder.entryInfoList({"*.7z", "*.zst"}, QDir::Files, QDir::Name))
        catalogue += package.fileName() + "=" + QString::number(package.size()) + "\r\n";
    if (!release.Deltas.isEmpty())
        catalogue += "[" + DeltaSection + "]\r\n" + release.Deltas + "[" + FileChecksumSection +
                     "]\r\n" + release.FileChecksums + "[" + FileSizeSection + "]\r\n" +
                     release.FileSizes;
    QSaveFile file(folder.absoluteFilePath(CatalogueFileName));
    if (!file.open(QIODevice::WriteOnly) || file.write(catalogue.toUtf8()) < 0 || !file.commit()) {
        error = "impossibile scrivere " + file.fileName() + ": " + file.errorString();
        return false;
    }
    if (!request.SecretKey.isEmpty() && !Sign(request.SecretKey, file.fileName(),
                                              folder.absoluteFilePath(SignatureFileName), error)) {
        code = DataExit;
        return false;
    }
    // The verifier then knows that no catalogue signed before this one may be served again.
    if (!request.SecretKey.isEmpty() &&
        !RecordSignatureFile(folder.absoluteFilePath(SignatureFileName)))
        Print(stderr, QStringLiteral("orvanto-publish: impossibile registrare la data della firma: "
                                     "--verify non potrà riconoscere una firma più vecchia"));
    return true;
}

// Who signed the published catalogue, as the updater's info card names the key.
QString SignedBy(const QString& folder) {
    QFile signature(QDir(folder).absoluteFilePath(SignatureFileName));
    if (!signature.open(QIODevice::ReadOnly))
        return QStringLiteral("Catalogo non firmato");
    try {
        return "Firmato con la chiave " + KeyIdText(ParseSignatureFile(signature.readAll()).KeyId);
    } catch (const OrvantoError& error) {
        return "Firma illeggibile: " + error.Message();
    }
}

void PrintSummary(const PublishRequest& request, const ReleaseSwitch& target,
                  const Release& release) {
    Print(stdout, "Pubblicato in " + request.ServerFolder + " (" + target.NewFolder() + ")");
    for (const QString& version : request.Versions)
        Print(stdout, "  " + version.section('=', 0, 0) + " " + version.section('=', 1));
    Print(stdout, QStringLiteral("  Pacchetti: %1, %2")
                      .arg(release.Packages)
                      .arg(Kilobytes(release.PackageBytes)));
    if (!release.KeptScripts.isEmpty())
        Print(stdout, "  Script dei passi precedenti: " + release.KeptScripts.join(", "));
    for (const QString& delta : release.MadeDeltas)
        Print(stdout, "  Delta: " + delta);
    for (const QString& delta : release.SkippedDeltas)
        Print(stdout, "  Delta non pubblicato (oltre il 60 % del pacchetto): " + delta);
    Print(stdout, "  " + SignedBy(target.NewFolder()));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANTO_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Pubblica un rilascio di Velmora sul server degli aggiornamenti."));
    const QCommandLineOption sign(QStringLiteral("sign"),
                                  QStringLiteral("Firma il catalogo con la chiave segreta."),
                                  QStringLiteral("CHIAVE_SEGRETA"));
    const QCommandLineOption previous(
        QStringLiteral("previous"),
        QStringLiteral("Cartella di un rilascio precedente ancora in uso (per i delta)."),
        QStringLiteral("CARTELLA"));
    const QCommandLineOption verify(
        QStringLiteral("verify"),
        QStringLiteral("Verifica il server come lo legge un'installazione, senza pubblicare."),
        QStringLiteral("URL_O_CARTELLA"));
    const QCommandLineOption key(QStringLiteral("key"),
                                 QStringLiteral("Chiave pubblica (riga base64 o file .pub) con "
                                                "cui --verify controlla la firma."),
                                 QStringLiteral("CHIAVE_PUBBLICA"));
    parser.addOptions({sign, previous, verify, key});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("CARTELLA_RILASCIO"),
                                 QStringLiteral("I file del nuovo rilascio."));
    parser.addPositionalArgument(QStringLiteral("CARTELLA_SERVER"),
                                 QStringLiteral("La cartella servita dal server web."));
    parser.addPositionalArgument(QStringLiteral("COMPONENTE=VERSIONE"),
                                 QStringLiteral("Le versioni pubblicate."),
                                 QStringLiteral("COMPONENTE=VERSIONE ..."));
    if (!parser.parse(QCoreApplication::arguments()))
        return Fail(parser.errorText() + "\n" + parser.helpText(), UsageExit);
    if (parser.isSet(help)) {
        Print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        Print(stdout, "orvanto-publish " + QCoreApplication::applicationVersion());
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(verify)) {
        if (!positional.isEmpty() || parser.isSet(sign))
            return Fail("--verify non pubblica: niente cartelle, versioni o --sign\n" +
                            parser.helpText(),
                        UsageExit);
        return VerifyServer({parser.value(verify), parser.value(key), parser.values(previous)}) == 0
                   ? 0
                   : 1;
    }
    if (parser.isSet(key))
        return Fail("--key vale solo con --verify", UsageExit);
    if (positional.size() < 2)
        return Fail("mancano le cartelle\n" + parser.helpText(), UsageExit);

    PublishRequest request;
    request.ReleaseFolder = positional[0];
    request.ServerFolder = positional[1];
    request.Versions = positional.mid(2);
    request.PreviousReleases = parser.values(previous);
    request.SecretKey = parser.value(sign);
    const QStringList problems = CheckRequest(request);
    if (!problems.isEmpty()) {
        for (const QString& problem : problems)
            Print(stderr, "orvanto-publish: " + problem);
        return Fail("nulla è stato pubblicato; il server non è stato toccato", DataExit);
    }
    try {
        ReleaseSwitch target(request.ServerFolder);
        Release release;
        QString error;
        int code = 1;
        if (!Build(request, target, release, error, code))
            return Fail(error + "\nnulla è stato pubblicato; il server non è stato toccato", code);
        target.Switch();
        PrintSummary(request, target, release);
    } catch (const OrvantoError& error) {
        return Fail(error.Message());
    }
    return 0;
}
