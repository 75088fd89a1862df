#pragma once

#include <QString>

class UserInterface;

// Velmora's documentation wiki; page names are appended directly.
inline const QString WikiBaseAddress =
    QStringLiteral("https://code.example.org/velmora/docs/wiki/");
inline const QString NewsPageAddress = WikiBaseAddress + QStringLiteral("novita");

// The address itself for an empty caption, else an HTML anchor (nothing escaped).
QString MakeLink(const QString& address, const QString& caption);
QString MakeNewsLink(const QString& caption);
// Hands a non-empty text to the browser; the outcome is not examined.
void OpenDocument(UserInterface& ui, const QString& text);
