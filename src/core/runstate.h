#pragma once

#include "catalogue/requiredfiles.h"
#include "catalogue/varie.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// What the info card shows.
struct InstallationInfo {
    QString ApplicationPath;
    QString IniPath;
    QString Server;
    QString FirebirdDirectory;
    QString ArchivioPos;
    QString ComandoIsql;
    QString ArchivioLabel;
    // Whether the catalogue is signed and the connection protected.
    QString CatalogueProtection;
    // Unchecked, partially checked (not yet analysed) or checked, as Qt::CheckState values.
    int EmbeddedState = 1;
};

// A delta the catalogue offers for an installed file: its name on the server, the installed file
// it rebuilds from and the size in bytes of the file it rebuilds.
struct DeltaOffer {
    QString Delta;
    QString Reference;
    qint64 Size = 0;
};

// The catalogue the run accepted last (verified, when signed), where it came from, and the
// validators its answer carried.
struct AcceptedCatalogue {
    QString Address;
    QByteArray Bytes;
    QByteArray ETag;
    QByteArray LastModified;
};

// The shared state of a run, owned by the main window (or the console front end).
struct RunState {
    QString CopyFolder;
    QString BackupFolder;
    QString RemoteUrl;
    // The maker's public key; when set, the catalogue must be signed with it and every package
    // must have its SHA-256 in it.
    QString PublicKey;
    QString DatabasePath;
    bool ShowAll = false;
    bool Verbose = false;
    QString IsqlCommand;
    // How long a database script, or the wait for another workstation's scripts, waits for a
    // locked record on a shared database, in seconds.
    int LockWaitSeconds = 60;
    // Where the server backs up a shared database before scripts, as a path on the server; empty:
    // beside the database.
    QString ServerBackupFolder;
    QString DatabaseAlias = QStringLiteral("VELMORA");
    QString AvailableSchemaVersion;

    InstallationInfo Info;
    QList<ChecklistRow> Checklist;
    bool UpdateButtonVisible = false;
    RequiredFileList RequiredFiles;
    int DownloadedCount = 0;
    // SHA-256 (hexadecimal) of packages by package name ("N.7z"), from the catalogue's section
    // "SHA256" of the last check; a package without an entry is not checked, or refused when the
    // catalogue is signed.
    QMap<QString, QString> PackageChecksums;
    // Deltas that fit installed files, by file name, and the SHA-256 that each rebuilt file must
    // have; a file without a delta comes from its package.
    QMap<QString, DeltaOffer> Deltas;
    QMap<QString, QString> FileChecksums;
    // The size in bytes of what the download fetches for each file (by its name on the server,
    // package or delta) as the check's size queries found it: the measure of the download bar.
    QMap<QString, qint64> PackageBytes;
    // The sizes in bytes that the catalogue lists for packages and deltas, by their names on the
    // server.
    QMap<QString, qint64> ListedSizes;
    // A later check of the run asks the server only whether this catalogue changed.
    AcceptedCatalogue LastCatalogue;
    // Arguments after the program name when the updater restarts itself with its new executable.
    QStringList RestartArguments;

    bool Embedded() const { return Info.EmbeddedState == 2; }
    bool CatalogueSigned() const { return !PublicKey.trimmed().isEmpty(); }
};
