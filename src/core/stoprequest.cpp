#include "core/stoprequest.h"

#include <atomic>

namespace {

std::atomic<int> FirstSignal{0};
std::atomic<int> Requests{0};
// Requests come from the thread that takes the signals; shields are held, and the counters read,
// by the thread that runs the steps.
int Shields = 0;

} // namespace

void RequestStop(int signal) {
    int none = 0;
    FirstSignal.compare_exchange_strong(none, signal);
    Requests.fetch_add(1);
}

int StopSignal() {
    return FirstSignal.load();
}

bool StopRequested() {
    return Requests.load() >= (Shields > 0 ? 2 : 1);
}

void ThrowIfStopped() {
    if (StopRequested())
        throw RunStopped{StopSignal(), QString()};
}

StopShield::StopShield() {
    ++Shields;
}

StopShield::~StopShield() {
    --Shields;
}
