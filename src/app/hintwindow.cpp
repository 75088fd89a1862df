#include "app/hintwindow.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

void TMyHintWindow::Install() {
    static bool installed = false;
    if (installed || qApp == nullptr)
        return;
    qApp->installEventFilter(new TMyHintWindow(qApp));
    installed = true;
}

bool TMyHintWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Polish && watched->inherits("QTipLabel")) {
        auto* tip = static_cast<QWidget*>(watched);
        tip->setWindowFlag(Qt::NoDropShadowWindowHint, true);
    }
    return QObject::eventFilter(watched, event);
}
