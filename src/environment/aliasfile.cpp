#include "environment/aliasfile.h"

#include "core/texttrim.h"
#include "environment/ansitext.h"
#include "environment/lowlevel.h"

#include <QFile>
#include <QStringList>

namespace {

// The value of an alias line: after the first "=" (or from the start), before the first "{" (or
// to the end), trimmed; empty when the brace comes before the "=".
QString AliasLineValue(const QString& line) {
    const qsizetype equals = line.indexOf('=');
    const qsizetype start = equals < 0 ? 0 : equals + 1;
    const qsizetype brace = line.indexOf('{');
    const qsizetype end = brace < 0 ? line.size() : brace;
    if (end < start)
        return {};
    return TrimControls(line.mid(start, end - start));
}

// The file's lines, read in the ANSI code page; lines end with LF or CR LF.
QStringList ReadLines(QFile& file) {
    QStringList lines = DecodeAnsi(file.readAll()).split('\n');
    if (lines.last().isEmpty())
        lines.removeLast(); // nothing follows the last line end
    for (QString& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

} // namespace

QString FindAliasFile(const QString& folder, const LogSink& log) {
    for (const QString& name : {DatabasesConfName, AliasesConfName}) {
        log("Analisi file " + name);
        const QString path = JoinPath(folder, name);
        if (FileExists(path))
            return path;
        log("  Non presente");
    }
    return {};
}

QString ResolveAliasPath(const QString& folder, const QString& alias, const LogSink& log) {
    const QString path = FindAliasFile(folder, log);
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString value;
    for (const QString& line : ReadLines(file)) {
        if (!line.contains(alias))
            continue;
        log("  Parsing " + QuoteSingle(line));
        value = AliasLineValue(line);
        if (!value.isEmpty())
            break;
    }
    file.close();
    log(value.isEmpty() ? QStringLiteral("  DB non individuato")
                        : "  DB individuato (" + value + ")");
    return value;
}
