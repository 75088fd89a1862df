#include "platform/process.h"

#include "platform/stopsignals.h"

#include <QFile>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

void ReplaceProcess(const QString& program, const QStringList& arguments) {
    const QByteArray path = QFile::encodeName(program);
    std::vector<QByteArray> storage;
    storage.reserve(arguments.size());
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    ReleaseStopSignals();
    ::execv(path.constData(), argv.data());
    BlockStopSignals();
}

void PrepareChildProcess() {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::setpgid(0, 0);
    ReleaseStopSignals();
}
