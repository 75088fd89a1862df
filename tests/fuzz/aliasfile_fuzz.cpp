// The alias-file reader on any databases.conf: a path it gives is trimmed, stops before "{" and
// stands on a line with the alias; a line with the alias put first wins, and one put last
// changes only a result that was empty.

#include "core/texttrim.h"
#include "environment/aliasfile.h"
#include "environment/ansitext.h"
#include "fuzzinput.h"

#include <QStringList>
#include <algorithm>

namespace {

const QString FirstPath = QStringLiteral("/velmora/prima.fdb");
const QString LastPath = QStringLiteral("/velmora/ultima.fdb");

QString Resolve(const QByteArray& content, const QString& alias) {
    WriteInputFile(DatabasesConfName, content);
    QStringList log;
    const QString path =
        ResolveAliasPath(FuzzFolder(), alias, [&log](const QString& line) { log << line; });
    Require(log.last() == (path.isEmpty() ? QStringLiteral("  DB non individuato")
                                          : "  DB individuato (" + path + ")"),
            "the log ends with the result", alias + ": " + path);
    return path;
}

// Aliases to look up: the usual one and the names the file gives before its "=" signs, as long
// as a line "alias = path" gives that path back.
QStringList AliasesOf(const QStringList& lines) {
    QStringList aliases = {QStringLiteral("VELMORA")};
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf('=');
        const QString name = TrimControls(line.left(equals));
        if (equals > 0 && !name.isEmpty() && !name.contains('{'))
            aliases << name;
    }
    return aliases;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray content = InputBytes(data, size);
    const QStringList lines = DecodeAnsi(content).split('\n');
    const QStringList aliases = AliasesOf(lines);
    const QString alias = aliases[qsizetype(size % std::size_t(aliases.size()))];

    const QString path = Resolve(content, alias);
    if (!path.isEmpty()) {
        Require(path == TrimControls(path) && !path.contains('{'),
                "a path is trimmed and stops before a brace", alias + ": " + path);
        Require(std::any_of(lines.begin(), lines.end(),
                            [&](const QString& line) {
                                return line.contains(alias) && line.contains(path);
                            }),
                "the path stands on a line with the alias", alias + ": " + path);
    }

    // New lines in the file's own encoding, so that it is read as before.
    const TextEncoding encoding =
        IsValidUtf8(content) ? TextEncoding::Utf8 : TextEncoding::Windows1252;
    const auto line = [&](const QString& target) {
        return EncodeText(alias + " = " + target + '\n', encoding);
    };
    // After a blank line, so that an alias that starts with U+FEFF is not read as a mark.
    Require(Resolve('\n' + line(FirstPath) + content, alias) == FirstPath,
            "the first line with the alias wins", alias);
    const QByteArray ended = content.isEmpty() || content.endsWith('\n') ? content : content + '\n';
    Require(Resolve(ended + line(LastPath), alias) == (path.isEmpty() ? LastPath : path),
            "a line added at the end changes only a missing path", alias + ": " + path);
    return 0;
}
