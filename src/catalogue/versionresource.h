#pragma once

#include <QString>

// One string of the version resource of a Windows executable or library ("Comments",
// "FileVersion", "LegalCopyright" or "ProductName"), read under the first translation pair, with
// commas turned into full stops. Empty text when the file, the resource or the string is missing,
// or the file is damaged.
QString ReadVersionString(const QString& path, const QString& query);
