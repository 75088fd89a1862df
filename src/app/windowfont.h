#pragma once

#include <QFont>

// Segoe UI, or the closest sans-serif face the system has, at a height in pixels.
QFont SegoeUi(int pixels);

// The text of the windows: the main window's checklist and the restore dialog.
QFont WindowFont();
