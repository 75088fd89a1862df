#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

inline const QString SecondInstanceMessage =
    QStringLiteral("Non si possono aprire contemporaneamente più istanze di ");

// Program folder followed by the executable's base name, with every "\" and then every ":"
// removed, as narrow text.
QByteArray GuardName(const QString& programFolder, const QString& baseName);

// File name of the running executable without folder and extension.
QString ExecutableBaseName();

// True when this process is the only one holding the guard of its program folder, a lock file in
// the folder's "Orvo", or when this user cannot write the installation and finds no lock file
// there (such a user cannot change it). Otherwise tells the person through `tell`, with the
// reason when the lock file could not be used, and returns false. The guard is taken on the
// first call only.
bool CheckSingleInstance(const std::function<void(const QString&)>& tell);
