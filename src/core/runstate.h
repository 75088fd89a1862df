#pragma once

#include "catalogue/requiredfiles.h"
#include "catalogue/varie.h"

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
    // Unchecked, partially checked (not yet analysed) or checked, as Qt::CheckState values.
    int EmbeddedState = 1;
};

// The shared state of a run, owned by the main window (or the console front end).
struct RunState {
    QString CopyFolder;
    QString BackupFolder;
    QString RemoteUrl;
    QString DatabasePath;
    bool ShowAll = false;
    bool Verbose = false;
    QString IsqlCommand;
    QString DatabaseAlias = QStringLiteral("VELMORA");
    QString AvailableSchemaVersion;

    InstallationInfo Info;
    QList<ChecklistRow> Checklist;
    bool UpdateButtonVisible = false;
    RequiredFileList RequiredFiles;
    int DownloadedCount = 0;
    // SHA-256 (hexadecimal) of packages by package name ("N.7z"), from the catalogue's section
    // "SHA256" of the last check; a package without an entry is not checked.
    QMap<QString, QString> PackageChecksums;
    // Arguments after the program name when the updater restarts itself with its new executable.
    QStringList RestartArguments;

    bool Embedded() const { return Info.EmbeddedState == 2; }
};
