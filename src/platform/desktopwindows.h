#pragma once

#include <QString>

// Asks every top-level window with exactly this title to close (the window manager's close
// request), without waiting. Does nothing where there is no desktop session to ask.
void RequestCloseOfWindowsTitled(const QString& title);
