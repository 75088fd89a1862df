#pragma once

#include <QByteArray>
#include <QString>

// Narrow text as Windows writes it: UTF-8 when the bytes are valid UTF-8, else Windows-1252.
QString DecodeAnsi(const QByteArray& bytes);
bool IsValidUtf8(const QByteArray& bytes);
QByteArray EncodeWindows1252(const QString& text);

// A whole text file: UTF-16 with a byte-order mark, UTF-8 (with or without mark), or Windows-1252.
QString DecodeTextFile(const QByteArray& bytes);
