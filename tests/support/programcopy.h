#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

// A copy of the built Orvanto executable in a folder of a temporary installation (a link would
// resolve back to the build folder), started as a real process.
QString CopyProgramTo(const QString& folder, const QString& name = QStringLiteral("Orvanto"));

// Starts a program and kills it when the object goes.
class RunningProgram {
public:
    RunningProgram(const QString& program, const QStringList& arguments, bool withDisplay);
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram();

    // Waits for the end; false when it still runs after the given time.
    bool WaitForExit(int milliseconds);
    int ExitCode() const;
    QString StandardError();
    QString StandardOutput();

private:
    std::unique_ptr<QProcess> Process;
};
