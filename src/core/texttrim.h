#pragma once

#include <QString>

// The text without the characters at both ends whose code is a blank or below (blanks, tabs,
// line breaks and other control characters).
inline QString TrimControls(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start].unicode() <= ' ')
        ++start;
    while (end > start && text[end - 1].unicode() <= ' ')
        --end;
    return text.mid(start, end - start);
}
