#pragma once

#include "environment/inifile.h"

#include <QString>
#include <memory>

// The maker's update address, used when the settings name none.
inline const QString DefaultRemoteUrl =
    QStringLiteral("https://updates.keltra.example/download/velmora/");
inline const QString DefaultDatabaseAlias = QStringLiteral("VELMORA");
inline const int DefaultLockWaitSeconds = 60;

// Velmora's settings file, read-only: the values Orvanto needs.
class Impostazioni {
public:
    // Opens the file that FindSettingsFile names.
    Impostazioni();
    // Throws OrvantoError "Costruttore classe Impostazioni: file inesistente" when the file is
    // missing, with a second line naming where it was looked for.
    explicit Impostazioni(const QString& path);

    QString GetDatabase() const;
    QString GetDatabaseServer() const;
    QString GetRemoteUrl() const;
    QString GetFileName() const;
    // [ORVANTO] "Certificato CA": a certificate file to trust for the update server, besides the
    // system's; [ORVANTO] "Verifica certificato" = 0 turns the server certificate check off.
    QString GetCaCertificate() const;
    bool GetVerifyCertificate() const;
    // [ORVANTO] "Chiave pubblica": the maker's minisign public key (its base64 line); when set,
    // only a catalogue signed with it is accepted.
    QString GetPublicKey() const;
    // [ORVANTO] "Attesa blocchi": the seconds a database script, or the wait for another
    // workstation's scripts, waits for a locked record on a shared database; default 60.
    int GetLockWaitSeconds() const;
    // [ORVANTO] "Cartella copie database": the folder on the server, as the server names it, where
    // a shared database is backed up before scripts; empty: beside the database.
    QString GetServerBackupFolder() const;

private:
    std::unique_ptr<IniFile> Reader;
};
