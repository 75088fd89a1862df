#pragma once

#include <QByteArray>
#include <QString>

// Narrow text as Windows writes it: UTF-8 when the bytes are valid UTF-8, else Windows-1252.
QString DecodeAnsi(const QByteArray& bytes);
bool IsValidUtf8(const QByteArray& bytes);

enum class TextEncoding { Windows1252, Utf8, Utf16LittleEndian, Utf16BigEndian };

// How a whole text file is encoded, and how many bytes its byte-order mark takes.
struct TextFormat {
    TextEncoding Encoding;
    qsizetype MarkLength;
};

// UTF-16 with a byte-order mark, UTF-8 with a mark or when the bytes are valid UTF-8, else
// Windows-1252.
TextFormat DetectTextFormat(const QByteArray& bytes);

// Text after the mark, in one encoding. A mark-like sequence in it is text (U+FEFF), so each line
// of a file decodes to the same characters alone as within the whole file.
QString DecodeText(const QByteArray& bytes, TextEncoding encoding);
// Characters that Windows-1252 lacks become "?".
QByteArray EncodeText(const QString& text, TextEncoding encoding);

// A whole text file, decoded as DetectTextFormat finds it.
QString DecodeTextFile(const QByteArray& bytes);
