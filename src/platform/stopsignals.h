#pragma once

#include <QString>

// The signals that ask a program to end (Ctrl-C, a service or system stop, a closed terminal:
// SIGINT, SIGTERM, SIGHUP) become requests to stop the run (core/stoprequest.h), which the steps
// honour at their next safe point, instead of ending the process.
//
// They are blocked in every thread and taken by one thread of their own, so that no other thread
// is interrupted by them: neither the libraries' handlers run (the Firebird client library's own
// would shut every connection down and let the run go on without them) nor their system calls
// fail with EINTR (the Firebird client library then loops for ever on a leftover EINTR when it
// next opens one of its shared files).

// Called first thing in main, before any other thread exists: threads inherit the blocked signals.
void InstallStopSignals();

// In a child process before it runs its program, or before this process is replaced by another
// program: the signals get their default action back and are no longer blocked, as any program
// expects them. Async-signal-safe.
void ReleaseStopSignals();
// Blocks them again, after a replacement that failed.
void BlockStopSignals();

// The signal's name as the log and the terminal show it ("SIGTERM").
QString SignalName(int signal);
