#include "app/windowfont.h"

#include <QStringList>

QFont SegoeUi(int pixels) {
    QFont font;
    font.setFamilies({"Segoe UI", "Open Sans", "Liberation Sans", "DejaVu Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    return font;
}

QFont WindowFont() {
    return SegoeUi(16);
}
