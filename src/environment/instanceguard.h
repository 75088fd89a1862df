#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

inline const QString SecondInstanceMessage =
    QStringLiteral("Non si possono aprire contemporaneamente più istanze di ");
// A copy of Orvanto under another name already works on the same installation.
inline const QString InstallationBusyMessage =
    QStringLiteral("Un'altra copia di Orvanto è già in esecuzione sulla stessa installazione: ");

// Program folder followed by the executable's base name, with every "\" and then every ":"
// removed, as narrow text.
QByteArray GuardName(const QString& programFolder, const QString& baseName);

// File name of the running executable without folder and extension.
QString ExecutableBaseName();

// True when this process is the only one holding the guard of its program folder, a lock file in
// the folder's "Orvo", and the guard of the installation, whatever the executable is called (a
// run that only checks clears the downloads too, so every run is exclusive), or when this user
// cannot write the installation and finds no lock file there (such a user cannot change it).
// Otherwise tells the person through `tell`, with the reason when the lock file could not be used,
// and returns false. The guard is taken on the first call only.
bool CheckSingleInstance(const std::function<void(const QString&)>& tell);
