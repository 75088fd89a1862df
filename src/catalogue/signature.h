#pragma once

#include <QByteArray>
#include <QString>

// Signatures in minisign's format: Ed25519 over the file itself ("Ed") or over its BLAKE2b-512
// digest ("ED"), plus a global signature over the signature and the trusted comment.

// A public key: the base64 line of a minisign public key file.
struct PublicKey {
    QByteArray KeyId;
    QByteArray Key;
};

struct Signature {
    bool Prehashed = false;
    QByteArray KeyId;
    QByteArray Value;
    QByteArray TrustedComment;
    QByteArray GlobalSignature;
};

// Both throw OrvantoError with the reason, in Italian, when the text is not in that format.
PublicKey ParsePublicKey(const QString& base64Line);
Signature ParseSignatureFile(const QByteArray& text);

// Throws OrvantoError with the reason when the signature was not made with that key over that
// message and that trusted comment.
void VerifySignature(const PublicKey& key, const Signature& signature, const QByteArray& message);

// The signing time that minisign writes into the trusted comment ("timestamp:N"), or -1.
qint64 SigningTime(const QByteArray& trustedComment);

// The key id as minisign shows it: 16 upper-case hexadecimal digits.
QString KeyIdText(const QByteArray& keyId);
