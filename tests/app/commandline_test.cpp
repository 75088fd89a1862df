#include "app/commandline.h"

#include <gtest/gtest.h>

// The command line read as a whole; the real program's answers are in headless_test.cpp.

namespace {

using Command = CommandLine::Command;

std::string Describe(const CommandLine& line) {
    return QString("command %1, value '%2', quiet %3, show-all %4, yes %5, verbose %6, error '%7'")
        .arg(static_cast<int>(line.What))
        .arg(line.Value)
        .arg(line.Quiet)
        .arg(line.ShowAll)
        .arg(line.AssumeYes)
        .arg(line.Verbose)
        .arg(line.Error)
        .toStdString();
}

} // namespace

TEST(CommandLineParser, ReadsEachCommandWithItsOptionsInAnyOrder) {
    const struct {
        QStringList Arguments;
        Command What;
        QString Value;
        bool Quiet, ShowAll, AssumeYes, Verbose;
    } rows[] = {
        {{}, Command::Window, "", false, false, false, false},
        {{"/v"}, Command::Window, "", false, false, false, true},
        {{"-V"}, Command::Window, "", false, false, false, true},
        {{"--verbose"}, Command::Window, "", false, false, false, true},
        {{"/verbose:1"}, Command::Window, "", false, false, false, true},
        {{"--update", "--quiet"}, Command::Update, "", true, false, false, false},
        {{"--quiet", "--update"}, Command::Update, "", true, false, false, false},
        {{"--show-all", "--quiet", "--check"}, Command::Check, "", true, true, false, false},
        {{"-check"}, Command::Check, "", false, false, false, false},
        {{"--check", "-v"}, Command::Check, "", false, false, false, true},
        {{"--list-backups"}, Command::ListBackups, "", false, false, false, false},
        {{"--yes", "--restore", "a.7z"}, Command::Restore, "a.7z", false, false, true, false},
        {{"--restore=a.7z", "--quiet"}, Command::Restore, "a.7z", true, false, false, false},
        // A path holding "/v" is the file, not the verbose switch.
        {{"--fileversion", "/opt/velmora/7za.exe"},
         Command::FileVersion,
         "/opt/velmora/7za.exe",
         false,
         false,
         false,
         false},
        {{"--version"}, Command::Version, "", false, false, false, false},
        {{"--help"}, Command::Help, "", false, false, false, false},
        {{"-h"}, Command::Help, "", false, false, false, false},
        // Help and the version win over any other command.
        {{"--check", "--update", "--help"}, Command::Help, "", false, false, false, false},
        {{"--update", "--version"}, Command::Version, "", false, false, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Arguments.join(' ').toStdString());
        const CommandLine line = ParseCommandLine(row.Arguments);
        EXPECT_EQ(line.What, row.What) << Describe(line);
        EXPECT_EQ(line.Value, row.Value);
        EXPECT_EQ(line.Quiet, row.Quiet);
        EXPECT_EQ(line.ShowAll, row.ShowAll);
        EXPECT_EQ(line.AssumeYes, row.AssumeYes);
        EXPECT_EQ(line.Verbose, row.Verbose);
    }
}

TEST(CommandLineParser, NamesTheFirstMistakeInItalian) {
    const struct {
        QStringList Arguments;
        QString Error;
    } rows[] = {
        {{"--chek"}, "opzione sconosciuta: --chek"},
        {{"--check", "--bogus"}, "opzione sconosciuta: --bogus"},
        {{"-x"}, "opzione sconosciuta: -x"},
        {{"--check", "--update"}, "un comando alla volta: --check, --update"},
        {{"--update", "--list-backups", "--check"},
         "un comando alla volta: --update, --list-backups, --check"},
        {{"--restore"}, "--restore vuole il nome dell'archivio"},
        {{"--restore", "--yes"}, "--restore vuole il nome dell'archivio"},
        {{"--restore="}, "--restore vuole il nome dell'archivio"},
        {{"--fileversion"}, "--fileversion vuole il percorso del file"},
        {{"--check=1"}, "--check non vuole un valore"},
        {{"--check", "tutto"}, "argomento inatteso: tutto"},
        {{"--quiet"}, "--quiet vale solo con un comando"},
        {{"--show-all"}, "--show-all vale solo con un comando"},
        {{"--list-backups", "--show-all"}, "--show-all vale solo con --check o --update"},
        {{"--update", "--yes"}, "--yes vale solo con --restore"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Arguments.join(' ').toStdString());
        const CommandLine line = ParseCommandLine(row.Arguments);
        EXPECT_EQ(line.What, Command::UsageError) << Describe(line);
        EXPECT_EQ(line.Error.toStdString(), row.Error.toStdString());
    }
}
