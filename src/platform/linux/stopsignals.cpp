#include "platform/stopsignals.h"

#include "core/stoprequest.h"

#include <csignal>
#include <cstring>
#include <thread>

namespace {

constexpr int Signals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t StopSignals() {
    sigset_t mask;
    sigemptyset(&mask);
    for (const int signal : Signals)
        sigaddset(&mask, signal);
    return mask;
}

} // namespace

void InstallStopSignals() {
    BlockStopSignals();
    std::thread([] {
        const sigset_t mask = StopSignals();
        for (;;) {
            int signal = 0;
            if (sigwait(&mask, &signal) == 0)
                RequestStop(signal);
        }
    }).detach();
}

void ReleaseStopSignals() {
    const sigset_t mask = StopSignals();
    struct sigaction initial {};
    initial.sa_handler = SIG_DFL;
    for (const int signal : Signals)
        sigaction(signal, &initial, nullptr);
    pthread_sigmask(SIG_UNBLOCK, &mask, nullptr);
}

void BlockStopSignals() {
    const sigset_t mask = StopSignals();
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
}

QString SignalName(int signal) {
    return QStringLiteral("SIG") + QString::fromLatin1(sigabbrev_np(signal));
}
