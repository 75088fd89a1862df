#pragma once

#include <QString>

// A request to stop the run. A signal makes it (platform/stopsignals.h); the steps look at it
// where they can end without harm and throw RunStopped there. RunStopped is no std::exception, so
// the handlers that turn errors into failed steps let it through, up to the update action (which
// puts the installation back first) and the front end, which ends the run with 128 + the signal.
//
// Work that must not be cut short holds a StopShield: a rollback, a database script. Under a
// shield only a second request stops the run.

struct RunStopped {
    int Signal = 0;
    // What became of the update, for the log and the person; empty when no update was running.
    QString Outcome;
};

// Records a request; callable from any thread.
void RequestStop(int signal);
// The signal of the first request; 0 when none was made.
int StopSignal();
// Whether the run must stop here: a request was made, and under a shield a second one.
bool StopRequested();
// Throws RunStopped when the run must stop here.
void ThrowIfStopped();

class StopShield {
public:
    StopShield();
    ~StopShield();
    StopShield(const StopShield&) = delete;
    StopShield& operator=(const StopShield&) = delete;
};
