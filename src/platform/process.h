#pragma once

#include <QString>
#include <QStringList>

// Replaces the running process with the program, keeping its process id. Returns only when the
// program cannot be started.
void ReplaceProcess(const QString& program, const QStringList& arguments);

// Called in a child process before it runs its program: the child is ended when the process that
// started it ends, however that ends.
void EndWithParent();
