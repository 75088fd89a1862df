#include "app/commandline.h"
#include "app/console.h"
#include "app/mainwindow.h"
#include "app/questionbox.h"
#include "app/restoredialog.h"
#include "app/workflow.h"
#include "catalogue/versioni.h"
#include "catalogue/versionresource.h"
#include "core/error.h"
#include "core/sanitizer.h"
#include "core/stoprequest.h"
#include "environment/instanceguard.h"
#include "platform/stopsignals.h"

#include <QApplication>
#include <cstdio>

ORVANTO_LEAK_SUPPRESSIONS

namespace {

const QString Title = QStringLiteral("Orvanto");

bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Before the application object exists: a message box when there is a display, and stderr.
void TellBeforeStart(const QString& text) {
    PrintLine(stderr, text);
    if (!HasDisplay())
        return;
    int argc = 1;
    char name[] = "Orvanto";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ShowBox(nullptr, QMessageBox::Information, Title, text);
}

int PrintFileVersion(const QString& path) {
    PrintLine(stdout, ReadVersionString(path, QStringLiteral("FileVersion")));
    return ExitCode::Success;
}

int RunWindow(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(Title);
    try {
        TFormRipristina restoreDialog;
        TFormOrvanto window(QApplication::arguments().mid(1), &restoreDialog);
        window.show();
        const int code = app.exec();
        return StopSignal() == 0 ? code : ExitCode::StoppedBySignal + StopSignal();
    } catch (const std::exception& error) {
        LogStartupFailure(QApplication::arguments().mid(1), ExceptionMessage(error),
                          ExitCode::StartupFailure);
        PrintLine(stderr, ExceptionMessage(error));
        ShowBox(nullptr, QMessageBox::Critical, Title, ExceptionMessage(error));
        return ExitCode::StartupFailure;
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // Before any thread is started, so that every thread leaves these signals to the one that
    // takes them.
    InstallStopSignals();
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // The line is read before anything else: help, the version (a new updater is tried from the
    // work folder with "--version"), a file's version and a usage error need no settings, take no
    // guard and write no log.
    const CommandLine line = ParseCommandLine(arguments);
    switch (line.What) {
    case CommandLine::Command::UsageError:
        PrintLine(stderr, "Orvanto: " + line.Error + "\nOrvanto --help elenca i comandi.");
        return ExitCode::UsageError;
    case CommandLine::Command::Help:
        std::fputs(UsageText().toLocal8Bit().constData(), stdout);
        return ExitCode::Success;
    case CommandLine::Command::Version:
        PrintLine(stdout, UpdaterVersion);
        return ExitCode::Success;
    case CommandLine::Command::FileVersion:
        return PrintFileVersion(line.Value);
    case CommandLine::Command::Window:
        break;
    default: {
        // A headless command never opens the window, display or not.
        QCoreApplication app(argc, argv);
        return RunConsoleCommand(line, arguments);
    }
    }

    if (!CheckSingleInstance(TellBeforeStart))
        return ExitCode::SecondInstance;
    if (!HasDisplay()) {
        PrintLine(stderr, QStringLiteral("Orvanto: nessuno schermo disponibile per la finestra.\n"
                                         "Senza finestra: Orvanto --help elenca i comandi."));
        return ExitCode::StartupFailure;
    }
    return RunWindow(argc, argv);
}
