#include "app/UnitOrvo.h"
#include "app/console.h"
#include "app/workflow.h"
#include "catalogue/versioni.h"
#include "catalogue/versionresource.h"
#include "core/error.h"
#include "core/instanceguard.h"
#include "core/sanitizer.h"
#include "core/stoprequest.h"
#include "platform/stopsignals.h"
#include "restore/UnitRipristina.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>

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
    QMessageBox::information(nullptr, Title, text);
}

int PrintFileVersion(const char* path) {
    PrintLine(stdout,
              ReadVersionString(QString::fromLocal8Bit(path), QStringLiteral("FileVersion")));
    return 0;
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
        QMessageBox::critical(nullptr, Title, ExceptionMessage(error));
        return ExitCode::StartupFailure;
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // Before any thread is started, so that every thread leaves these signals to the one that
    // takes them.
    InstallStopSignals();
    // The program's own version, as the check reads it; before anything else, so that a new
    // updater can be tried from the work folder (no guard, no settings, no log).
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        PrintLine(stdout, UpdaterVersion);
        return ExitCode::Success;
    }
    if (argc == 3 && std::strcmp(argv[1], "--fileversion") == 0)
        return PrintFileVersion(argv[2]);
    if (argc > 1 && std::strncmp(argv[1], "--", 2) == 0) {
        QCoreApplication app(argc, argv);
        if (const std::optional<int> code = RunConsoleCommand(QCoreApplication::arguments().mid(1)))
            return *code;
    }

    if (!CheckSingleInstance(TellBeforeStart))
        return ExitCode::SecondInstance;

    if (!HasDisplay()) {
        PrintLine(stderr, QStringLiteral("Orvanto: nessuno schermo disponibile per la finestra."));
        return ExitCode::StartupFailure;
    }
    return RunWindow(argc, argv);
}
