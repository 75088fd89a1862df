#include "restore/newslink.h"

#include "core/userinterface.h"

QString MakeLink(const QString& address, const QString& caption) {
    if (caption.isEmpty())
        return address;
    return "<a href=\"" + address + "\">" + caption + "</a>";
}

QString MakeNewsLink(const QString& caption) {
    return MakeLink(NewsPageAddress, caption);
}

void OpenDocument(UserInterface& ui, const QString& text) {
    if (!text.isEmpty())
        ui.OpenAddress(text);
}
