#include "support/programcopy.h"

#include <QFile>
#include <QProcessEnvironment>
#include <stdexcept>

QString CopyProgramTo(const QString& folder, const QString& name) {
    const QString target = folder + "/" + name;
    QFile::remove(target);
    if (!QFile::copy(QStringLiteral(ORVANTO_EXECUTABLE), target))
        throw std::runtime_error("cannot copy the program to " + target.toStdString());
    QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner | QFile::ExeUser);
    return target;
}

RunningProgram::RunningProgram(const QString& program, const QStringList& arguments,
                               bool withDisplay)
    : Process(std::make_unique<QProcess>()) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    if (withDisplay)
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    Process->setProcessEnvironment(environment);
    Process->start(program, arguments);
    if (!Process->waitForStarted())
        throw std::runtime_error("cannot start " + program.toStdString());
}

RunningProgram::~RunningProgram() {
    if (Process->state() != QProcess::NotRunning) {
        Process->kill();
        Process->waitForFinished();
    }
}

bool RunningProgram::WaitForExit(int milliseconds) {
    return Process->waitForFinished(milliseconds);
}

int RunningProgram::ExitCode() const {
    return Process->exitCode();
}

QString RunningProgram::StandardError() {
    return QString::fromLocal8Bit(Process->readAllStandardError());
}

QString RunningProgram::StandardOutput() {
    return QString::fromLocal8Bit(Process->readAllStandardOutput());
}
