#pragma once

#include <QStringList>
#include <cstdio>

struct CommandLine;

// One line of text on a terminal stream, written at once.
void PrintLine(FILE* stream, const QString& text);

// The headless commands that work on the installation (check, update, list and restore): the same
// analysis, check, pipeline and messages as the window, with messages printed instead of shown and
// questions answered by their default (or yes with --yes). `arguments` are those after the program
// name, as given; a self-update goes on with them. Returns the process exit code.
int RunConsoleCommand(const CommandLine& line, const QStringList& arguments);

// Exit codes of the headless commands.
namespace ExitCode {
constexpr int Success = 0;
constexpr int SecondInstance = 1;
constexpr int StartupFailure = 2;
constexpr int UpdatesProposed = 3;
constexpr int Failure = 4;
constexpr int NotConfirmed = 5;
// EX_USAGE: the command line cannot be run.
constexpr int UsageError = 64;
// A signal asked the run to stop: this plus the signal's number (130 SIGINT, 143 SIGTERM).
constexpr int StoppedBySignal = 128;
} // namespace ExitCode
