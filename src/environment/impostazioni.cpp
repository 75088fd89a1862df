#include "environment/impostazioni.h"

#include "core/error.h"
#include "environment/lowlevel.h"

Impostazioni::Impostazioni() : Impostazioni(FindSettingsFile()) {}

Impostazioni::Impostazioni(const QString& path) : Reader(std::make_unique<IniFile>(path)) {
    // The fixed message, then where the file was looked for.
    if (!FileExists(path))
        throw OrvantoError(QStringLiteral("Costruttore classe Impostazioni: file inesistente\n") +
                           SettingsFileName + " cercato in: " +
                           (path.isEmpty() ? SettingsFolders().join(QStringLiteral(", ")) : path));
}

QString Impostazioni::GetDatabase() const {
    return Reader->ReadString("PRINCIPALE", "Database", DefaultDatabaseAlias);
}

QString Impostazioni::GetDatabaseServer() const {
    return Reader->ReadString("PRINCIPALE", "Database server", QString());
}

QString Impostazioni::GetRemoteUrl() const {
    return Reader->ReadString("ORVANTO", "Remote url", DefaultRemoteUrl);
}

QString Impostazioni::GetFileName() const {
    return Reader->FileName();
}

QString Impostazioni::GetCaCertificate() const {
    return Reader->ReadString("ORVANTO", "Certificato CA", QString());
}

bool Impostazioni::GetVerifyCertificate() const {
    const QString value = Reader->ReadString("ORVANTO", "Verifica certificato", "1").toLower();
    return !(value == "0" || value == "no" || value == "false");
}

QString Impostazioni::GetPublicKey() const {
    return Reader->ReadString("ORVANTO", "Chiave pubblica", QString());
}

int Impostazioni::GetLockWaitSeconds() const {
    bool number = false;
    const int seconds = Reader->ReadString("ORVANTO", "Attesa blocchi", QString()).toInt(&number);
    return number && seconds > 0 ? seconds : DefaultLockWaitSeconds;
}

QString Impostazioni::GetServerBackupFolder() const {
    return Reader->ReadString("ORVANTO", "Cartella copie database", QString()).trimmed();
}
