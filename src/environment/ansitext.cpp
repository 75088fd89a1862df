#include "environment/ansitext.h"

#include <QStringDecoder>
#include <array>

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the five unassigned bytes map to the C1 controls of the same
// value, as Windows converts them.
constexpr std::array<char16_t, 32> HighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

QString DecodeWindows1252(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text.append(byte >= 0x80 && byte < 0xA0 ? QChar(HighControls[byte - 0x80]) : QChar(byte));
    }
    return text;
}

QByteArray EncodeWindows1252(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        char byte = '?';
        if (unit < 0x80 || (unit >= 0xA0 && unit < 0x100)) {
            byte = static_cast<char>(unit);
        } else {
            for (std::size_t i = 0; i < HighControls.size(); ++i) {
                if (HighControls[i] == unit)
                    byte = static_cast<char>(0x80 + i);
            }
        }
        bytes.append(byte);
    }
    return bytes;
}

// UTF-8 that keeps a leading U+FEFF as a character (QString::fromUtf8 would drop it).
QString DecodeUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

// UTF-16 code units; an odd last byte is no character and is left out.
QString DecodeUtf16(const QByteArray& bytes, bool bigEndian) {
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        text.append(QChar(bigEndian ? (first << 8 | second) : (second << 8 | first)));
    }
    return text;
}

QByteArray EncodeUtf16(const QString& text, bool bigEndian) {
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (const QChar c : text) {
        const char high = static_cast<char>(c.unicode() >> 8);
        const char low = static_cast<char>(c.unicode() & 0xFF);
        bytes.append(bigEndian ? high : low).append(bigEndian ? low : high);
    }
    return bytes;
}

} // namespace

bool IsValidUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString ignored = decoder.decode(bytes);
    return !decoder.hasError();
}

QString DecodeAnsi(const QByteArray& bytes) {
    return IsValidUtf8(bytes) ? QString::fromUtf8(bytes) : DecodeWindows1252(bytes);
}

TextFormat DetectTextFormat(const QByteArray& bytes) {
    if (bytes.startsWith("\xFF\xFE"))
        return {TextEncoding::Utf16LittleEndian, 2};
    if (bytes.startsWith("\xFE\xFF"))
        return {TextEncoding::Utf16BigEndian, 2};
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return {TextEncoding::Utf8, 3};
    return {IsValidUtf8(bytes) ? TextEncoding::Utf8 : TextEncoding::Windows1252, 0};
}

QString DecodeText(const QByteArray& bytes, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Windows1252:
        return DecodeWindows1252(bytes);
    case TextEncoding::Utf8:
        return DecodeUtf8(bytes);
    case TextEncoding::Utf16LittleEndian:
        return DecodeUtf16(bytes, false);
    case TextEncoding::Utf16BigEndian:
        return DecodeUtf16(bytes, true);
    }
    Q_UNREACHABLE();
}

QByteArray EncodeText(const QString& text, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Windows1252:
        return EncodeWindows1252(text);
    case TextEncoding::Utf8:
        return text.toUtf8();
    case TextEncoding::Utf16LittleEndian:
        return EncodeUtf16(text, false);
    case TextEncoding::Utf16BigEndian:
        return EncodeUtf16(text, true);
    }
    Q_UNREACHABLE();
}

QString DecodeTextFile(const QByteArray& bytes) {
    const TextFormat format = DetectTextFormat(bytes);
    return DecodeText(bytes.mid(format.MarkLength), format.Encoding);
}
