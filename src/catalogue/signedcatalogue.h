#pragma once

#include <QByteArray>
#include <QString>

class FileSystem;

// The catalogue's signature, beside it on the server.
inline const QString SignatureFileName = QStringLiteral("update.ini.minisig");
// Upper bounds of what the check reads from the server: far above any real catalogue (a few
// kilobytes; a thousand schema steps with their checksums stay under 200 KB) and any minisign
// signature (a few hundred bytes).
constexpr qint64 MaxCatalogueBytes = 4 * 1024 * 1024;
constexpr qint64 MaxSignatureBytes = 64 * 1024;

// "Orvo/firma-catalogo.ini" in the program folder: the signing time of the newest catalogue this
// installation has accepted, so that an older one served again is refused.
QString AcceptedSignaturePath();

// Accepts the catalogue when the signature file was made over it with the maker's public key (the
// base64 line of a minisign public key) and it was signed no earlier than the last catalogue
// accepted; then records its signing time, durably. Otherwise throws OrvantoError with the
// message for the person, which names the reason.
void VerifyCatalogue(FileSystem& files, const QString& publicKey, const QByteArray& catalogue,
                     const QByteArray& signatureFile);

// The message of a refused catalogue, with its reason.
QString CatalogueRefusedMessage(const QString& reason);

// How the catalogue reaches this installation, for the info card and the log: signed with which
// key, or not signed, and over a connection that nobody can tamper with or not.
QString CatalogueProtection(const QString& remoteUrl, const QString& publicKey);
