// The version-resource reader on any file: each string it finds has no comma and no NUL, fits in
// the file, and stays the same when bytes are added after the end, since every read it relies on
// lies within the file.

#include "catalogue/versionresource.h"
#include "fuzzinput.h"

namespace {

const QString Queries[] = {QStringLiteral("Comments"), QStringLiteral("FileVersion"),
                           QStringLiteral("LegalCopyright"), QStringLiteral("ProductName")};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray image = InputBytes(data, size);
    const QString path = WriteInputFile(QStringLiteral("image.dll"), image);
    const QString longer = WriteInputFile(QStringLiteral("longer.dll"), image + image);
    for (const QString& query : Queries) {
        const QString text = ReadVersionString(path, query);
        if (text.isEmpty())
            continue;
        const QString detail = query + ": " + text;
        Require(!text.contains(',') && !text.contains(QChar(0)),
                "commas become full stops and the string ends at its NUL", detail);
        Require(quint64(text.size()) * 2 <= size, "the string lies within the file", detail);
        Require(ReadVersionString(longer, query) == text,
                "bytes after the end change no string found", detail);
    }
    return 0;
}
