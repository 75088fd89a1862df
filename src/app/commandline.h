#pragma once

#include <QString>
#include <QStringList>

// What Orvanto's command line asks for, read as a whole: options in any order, each command
// alone, every option known. The verbose switch goes with the window and with any
// command: "-v", "-V", "--verbose", or an argument that is no option and holds "verbose", "/v" or
// "-v" without regard to case ("/V", "/verbose:1", see VerboseRequested).
struct CommandLine {
    enum class Command {
        // No command: the window.
        Window,
        Check,
        Update,
        ListBackups,
        Restore,
        FileVersion,
        Version,
        Help,
        // The line cannot be run: Error says why.
        UsageError,
    };
    Command What = Command::Window;
    // The archive of --restore, the file of --fileversion.
    QString Value;
    bool Quiet = false;
    bool ShowAll = false;
    bool AssumeYes = false;
    bool Verbose = false;
    QString Error;
};

// Reads the arguments after the program name. Help and the version win over any other command
// or option once the line parses; a usage error names the first thing wrong, in Italian.
CommandLine ParseCommandLine(const QStringList& arguments);

// The text of --help.
QString UsageText();
