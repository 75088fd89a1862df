#pragma once

#include <QString>
#include <QStringList>

// Replaces the running process with the program, keeping its process id; the program gets the
// stop signals as any program does (platform/stopsignals.h). Returns only when the program cannot
// be started.
void ReplaceProcess(const QString& program, const QStringList& arguments);

// Called in a child process before it runs its program: the child is ended when the process that
// started it ends, however that ends; it leaves the process group of its parent, so that the
// signals a terminal sends to the group (Ctrl-C) reach the updater alone, which decides when a
// running command may be cut short; and it gets the stop signals as any program does.
void PrepareChildProcess();
