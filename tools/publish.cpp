// orvanto-publish RELEASE_FOLDER SERVER_FOLDER [COMPONENT=VERSION ...]
//
// Packs every file of the release folder into SERVER_FOLDER/N.7z (one 7-Zip archive per file,
// holding the file under its name alone, as the updater downloads and unpacks it) and writes
// SERVER_FOLDER/update.ini: section "VERSIONI" with the given versions, and section "SHA256" with
// the SHA-256 of every package in the server folder.

#include "catalogue/catalogue.h"

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

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() < 2 || arguments.contains("--help"))
        return Fail(
            "uso: orvanto-publish CARTELLA_RILASCIO CARTELLA_SERVER [COMPONENTE=VERSIONE ...]");
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
    return 0;
}
