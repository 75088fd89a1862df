#pragma once

#include <QStringList>
#include <cstdio>
#include <optional>

// One line of text on a terminal stream, written at once.
void PrintLine(FILE* stream, const QString& text);

// The headless commands: the same analysis, check, pipeline and messages as the window, with
// messages printed instead of shown and questions answered by their default (or yes with --yes).
// Nothing when the arguments name no headless command; otherwise the process exit code.
std::optional<int> RunConsoleCommand(const QStringList& arguments);

// Exit codes of the headless commands.
namespace ExitCode {
constexpr int Success = 0;
constexpr int SecondInstance = 1;
constexpr int StartupFailure = 2;
constexpr int UpdatesProposed = 3;
constexpr int Failure = 4;
constexpr int NotConfirmed = 5;
// A signal asked the run to stop: this plus the signal's number (130 SIGINT, 143 SIGTERM).
constexpr int StoppedBySignal = 128;
} // namespace ExitCode
