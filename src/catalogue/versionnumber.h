#pragma once

#include <QString>

// True when the available version is newer than the installed one. Empty (or blank) text on
// either side is a missing version and never newer.
bool IsNewerVersion(const QString& installed, const QString& available);
