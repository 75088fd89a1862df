#pragma once

#include <QString>

// File name of the updater's own executable in the program folder.
extern const QString UpdaterExecutableName;

// Full path of the running executable; empty when the platform cannot tell.
QString RunningExecutablePath();
