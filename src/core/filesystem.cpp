#include "core/filesystem.h"

#include "core/descriptor.h"
#include "core/error.h"
#include "core/workfolder.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const QString RenameOperation = QStringLiteral("Rinomina del file");
const QString RemoveOperation = QStringLiteral("Eliminazione del file");
const QString WriteOperation = QStringLiteral("Scrittura del file");
const QString ReadOperation = QStringLiteral("Lettura del file");
const QString SyncOperation = QStringLiteral("Sincronizzazione su disco di");
const QString PermissionsOperation = QStringLiteral("Impostazione dei permessi di");
// The new content of a file is written under this name beside it, then renamed over it.
const QString NewSuffix = QStringLiteral(".nuovo");

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

[[noreturn]] void Fail(const QString& operation, const QString& path, int error) {
    throw OrvantoError::Failure(operation, path, QString::fromLocal8Bit(std::strerror(error)));
}

// A file opened by path, closed on every path, whose failures name the file.
class OpenedFile {
public:
    OpenedFile(const QString& path, int flags, mode_t mode = 0)
        : Path(path), Fd(::open(Native(path).constData(), flags | O_CLOEXEC, mode)) {}
    OpenedFile(const QString& path, Descriptor fd) : Path(path), Fd(std::move(fd)) {}

    bool IsOpen() const { return Fd.Get() >= 0; }
    int Get() const { return Fd.Get(); }

    void WriteAll(const char* data, qint64 size) const {
        while (size > 0) {
            const ssize_t written = ::write(Fd.Get(), data, static_cast<size_t>(size));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                Fail(WriteOperation, Path, written < 0 ? errno : ENOSPC);
            data += written;
            size -= written;
        }
    }
    void Sync() const {
        if (::fsync(Fd.Get()) != 0)
            Fail(SyncOperation, Path, errno);
    }
    // Closing reports the last delayed write error on some file systems.
    void Close() {
        if (::close(Fd.Release()) != 0)
            Fail(WriteOperation, Path, errno);
    }

private:
    QString Path;
    Descriptor Fd;
};

mode_t ModeOf(const QString& path, mode_t fallback) {
    struct stat status {};
    return ::stat(Native(path).constData(), &status) == 0 ? (status.st_mode & 07777) : fallback;
}

// Writes a new file beside the target with what `fill` puts into it, syncs it and renames it
// over the target; the new file is removed when anything fails.
template <typename Fill> void ReplaceDurably(const QString& target, mode_t mode, Fill fill) {
    const QString fresh = target + NewSuffix;
    try {
        // A link, a FIFO or a second name planted there is refused, never written through.
        OpenedFile file(fresh, OpenWorkFile(fresh, O_WRONLY | O_CREAT | O_TRUNC, mode));
        // The mode given to open() is reduced by the umask; the kept permissions are exact.
        if (::fchmod(file.Get(), mode) != 0)
            Fail(PermissionsOperation, fresh, errno);
        fill(file);
        file.Sync();
        file.Close();
        if (::rename(Native(fresh).constData(), Native(target).constData()) != 0)
            Fail(RenameOperation, fresh, errno);
    } catch (...) {
        ::unlink(Native(fresh).constData());
        throw;
    }
}

QString FolderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

} // namespace

void FileSystem::Rename(const QString& from, const QString& to) {
    if (::rename(Native(from).constData(), Native(to).constData()) == 0)
        return;
    if (errno != EXDEV)
        Fail(RenameOperation, from, errno);
    Copy(from, to);
    Remove(from);
}

void FileSystem::Remove(const QString& path) {
    if (::unlink(Native(path).constData()) != 0 && errno != ENOENT)
        Fail(RemoveOperation, path, errno);
}

void FileSystem::WriteFile(const QString& path, const QByteArray& content) {
    ReplaceDurably(path, ModeOf(path, 0644), [&content](const OpenedFile& file) {
        file.WriteAll(content.data(), content.size());
    });
    SyncFolder(FolderOf(path));
}

void FileSystem::Copy(const QString& from, const QString& to) {
    OpenedFile source(from, O_RDONLY);
    if (!source.IsOpen())
        Fail(ReadOperation, from, errno);
    ReplaceDurably(to, ModeOf(from, 0644), [&](const OpenedFile& target) {
        QByteArray buffer(1 << 20, Qt::Uninitialized);
        for (;;) {
            const ssize_t got = ::read(source.Get(), buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                Fail(ReadOperation, from, errno);
            if (got == 0)
                return;
            target.WriteAll(buffer.constData(), got);
        }
    });
    SyncFolder(FolderOf(to));
}

void FileSystem::SyncFile(const QString& path) {
    OpenedFile file(path, O_RDONLY);
    if (!file.IsOpen())
        Fail(SyncOperation, path, errno);
    file.Sync();
}

void FileSystem::SyncFolder(const QString& folder) {
    OpenedFile directory(folder, O_RDONLY | O_DIRECTORY);
    if (!directory.IsOpen())
        Fail(SyncOperation, folder, errno);
    directory.Sync();
}

void FileSystem::SetPermissions(const QString& path, QFileDevice::Permissions permissions) {
    QFile file(path);
    if (!file.setPermissions(permissions))
        throw OrvantoError::Failure(PermissionsOperation, path, file.errorString());
}

void FileSystem::ReplaceKeepingCopy(const QString& source, const QString& target,
                                    const QString& keptCopy) {
    if (QFileInfo(target).isFile())
        Rename(target, keptCopy);
    Rename(source, target);
}

void FileSystem::SyncFoldersOf(const QStringList& paths) {
    QSet<QString> folders;
    for (const QString& path : paths)
        folders.insert(FolderOf(path));
    for (const QString& folder : folders)
        SyncFolder(folder);
}
