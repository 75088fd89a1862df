#pragma once

#include <QByteArray>

// Takes the process-wide guard of that name and keeps it until the process ends.
// False when another process holds it or it cannot be created.
bool AcquireInstanceGuard(const QByteArray& guardName);
