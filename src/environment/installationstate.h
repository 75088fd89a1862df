#pragma once

#include <QString>

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

// The installation as the environment analysis finds it: where the database and isql are, and
// what the info card shows.
struct InstallationState {
    QString DatabasePath;
    QString IsqlCommand;
    QString DatabaseAlias = QStringLiteral("VELMORA");
    InstallationInfo Info;

    bool Embedded() const { return Info.EmbeddedState == 2; }
};
