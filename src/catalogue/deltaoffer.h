#pragma once

#include <QString>

// Deltas: zstd frames made with "patch-from" (`zstd --patch-from=OLD NEW`), which rebuild a new
// file from the one already installed. The catalogue offers them in section "DELTA": the key is
// the file name, "@" and the SHA-256 of the installed file it applies to; the value is the
// delta's file name on the server. Section "SHA256 FILE" gives the SHA-256 of each new file, which
// a rebuilt file must have, and section "DIMENSIONE FILE" its size in bytes, which caps what a
// delta may rebuild.
inline const QString DeltaSection = QStringLiteral("DELTA");
inline const QString FileChecksumSection = QStringLiteral("SHA256 FILE");
inline const QString FileSizeSection = QStringLiteral("DIMENSIONE FILE");

QString DeltaKey(const QString& fileName, const QString& installedSha256);

// The SHA-256 of a file's content in lower-case hexadecimal, or empty text when it cannot be read.
QString FileSha256(const QString& path);

// A delta the catalogue offers for an installed file: its name on the server, the installed file
// it rebuilds from and the size in bytes of the file it rebuilds.
struct DeltaOffer {
    QString Delta;
    QString Reference;
    qint64 Size = 0;
};
