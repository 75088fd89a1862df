#include "platform/desktopwindows.h"
#include "support/tempinstall.h"

#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

// A virtual X display of its own, stopped when the object goes.
class VirtualDisplay {
public:
    VirtualDisplay() {
        Server.start("Xvfb", {Name, "-screen", "0", "640x480x24", "-nolisten", "tcp"});
        Server.waitForStarted();
        QThread::msleep(500);
    }
    ~VirtualDisplay() {
        Server.terminate();
        Server.waitForFinished();
    }
    const QString Name = QStringLiteral(":71");

private:
    QProcess Server;
};

} // namespace

TEST(DesktopWindows, AsksOnlyTheWindowsTitledVelmoraToClose) {
    VirtualDisplay display;
    ScopedEnvironment environment;
    environment.Set("DISPLAY", display.Name);
    QProcess velmora;
    QProcess other;
    velmora.start("xmessage", {"-title", "VELMORA", "Velmora"});
    other.start("xmessage", {"-title", "VELMORA 2", "altro"});
    ASSERT_TRUE(velmora.waitForStarted() && other.waitForStarted());
    QThread::msleep(500);

    RequestCloseOfWindowsTitled("VELMORA");
    EXPECT_TRUE(velmora.waitForFinished(5000)) << "the window titled VELMORA closed";
    EXPECT_FALSE(other.waitForFinished(500)) << "another title is left alone";
    other.kill();
    other.waitForFinished();

    environment.Unset("DISPLAY");
    RequestCloseOfWindowsTitled("VELMORA"); // no display: nothing to ask, no failure
}
