#pragma once

#include <QString>

struct Services;

// Puts back from a backup archive every installed file of the required entries except the
// archiver and the database scripts, then the database file when the archive holds it. Each
// replaced file stays beside it as its kept copy; a file the archive does not hold is left as it
// was. An archive that is missing or fails the archiver's test changes nothing. Always true.
bool RestoreBackup(const Services& services, const QString& archive);
