#include "platform/desktopwindows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <memory>

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

struct XFreeDeleter {
    void operator()(void* data) const {
        if (data != nullptr)
            XFree(data);
    }
};

QString WindowTitle(Display* display, Window window) {
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count,
                           &remaining, &data) == Success &&
        data != nullptr) {
        std::unique_ptr<unsigned char, XFreeDeleter> owned(data);
        return QString::fromUtf8(reinterpret_cast<const char*>(data),
                                 static_cast<qsizetype>(count));
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) != 0 && name != nullptr) {
        std::unique_ptr<char, XFreeDeleter> owned(name);
        return QString::fromLocal8Bit(name);
    }
    return {};
}

void SendCloseRequest(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
}

// Top-level client windows sit directly below the root, or one level lower under a reparenting
// window manager.
void Visit(Display* display, Window window, int depth, const QString& title) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0)
        return;
    std::unique_ptr<Window, XFreeDeleter> owned(children);
    for (unsigned int i = 0; i < count; ++i) {
        if (WindowTitle(display, children[i]) == title)
            SendCloseRequest(display, children[i]);
        else if (depth < 1)
            Visit(display, children[i], depth + 1, title);
    }
}

} // namespace

void RequestCloseOfWindowsTitled(const QString& title) {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    const std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display)
        return;
    Visit(display.get(), DefaultRootWindow(display.get()), 0, title);
    XFlush(display.get());
}
