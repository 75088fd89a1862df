#pragma once

#include <QByteArray>
#include <QString>

// The newest signing time that this maker's orvanto-publish has made or verified with each key,
// kept in $XDG_STATE_HOME/orvanto-publish/firme.ini (by default ~/.local/state/...). A catalogue
// signed earlier with the same key is one that installations which accepted the newer refuse.

// The newest signing time known for the key (minisign's 8-byte key id), or -1.
qint64 NewestKnownSigning(const QByteArray& keyId);
// Records a signing time for the key when it is newer than the one known; false when the record
// cannot be written (the caller tells).
bool RecordSigning(const QByteArray& keyId, qint64 signedAt);
// Records the signing time of a signature file; false when it cannot be read or recorded.
bool RecordSignatureFile(const QString& signatureFile);
