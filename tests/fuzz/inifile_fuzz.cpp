// The ini reader and writer on any file: every value read is one line of at most 2047
// characters, and writing one value reads back as written, keeps every other reading and every
// other line's bytes, and writing it again changes nothing.

#include "core/filesystem.h"
#include "environment/ansitext.h"
#include "environment/inifile.h"
#include "fuzzinput.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <vector>

namespace {

constexpr qsizetype MaxValueLength = 2047;
constexpr std::size_t MaxProbes = 32;

struct Entry {
    QString Section;
    QString Key;
};

// The (section, key) pairs the text seems to name: a rough parse of its own, used only to choose
// what to read, so it need not follow the reader's rules.
std::vector<Entry> EntriesOf(const QString& text) {
    std::vector<Entry> entries;
    QString section;
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    for (const QString& line : text.split(lineBreak)) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith('[')) {
            section = trimmed.mid(1, trimmed.lastIndexOf(']') - 1).trimmed();
        } else if (const qsizetype equals = line.indexOf('='); equals >= 0) {
            entries.push_back({section, line.left(equals).trimmed()});
            if (entries.size() == MaxProbes)
                break;
        }
    }
    return entries;
}

bool IsLatin1Printable(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c.unicode() >= 0x20 && c.unicode() < 0x7F) ||
               (c.unicode() >= 0xA0 && c.unicode() <= 0xFF);
    });
}

bool IsAscii(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

bool HasOuterBlank(const QString& text) {
    return text.startsWith(' ') || text.endsWith(' ');
}

// A section and key that a line "key=value" under "[section]" gives back as they are.
bool IsWritableName(const Entry& entry) {
    return IsLatin1Printable(entry.Section) && IsLatin1Printable(entry.Key) &&
           !HasOuterBlank(entry.Section) && !HasOuterBlank(entry.Key) && !entry.Key.contains('=') &&
           !entry.Key.startsWith('[');
}

// A value that the reader gives back as it is: no blanks around it, no enclosing quotes.
bool IsWritableValue(const QString& value) {
    return IsLatin1Printable(value) && !HasOuterBlank(value) && value.size() <= MaxValueLength &&
           !(value.size() >= 2 && value.startsWith('"') && value.endsWith('"'));
}

bool SameEntry(const Entry& a, const Entry& b) {
    return a.Section.compare(b.Section, Qt::CaseInsensitive) == 0 &&
           a.Key.compare(b.Key, Qt::CaseInsensitive) == 0;
}

QString ReadEntry(const QString& path, const Entry& entry) {
    const QString value = IniFile(path).ReadString(entry.Section, entry.Key, QStringLiteral("\n"));
    Require(value == u"\n" ||
                (value.size() <= MaxValueLength && !value.contains('\n') && !value.contains('\r')),
            "a value is one line of at most 2047 characters",
            entry.Section + " / " + entry.Key + ": " + value);
    return value;
}

std::vector<QString> ReadAll(const QString& path, const std::vector<Entry>& entries) {
    std::vector<QString> values;
    for (const Entry& entry : entries)
        values.push_back(ReadEntry(path, entry));
    return values;
}

// The bytes of `before` that `after` no longer holds, between the longest common start and end.
QByteArray RemovedBytes(const QByteArray& before, const QByteArray& after) {
    const qsizetype shorter = std::min(before.size(), after.size());
    qsizetype prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < shorter - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    return before.mid(prefix, before.size() - prefix - suffix);
}

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    Require(file.open(QIODevice::ReadOnly), "the written file can be read", path);
    return file.readAll();
}

bool IsUtf16(TextEncoding encoding) {
    return encoding == TextEncoding::Utf16LittleEndian || encoding == TextEncoding::Utf16BigEndian;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray before = InputBytes(data, size);
    const QString path = WriteInputFile(QStringLiteral("velmora.ini"), before);
    const std::vector<Entry> entries = EntriesOf(DecodeTextFile(before));
    const std::vector<QString> readBefore = ReadAll(path, entries);

    // What to write: one of the file's own names or a fixed one, and a fixed value or one the
    // file holds; the input's size picks, so that every mutation tries another pair.
    std::vector<Entry> names = {{QStringLiteral("PRINCIPALE"), QStringLiteral("Versione")},
                                {QStringLiteral("Sezione nuova"), QStringLiteral("Città")}};
    std::vector<QString> values = {QStringLiteral("3.12.0"), QString(),
                                   QString::fromUtf8("Caffè S.r.l."),
                                   QString::fromUtf8("Ã©") /* Windows-1252 bytes that are UTF-8 */};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (IsWritableName(entries[i]))
            names.push_back(entries[i]);
        if (IsWritableValue(readBefore[i]))
            values.push_back(readBefore[i]);
    }
    const Entry& target = names[size % names.size()];
    const QString& value = values[size / names.size() % values.size()];
    const QString detail = target.Section + " / " + target.Key + " = " + value;

    FileSystem files;
    WriteIniValue(files, path, target.Section, target.Key, value);
    const QByteArray after = ReadBytes(path);

    const TextEncoding encodingBefore = DetectTextFormat(before).Encoding;
    const TextEncoding encodingAfter = DetectTextFormat(after).Encoding;
    const bool turnedUtf8 = encodingAfter != encodingBefore;
    Require(!turnedUtf8 || (encodingBefore == TextEncoding::Windows1252 &&
                            encodingAfter == TextEncoding::Utf8),
            "the file keeps its encoding, unless the replaced value held its only non-UTF-8 bytes",
            detail);
    if (!IsUtf16(encodingBefore)) {
        const QByteArray removed = RemovedBytes(before, after);
        Require(!removed.contains('\n') && !removed.contains('\r'),
                "only bytes within one line are replaced", detail);
    }
    // A file that turned into UTF-8 kept its bytes, so its non-ASCII text reads differently from
    // now on: then only ASCII names still name the same lines, and other keys are not compared.
    if (turnedUtf8 && !(IsAscii(target.Section) && IsAscii(target.Key)))
        return 0;
    Require(ReadEntry(path, target) == value, "the written value reads back", detail);
    if (!turnedUtf8) {
        const std::vector<QString> readAfter = ReadAll(path, entries);
        for (std::size_t i = 0; i < entries.size(); ++i)
            Require(SameEntry(entries[i], target) || readAfter[i] == readBefore[i],
                    "every other key reads as before",
                    detail + "\nchanged: " + entries[i].Section + " / " + entries[i].Key);
    }

    WriteIniValue(files, path, target.Section, target.Key, value);
    Require(ReadBytes(path) == after, "writing the same value again changes nothing", detail);
    return 0;
}
