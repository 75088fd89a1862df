// orvanto-publish [--sign SECRET_KEY_FILE] RELEASE_FOLDER SERVER_FOLDER [COMPONENT=VERSION ...]
//
// Packs every file of the release folder into SERVER_FOLDER/N.7z (one 7-Zip archive per file,
// holding the file under its name alone, as the updater downloads and unpacks it) and writes
// SERVER_FOLDER/update.ini: section "VERSIONI" with the given versions, and section "SHA256" with
// the SHA-256 of every package in the server folder. With --sign, minisign signs update.ini with
// the secret key into update.ini.minisig (asking for the key's password as minisign does);
// without it, a signature left from an earlier catalogue is removed.

#include "catalogue/catalogue.h"
#include "catalogue/signedcatalogue.h"

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

QString Sha256Of(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
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
    const qsizetype sign = arguments.indexOf("--sign");
    if (sign >= 0 && sign + 1 < arguments.size()) {
        secretKey = arguments[sign + 1];
        arguments.remove(sign, 2);
    }
    if (arguments.size() < 2 || arguments.contains("--help") || arguments.contains("--sign"))
        return Fail("uso: orvanto-publish [--sign CHIAVE_SEGRETA] CARTELLA_RILASCIO "
                    "CARTELLA_SERVER [COMPONENTE=VERSIONE ...]");
    const QDir release(arguments[0]);
    const QDir server(arguments[1]);
    if (!release.exists())
        return Fail("la cartella di rilascio non esiste: " + release.path());
    if (!QDir().mkpath(server.absolutePath()))
        return Fail("impossibile creare la cartella del server: " + server.path());

    for (const QString& name : release.entryList(QDir::Files, QDir::Name)) {
        QString error;
        if (!Pack(release.absolutePath(), name, server.absoluteFilePath(name + ".7z"), error))
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
    for (const QString& package : server.entryList({"*.7z"}, QDir::Files, QDir::Name)) {
        const QString checksum = Sha256Of(server.absoluteFilePath(package));
        if (checksum.isEmpty())
            return Fail("impossibile leggere " + server.absoluteFilePath(package));
        catalogue += package + "=" + checksum + "\r\n";
    }
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
