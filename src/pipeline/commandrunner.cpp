#include "pipeline/commandrunner.h"

#include "core/error.h"
#include "core/stoprequest.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "platform/process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>

namespace {

const QString AddCommand = ArchiverProgram + " a -mx1 -ssc ";
// How often a running command looks for a request to stop.
constexpr int StopCheckMilliseconds = 100;

// The folder part of a path, with its trailing separator; empty for a bare name.
QString FolderPart(const QString& path) {
    return path.left(path.lastIndexOf('/') + 1);
}

// What the Windows command interpreter runs of a line that begins with a double quote: the line
// without that quote and without the last double quote.
QString WithoutInterpreterQuotes(QString line) {
    if (!line.startsWith('"'))
        return line;
    line.remove(0, 1);
    const int last = line.lastIndexOf('"');
    if (last >= 0)
        line.remove(last, 1);
    return line;
}

// Blanks and tabs separate arguments; double quotes group blanks into one and are removed.
QStringList SplitCommandLine(const QString& line) {
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool started = false;
    for (const QChar c : line) {
        if (c == '"') {
            quoted = !quoted;
            started = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (started)
                arguments.append(current);
            current.clear();
            started = false;
        } else {
            current += c;
            started = true;
        }
    }
    if (started)
        arguments.append(current);
    return arguments;
}

// A path is taken relative to the program folder; a bare name is an executable file of that
// exact name in the program folder, else one along the search path. Empty when none is found.
QString ResolveProgram(const QString& program) {
    const QDir programFolder(GetProgramFolder());
    if (program.contains('/'))
        return programFolder.absoluteFilePath(program);
    const QFileInfo local(programFolder.absoluteFilePath(program));
    if (local.isFile() && local.isExecutable())
        return local.absoluteFilePath();
    return QStandardPaths::findExecutable(program);
}

} // namespace

QString ArchiveTestCommand(const QString& package) {
    return ArchiverProgram + " t " + QuoteIfSpaced(package);
}

QString PackageUnpackCommand(const QString& package) {
    return ArchiverProgram + " e -o" + QuoteIfSpaced(FolderPart(package)) + " " +
           QuoteIfSpaced(package);
}

QString BackupCommand(const QString& archive, const QStringList& files) {
    QString command = AddCommand + QuoteIfSpaced(archive);
    for (const QString& file : files)
        command += " " + QuoteIfSpaced(file);
    return command;
}

QString DatabaseBackupCommand(const QString& archive, const QString& database) {
    return AddCommand + " " + QuoteIfSpaced(archive) + " " + QuoteIfSpaced(database);
}

QString ScriptCommand(const QString& isqlCommand, const QString& script, const QString& database) {
    return isqlCommand + " -b -u " + DatabaseUser + " -p " + DatabasePassword + " -n -i " +
           QuoteIfSpaced(script) + " " + QuoteIfSpaced(database);
}

QString ArchiveRestoreCommand(const QString& archive, const QString& targetFolder) {
    return ArchiverProgram + " e -aoa " + QuoteIfSpaced(archive) + " -o" +
           QuoteIfSpaced(targetFolder);
}

QString ArchiveListCommand(const QString& archive) {
    return ArchiverProgram + " l -slt " + QuoteIfSpaced(archive);
}

QString InterpreterCommandLine(const QString& commandLine) {
    return '"' + commandLine + '"';
}

namespace {

// The last few lines a command wrote, error output first, on one line for the log.
QString OutputTail(const QByteArray& errors, const QByteArray& output) {
    const QByteArray& chosen = errors.trimmed().isEmpty() ? output : errors;
    QStringList lines;
    for (const QByteArray& line : chosen.split('\n')) {
        const QString text = QString::fromLocal8Bit(line).trimmed();
        if (!text.isEmpty())
            lines.append(text);
    }
    return lines.mid(std::max<qsizetype>(0, lines.size() - 5)).join(QStringLiteral(" / "));
}

} // namespace

int RunCommand(const QString& commandLine, QByteArray* output, QString* failure) {
    QStringList arguments =
        SplitCommandLine(WithoutInterpreterQuotes(InterpreterCommandLine(commandLine)));
    const QString program = arguments.isEmpty() ? QString() : ResolveProgram(arguments.takeFirst());
    if (program.isEmpty()) {
        if (failure)
            *failure = QStringLiteral("Programma non trovato: ") + commandLine.section(' ', 0, 0);
        return -1;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(GetProgramFolder());
    process.setStandardInputFile(QProcess::nullDevice());
    if (!output && !failure)
        process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(failure ? QProcess::SeparateChannels
                                          : QProcess::ForwardedErrorChannel);
    process.setChildProcessModifier(PrepareChildProcess);
    process.start();
    const bool started = process.waitForStarted(-1);
    while (started && !process.waitForFinished(StopCheckMilliseconds) &&
           process.state() != QProcess::NotRunning) {
        if (StopRequested()) {
            process.kill();
            process.waitForFinished(-1);
            ThrowIfStopped();
        }
    }
    const bool ended = started && process.exitStatus() == QProcess::NormalExit;
    const QByteArray standardOutput = process.readAllStandardOutput();
    if (output)
        *output = standardOutput;
    const int status = ended ? process.exitCode() : -1;
    if (failure && status != 0) {
        const QString how =
            ended ? QStringLiteral("terminato con codice %1").arg(status)
                  : QStringLiteral("non avviato o interrotto (%1)").arg(process.errorString());
        const QString tail = OutputTail(process.readAllStandardError(), standardOutput);
        *failure = QFileInfo(program).fileName() + " " + how + (tail.isEmpty() ? "" : ": " + tail);
    }
    return status;
}

bool TestArchive(const QString& package, QString* failure) {
    return RunCommand(ArchiveTestCommand(package), nullptr, failure) == 0;
}

bool ExtractArchive(const QString& package, bool deleteAfter, QString* failure) {
    if (RunCommand(PackageUnpackCommand(package), nullptr, failure) != 0)
        return false;
    QFile file(package);
    if (!deleteAfter || file.remove())
        return true;
    if (failure)
        *failure = OrvantoError::Failure(QStringLiteral("Eliminazione del file"), package,
                                         file.errorString())
                       .Message();
    return false;
}
