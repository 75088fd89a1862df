#pragma once

#include <QString>

// One string of the version resource of a Windows executable or library (PE32 or PE32+), read
// from the file itself: "Comments", "FileVersion", "LegalCopyright" or "ProductName", looked up
// under the first translation pair only, with every comma turned into a full stop. Empty text when
// the file, the resource, the translation table or the string is missing, or the file is damaged;
// never throws. Any other query name is a programming error (asserted in development builds,
// empty text otherwise).
QString ReadVersionString(const QString& path, const QString& query);
