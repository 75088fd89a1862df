#pragma once

#include <QString>
#include <QStringList>

// The archiver's program name on command lines ("7za.exe" / "7za" on Windows). It is looked up
// in the program folder first, then along the search path.
inline const QString ArchiverProgram = QStringLiteral("7za");

// Command lines of the archiver and of isql. Paths holding a blank stand in double quotes.
QString ArchiveTestCommand(const QString& package);
// Unpacks the package, without folders, into the folder that holds it.
QString PackageUnpackCommand(const QString& package);
QString BackupCommand(const QString& archive, const QStringList& files);
QString DatabaseBackupCommand(const QString& archive, const QString& database);
// isql stops at the first error (-b), so a script that fails or cannot connect ends non-zero.
QString ScriptCommand(const QString& isqlCommand, const QString& script, const QString& database);
// Unpacks every file of the archive, without folders, into the target folder, overwriting.
QString ArchiveRestoreCommand(const QString& archive, const QString& targetFolder);
// Lists the archive's entries, one block of "Name = value" lines each.
QString ArchiveListCommand(const QString& archive);

// The command line as the command interpreter receives it: in one more pair of double quotes.
QString InterpreterCommandLine(const QString& commandLine);

// Runs a command line without a shell and waits for its end, however long it takes. The line is
// split as the Windows command interpreter would (blanks separate, double quotes group and are
// removed); a bare program name is looked up in the program folder, then along the search path.
// The command runs in the program folder with no input; its output is not kept, its error output
// goes to ours, or into `output` when it is given. The command ends with the updater, so that
// nothing it started goes on changing the installation after an interruption, and a request to
// stop the run ends it at once (core/stoprequest.h: under a shield, only a second request) and
// throws RunStopped. Returns the exit status, -1 when the program cannot start or crashes. With
// `failure`, a command that does not succeed leaves there the reason: the program, its exit status
// and the last lines it wrote.
int RunCommand(const QString& commandLine, QByteArray* output = nullptr,
               QString* failure = nullptr);

// True when the archiver finds the package sound; `failure` as for RunCommand.
bool TestArchive(const QString& package, QString* failure = nullptr);
// Unpacks the package into its folder; with deleteAfter the package file must then be deleted
// as well for the result to be true. `failure` as for RunCommand.
bool ExtractArchive(const QString& package, bool deleteAfter, QString* failure = nullptr);
