#pragma once

#include "catalogue/deltaoffer.h"
#include "catalogue/requiredfiles.h"
#include "catalogue/varie.h"
#include "environment/installationstate.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The catalogue the run accepted last (verified, when signed), where it came from, and the
// validators its answer carried.
struct AcceptedCatalogue {
    QString Address;
    QByteArray Bytes;
    QByteArray ETag;
    QByteArray LastModified;
};

// The shared state of a run, owned by the main window (or the console front end): the
// installation as the analysis found it, and what the check and the update make of it.
struct RunState : InstallationState {
    QString CopyFolder;
    QString BackupFolder;
    QString RemoteUrl;
    // The maker's public key; when set, the catalogue must be signed with it and every package
    // must have its SHA-256 in it.
    QString PublicKey;
    bool ShowAll = false;
    bool Verbose = false;
    // How long a database script, or the wait for another workstation's scripts, waits for a
    // locked record on a shared database, in seconds.
    int LockWaitSeconds = 60;
    // Where the server backs up a shared database before scripts, as a path on the server; empty:
    // beside the database.
    QString ServerBackupFolder;
    QString AvailableSchemaVersion;

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

    bool CatalogueSigned() const { return !PublicKey.trimmed().isEmpty(); }
};
