#include "environment/inifile.h"

#include "core/error.h"
#include "core/filesystem.h"
#include "environment/ansitext.h"
#include "environment/lowlevel.h"

#include <QFile>
#include <optional>

namespace {

constexpr qsizetype MaxValueLength = 2047;

bool IsBlank(QChar c) {
    return c == ' ' || c == '\t';
}

QString TrimBlanks(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && IsBlank(text[start]))
        ++start;
    while (end > start && IsBlank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The name of a section header line ("[name]", blanks allowed around it), or nothing.
std::optional<QString> SectionName(const QString& line) {
    const QString trimmed = TrimBlanks(line);
    if (!trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype close = trimmed.lastIndexOf(']');
    return TrimBlanks(close > 0 ? trimmed.mid(1, close - 1) : trimmed.mid(1));
}

QString Unquoted(const QString& value) {
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        return value.mid(1, value.size() - 2);
    return value;
}

// One line of a text: where it starts, where its content ends (before CR LF) and where the next
// line starts. Works on bytes and on UTF-16 code units alike.
struct LineSpan {
    qsizetype Start;
    qsizetype ContentEnd;
    qsizetype Next;
};

template <typename Text> LineSpan LineAt(const Text& text, qsizetype start) {
    qsizetype end = start;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r')
        ++end;
    qsizetype next = end;
    if (next < text.size() && text[next] == '\r')
        ++next;
    if (next < text.size() && text[next] == '\n')
        ++next;
    return {start, end, next};
}

template <typename Text> Text NewlineOf(const Text& text) {
    const LineSpan first = LineAt(text, 0);
    if (first.Next > first.ContentEnd)
        return text.mid(first.ContentEnd, first.Next - first.ContentEnd);
    return Text("\r\n");
}

// Sets section/key to the encoded value inside the text, touching nothing else.
template <typename Text, typename Decode, typename Encode>
Text WithValue(const Text& text, qsizetype start, const QString& section, const QString& key,
               const QString& value, Decode decode, Encode encode) {
    const Text newline = NewlineOf(text);
    bool inSection = false;
    bool sectionSeen = false;
    qsizetype insertAt = -1;
    for (qsizetype pos = start; pos < text.size();) {
        const LineSpan line = LineAt(text, pos);
        const Text raw = text.mid(line.Start, line.ContentEnd - line.Start);
        const QString decoded = decode(raw);
        if (const auto name = SectionName(decoded)) {
            if (sectionSeen && inSection)
                break;
            inSection = !sectionSeen && SameName(*name, section);
            if (inSection) {
                sectionSeen = true;
                insertAt = line.Next;
            }
        } else if (inSection) {
            const qsizetype equals = raw.indexOf('=');
            if (equals >= 0 && SameName(TrimBlanks(decode(raw.left(equals))), key)) {
                qsizetype valueStart = equals + 1;
                while (valueStart < raw.size() &&
                       (raw[valueStart] == ' ' || raw[valueStart] == '\t'))
                    ++valueStart;
                return text.left(line.Start + valueStart) + encode(value) +
                       text.mid(line.ContentEnd);
            }
            if (!TrimBlanks(decoded).isEmpty())
                insertAt = line.Next;
        }
        pos = line.Next;
    }
    const Text entry = encode(key + '=' + value) + newline;
    if (sectionSeen) {
        const bool needsBreak =
            insertAt > 0 && text[insertAt - 1] != '\n' && text[insertAt - 1] != '\r';
        return text.left(insertAt) + (needsBreak ? newline : Text()) + entry + text.mid(insertAt);
    }
    const bool needsBreak = text.size() > start && !text.endsWith('\n') && !text.endsWith('\r');
    return text + (needsBreak ? newline : Text()) + encode('[' + section + ']') + newline + entry;
}

QByteArray RewrittenFile(const QByteArray& bytes, const QString& section, const QString& key,
                         const QString& value) {
    const TextFormat format = DetectTextFormat(bytes);
    const auto encodeIn = [](TextEncoding encoding) {
        return [encoding](const QString& text) {
            return EncodeText(text, encoding);
        };
    };
    if (format.Encoding == TextEncoding::Utf16LittleEndian ||
        format.Encoding == TextEncoding::Utf16BigEndian) {
        const auto same = [](const QString& s) {
            return s;
        };
        const QString text = DecodeTextFile(bytes);
        return bytes.left(format.MarkLength) +
               EncodeText(WithValue(text, 0, section, key, value, same, same), format.Encoding);
    }
    // Lines are found and matched in the encoding that the reader uses for the whole file.
    const auto decode = [encoding = format.Encoding](const QByteArray& line) {
        return DecodeText(line, encoding);
    };
    const QByteArray rewritten =
        WithValue(bytes, format.MarkLength, section, key, value, decode, encodeIn(format.Encoding));
    // When the replaced value held the file's only bytes that are not UTF-8, the file now reads
    // as UTF-8: the value is written in UTF-8 too, so that it reads back as written.
    const TextEncoding now = DetectTextFormat(rewritten).Encoding;
    if (now == format.Encoding)
        return rewritten;
    return WithValue(bytes, format.MarkLength, section, key, value, decode, encodeIn(now));
}

} // namespace

IniFile::IniFile(const QString& path) : Path(path) {}

IniText::IniText(const QByteArray& bytes) {
    const QString text = DecodeTextFile(bytes);
    QHash<QString, QString>* current = nullptr;
    QStringList* order = nullptr;
    for (qsizetype pos = 0; pos < text.size();) {
        const LineSpan span = LineAt(text, pos);
        const QString line = text.mid(span.Start, span.ContentEnd - span.Start);
        pos = span.Next;
        if (const auto name = SectionName(line)) {
            // Only the first section of a name is read.
            const QString folded = name->toCaseFolded();
            current = Sections.contains(folded) ? nullptr : &Sections[folded];
            order = current == nullptr ? nullptr : &KeyOrder[folded];
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (current == nullptr || equals < 0)
            continue;
        const QString spelt = TrimBlanks(line.left(equals));
        const QString key = spelt.toCaseFolded();
        if (current->contains(key))
            continue;
        current->insert(key, Unquoted(TrimBlanks(line.mid(equals + 1))).left(MaxValueLength));
        order->append(spelt);
    }
}

QString IniText::ReadString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
    const auto found = Sections.constFind(section.toCaseFolded());
    if (found == Sections.constEnd())
        return defaultValue;
    return found->value(key.toCaseFolded(), defaultValue);
}

QStringList IniText::Keys(const QString& section) const {
    return KeyOrder.value(section.toCaseFolded());
}

QString IniFile::ReadString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
    QFile file(Path);
    if (Path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return defaultValue;
    return IniText(file.readAll()).ReadString(section, key, defaultValue);
}

void WriteIniValue(FileSystem& files, const QString& linkOrPath, const QString& section,
                   const QString& key, const QString& value) {
    // A settings file that is a link is written where the link leads; the link stays.
    const QString path = FollowLinks(linkOrPath);
    QByteArray bytes;
    QFile current(path);
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly))
            throw OrvantoError::Failure("Lettura del file", path, current.errorString());
        bytes = current.readAll();
        if (current.error() != QFileDevice::NoError)
            throw OrvantoError::Failure("Lettura del file", path, current.errorString());
    }
    files.WriteFile(path, RewrittenFile(bytes, section, key, value));
}
