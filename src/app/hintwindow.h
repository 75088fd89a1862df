#pragma once

#include <QObject>

// Draws every tooltip of the program without a drop shadow: installed on the application, it
// clears the shadow of each tooltip window before it is shown.
class TMyHintWindow : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Installs one instance for the whole application.
    static void Install();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
