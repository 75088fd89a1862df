#pragma once

#include <QString>

// The update catalogue: "update.ini" next to the packages on the server, section "VERSIONI".
inline const QString CatalogueFileName = QStringLiteral("update.ini");
inline const QString CatalogueSection = QStringLiteral("VERSIONI");
// SHA-256 of the packages, in hexadecimal, by package name ("N.7z"); optional.
inline const QString ChecksumSection = QStringLiteral("SHA256");
// Sizes in bytes of the packages and deltas, by their names on the server; optional. A listed file
// is not asked for its size, and must arrive with that size.
inline const QString PackageSizeSection = QStringLiteral("DIMENSIONE");

// "modifiche" + the step with at least three digits + ".sql".
QString ScriptFileName(long long step);
// The step of a name that ScriptFileName formed ("modifiche206.sql" gives 206); -1 for any other.
long long ScriptStep(const QString& fileName);
