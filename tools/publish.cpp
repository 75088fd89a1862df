// orvanto-publish [--sign SECRET_KEY_FILE] [--previous OLD_RELEASE_FOLDER ...] RELEASE_FOLDER
//                 SERVER_FOLDER [COMPONENT=VERSION ...]
//
// Packs every file of the release folder into SERVER_FOLDER/N.7z (one 7-Zip archive per file,
// holding the file under its name alone, as the updater downloads and unpacks it) and writes
// SERVER_FOLDER/update.ini: section "VERSIONI" with the given versions, and section "SHA256" with
// the SHA-256 of every package in the server folder. With --sign, minisign signs update.ini with
// the secret key into update.ini.minisig (asking for the key's password as minisign does);
// without it, a signature left from an earlier catalogue is removed. With --previous (once per
// older release still in the field), every file that changed since that release also gets a
// delta, NAME-<first 16 digits of the old file's SHA-256>.zst made by `zstd --patch-from`, when
// it is smaller than 60 % of the full package; update.ini then lists the deltas in section
// "DELTA", the SHA-256 of their new files in section "SHA256 FILE" and their sizes in section
// "DIMENSIONE FILE". Deltas of an earlier publication are removed.

#include "catalogue/catalogue.h"
#include "catalogue/signedcatalogue.h"
#include "pipeline/delta.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <cstdio>

namespace {

int Fail(const QString& message) {
    std::fprintf(stderr, "orvanto-publish: %s\n", message.toLocal8Bit().constData());
    return 1;
}

bool Pack(const QString& releaseFolder, const QString& name, const QString& package,
          QString& error) {
    QFile::remove(package);
    QProcess archiver;
    archiver.setWorkingDirectory(releaseFolder);
    archiver.setStandardOutputFile(QProcess::nullDevice());
    archiver.start(QStringLiteral("7za"), {"a", "-mx5", "-bd", package, "--", name});
    if (!archiver.waitForFinished(-1) || archiver.exitStatus() != QProcess::NormalExit ||
        archiver.exitCode() != 0) {
        error = "7za non ha creato " + package + ": " +
                QString::fromLocal8Bit(archiver.readAllStandardError());
        return false;
    }
    return true;
}

// A delta pays when it is smaller than this share of the full package.
constexpr double DeltaShare = 0.6;

// Makes the delta from the old file to the new one with the real zstd; false with the reason
// when zstd fails.
bool MakeDelta(const QString& oldFile, const QString& newFile, const QString& delta,
               QString& error) {
    QProcess zstd;
    zstd.setProcessChannelMode(QProcess::MergedChannels);
    zstd.start(QStringLiteral("zstd"),
               {"-q", "-f", "--patch-from=" + oldFile, newFile, "-o", delta});
    if (!zstd.waitForFinished(-1) || zstd.exitStatus() != QProcess::NormalExit ||
        zstd.exitCode() != 0) {
        error = "zstd non ha creato " + delta + ": " + QString::fromLocal8Bit(zstd.readAll()) +
                zstd.errorString();
        return false;
    }
    return true;
}

// The catalogue lines of the deltas: section "DELTA", and the SHA-256 and size of each file that
// a delta rebuilds.
struct DeltaLines {
    QString Deltas;
    QString FileChecksums;
    QString FileSizes;
};

// The deltas of the file from each older release where they pay; the new file's SHA-256 and size
// are listed when there is at least one.
bool PublishDeltas(const QDir& release, const QString& name, const QStringList& previous,
                   const QDir& server, DeltaLines& lines, QString& error) {
    const QString newFile = release.absoluteFilePath(name);
    const QString newSha = FileSha256(newFile);
    const qint64 packageSize = QFileInfo(server.absoluteFilePath(name + ".7z")).size();
    bool any = false;
    for (const QString& folder : previous) {
        const QString oldFile = QDir(folder).absoluteFilePath(name);
        const QString oldSha = FileSha256(oldFile);
        if (oldSha.isEmpty() || oldSha == newSha)
            continue;
        const QString delta = name + "-" + oldSha.left(16) + ".zst";
        if (!MakeDelta(oldFile, newFile, server.absoluteFilePath(delta), error))
            return false;
        if (QFileInfo(server.absoluteFilePath(delta)).size() >= packageSize * DeltaShare) {
            QFile::remove(server.absoluteFilePath(delta));
            continue;
        }
        lines.Deltas += DeltaKey(name, oldSha) + "=" + delta + "\r\n";
        std::printf("%s\n", delta.toLocal8Bit().constData());
        any = true;
    }
    if (any) {
        lines.FileChecksums += name + "=" + newSha + "\r\n";
        lines.FileSizes += name + "=" + QString::number(QFileInfo(newFile).size()) + "\r\n";
    }
    return true;
}

// Runs minisign on the catalogue with the terminal (or standard input) passed through, so that
// it can ask for the secret key's password.
bool Sign(const QString& secretKey, const QString& catalogue, const QString& signature,
          QString& error) {
    QProcess signer;
    signer.setProcessChannelMode(QProcess::ForwardedChannels);
    signer.setInputChannelMode(QProcess::ForwardedInputChannel);
    signer.start(QStringLiteral("minisign"),
                 {"-S", "-s", secretKey, "-m", catalogue, "-x", signature});
    if (!signer.waitForFinished(-1) || signer.exitStatus() != QProcess::NormalExit ||
        signer.exitCode() != 0) {
        error = "minisign non ha firmato " + catalogue +
                (signer.error() == QProcess::FailedToStart ? ": " + signer.errorString() : "");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    QString secretKey;
    QStringList previous;
    for (qsizetype i = 0; i + 1 < arguments.size();) {
        if (arguments[i] == "--sign")
            secretKey = arguments[i + 1];
        else if (arguments[i] == "--previous")
            previous.append(arguments[i + 1]);
        else {
            ++i;
            continue;
        }
        arguments.remove(i, 2);
    }
    if (arguments.size() < 2 || arguments.contains("--help") || arguments.contains("--sign") ||
        arguments.contains("--previous"))
        return Fail("uso: orvanto-publish [--sign CHIAVE_SEGRETA] [--previous CARTELLA_RILASCIO_"
                    "PRECEDENTE ...] CARTELLA_RILASCIO CARTELLA_SERVER [COMPONENTE=VERSIONE ...]");
    const QDir release(arguments[0]);
    const QDir server(arguments[1]);
    if (!release.exists())
        return Fail("la cartella di rilascio non esiste: " + release.path());
    if (!QDir().mkpath(server.absolutePath()))
        return Fail("impossibile creare la cartella del server: " + server.path());

    for (const QString& stale : server.entryList({"*.zst"}, QDir::Files)) {
        if (!QFile::remove(server.absoluteFilePath(stale)))
            return Fail("impossibile rimuovere il delta precedente " + stale);
    }
    DeltaLines deltaLines;
    for (const QString& name : release.entryList(QDir::Files, QDir::Name)) {
        QString error;
        if (!Pack(release.absolutePath(), name, server.absoluteFilePath(name + ".7z"), error) ||
            !PublishDeltas(release, name, previous, server, deltaLines, error))
            return Fail(error);
        std::printf("%s.7z\n", name.toLocal8Bit().constData());
    }

    QString catalogue = "[" + CatalogueSection + "]\r\n";
    for (const QString& version : arguments.mid(2)) {
        if (!version.contains('='))
            return Fail("versione senza '=': " + version);
        catalogue += version + "\r\n";
    }
    catalogue += "[" + ChecksumSection + "]\r\n";
    for (const QString& package : server.entryList({"*.7z", "*.zst"}, QDir::Files, QDir::Name)) {
        const QString checksum = FileSha256(server.absoluteFilePath(package));
        if (checksum.isEmpty())
            return Fail("impossibile leggere " + server.absoluteFilePath(package));
        catalogue += package + "=" + checksum + "\r\n";
    }
    if (!deltaLines.Deltas.isEmpty())
        catalogue += "[" + DeltaSection + "]\r\n" + deltaLines.Deltas + "[" + FileChecksumSection +
                     "]\r\n" + deltaLines.FileChecksums + "[" + FileSizeSection + "]\r\n" +
                     deltaLines.FileSizes;
    QSaveFile file(server.absoluteFilePath(CatalogueFileName));
    if (!file.open(QIODevice::WriteOnly) || file.write(catalogue.toUtf8()) < 0 || !file.commit())
        return Fail("impossibile scrivere " + file.fileName() + ": " + file.errorString());
    const QString signature = server.absoluteFilePath(SignatureFileName);
    if (secretKey.isEmpty()) {
        if (QFile::exists(signature) && !QFile::remove(signature))
            return Fail("impossibile rimuovere la firma precedente " + signature);
        return 0;
    }
    QString error;
    if (!Sign(secretKey, file.fileName(), signature, error)) {
        // No signature of an earlier catalogue stays beside this one.
        QFile::remove(signature);
        return Fail(error);
    }
    return 0;
}
