#pragma once

#include <QByteArray>
#include <QString>

// Takes the process-wide guard of that name, an exclusive lock on a file in `folder` (the folder
// and the file are made when missing), and keeps it until the process ends. False when another
// process holds it. A user who cannot write the folder locks the file read-only; when there is no
// file either, there is nothing to guard and the result is true. Throws OrvantoError when the
// folder or the file cannot be made or opened, or the file is not a regular file (a link is
// never followed).
bool AcquireInstanceGuard(const QString& folder, const QByteArray& guardName);

// Takes the guard of the installation itself the same way, on one fixed file in `folder`, so that
// copies of the program under other names never work on it at the same time.
bool AcquireInstallationGuard(const QString& folder);
