#pragma once

#include <QString>

// File name of the updater's own executable in the program folder.
extern const QString UpdaterExecutableName;

// Full path of the running executable; empty when the platform cannot tell.
QString RunningExecutablePath();

// Whether the file is a program this machine can run: on Linux an ELF executable of the running
// program's class, byte order and architecture.
bool IsRunnableProgram(const QString& path);
