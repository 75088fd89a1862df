#include "fuzzinput.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Abort(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::abort();
}

QTemporaryDir& Folder() {
    static const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                    ? QStringLiteral("/dev/shm")
                                    : QDir::tempPath();
    static QTemporaryDir folder(base + QStringLiteral("/orvanto-fuzz-XXXXXX"));
    if (!folder.isValid())
        Abort("Creating the fuzz folder in " + base + ": " + folder.errorString());
    return folder;
}

// Aborts, so that libFuzzer keeps the input; abort skips the folder's destructor, so the folder is
// removed first.
[[noreturn]] void Fail(const QString& message) {
    Folder().remove();
    Abort(message);
}

} // namespace

QByteArray InputBytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

QString FuzzFolder() {
    return Folder().path();
}

QString WriteInputFile(const QString& name, const QByteArray& bytes) {
    const QString path = Folder().filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush())
        Fail("Writing the fuzz input " + path + ": " + file.errorString());
    return path;
}

void Require(bool holds, const char* invariant, const QString& detail) {
    if (!holds)
        Fail(QStringLiteral("Invariant broken: ") + QString::fromUtf8(invariant) + '\n' + detail);
}
