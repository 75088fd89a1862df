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
const QString OwnerOperation = QStringLiteral("Impostazione del proprietario di");
const QString LinkOperation = QStringLiteral("Collegamento del file");
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

// The owner, group and permission bits a new file takes.
struct Access {
    mode_t Mode = 0644;
    uid_t Owner = static_cast<uid_t>(-1);
    gid_t Group = static_cast<gid_t>(-1);
};

// What the file at `path` has, or the fallback mode (and the runner as owner) when there is none.
Access AccessOf(const QString& path, mode_t fallback) {
    struct stat status {};
    if (::stat(Native(path).constData(), &status) != 0)
        return Access{fallback};
    return Access{static_cast<mode_t>(status.st_mode & 07777), status.st_uid, status.st_gid};
}

// Gives an open file an owner and group. Only root may give a file away; any runner may give it
// a group it belongs to. What a runner may not do is left as it is: the file then stays the
// runner's, as every file it writes.
void GiveOwner(int fd, const QString& path, uid_t owner, gid_t group) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        Fail(OwnerOperation, path, errno);
    const bool otherOwner = owner != static_cast<uid_t>(-1) && owner != status.st_uid;
    const bool otherGroup = group != static_cast<gid_t>(-1) && group != status.st_gid;
    if (!otherOwner && !otherGroup)
        return;
    if (::fchown(fd, otherOwner ? owner : static_cast<uid_t>(-1),
                 otherGroup ? group : static_cast<gid_t>(-1)) == 0)
        return;
    if (errno != EPERM || ::geteuid() == 0)
        Fail(OwnerOperation, path, errno);
    if (otherGroup && ::fchown(fd, static_cast<uid_t>(-1), group) != 0 && errno != EPERM)
        Fail(OwnerOperation, path, errno);
}

// Gives the file at `path` (not a link) the access given: owner and group first, since a change
// of owner clears the set-id bits, then the exact bits, which the umask does not reduce.
void GiveAccess(const QString& path, const Access& access) {
    // A link (an archive made from a settings file that was a link) is put back as it is.
    struct stat status {};
    if (::lstat(Native(path).constData(), &status) == 0 && S_ISLNK(status.st_mode))
        return;
    const Descriptor fd(::open(Native(path).constData(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.Get() < 0)
        Fail(PermissionsOperation, path, errno);
    GiveOwner(fd.Get(), path, access.Owner, access.Group);
    if (::fchmod(fd.Get(), access.Mode) != 0)
        Fail(PermissionsOperation, path, errno);
}

// Writes a new file beside the target with what `fill` puts into it, syncs it and renames it
// over the target; the new file is removed when anything fails.
template <typename Fill>
void ReplaceDurably(const QString& target, const Access& access, Fill fill) {
    const QString fresh = target + NewSuffix;
    try {
        // A link, a FIFO or a second name planted there is refused, never written through.
        OpenedFile file(fresh, OpenWorkFile(fresh, O_WRONLY | O_CREAT | O_TRUNC, access.Mode));
        GiveOwner(file.Get(), fresh, access.Owner, access.Group);
        // The mode given to open() is reduced by the umask; the kept permissions are exact.
        if (::fchmod(file.Get(), access.Mode) != 0)
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
    ReplaceDurably(path, AccessOf(path, 0644), [&content](const OpenedFile& file) {
        file.WriteAll(content.data(), content.size());
    });
    SyncFolder(FolderOf(path));
}

void FileSystem::Copy(const QString& from, const QString& to) {
    OpenedFile source(from, O_RDONLY);
    if (!source.IsOpen())
        Fail(ReadOperation, from, errno);
    ReplaceDurably(to, AccessOf(from, 0644), [&](const OpenedFile& target) {
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

bool FileSystem::Link(const QString& existing, const QString& alias) {
    if (::link(Native(existing).constData(), Native(alias).constData()) == 0)
        return true;
    switch (errno) {
    case EPERM:
    case EOPNOTSUPP:
    case EXDEV:
    case EMLINK:
    case ENOSYS:
        return false;
    default:
        Fail(LinkOperation, existing, errno);
    }
}

void FileSystem::CopyOwnerAndMode(const QString& model, const QString& path) {
    struct stat status {};
    if (::stat(Native(model).constData(), &status) != 0)
        Fail(PermissionsOperation, model, errno);
    GiveAccess(path,
               Access{static_cast<mode_t>(status.st_mode & 07777), status.st_uid, status.st_gid});
}

void FileSystem::AdoptFolderAccess(const QString& path, const QString& folder) {
    struct stat file {};
    struct stat directory {};
    if (::lstat(Native(path).constData(), &file) != 0)
        Fail(PermissionsOperation, path, errno);
    if (::stat(Native(folder).constData(), &directory) != 0)
        Fail(PermissionsOperation, folder, errno);
    // The read bits of group and others on the folder sit where a file's read bits sit. A package
    // gives no set-id bits and no write access to group and others.
    const mode_t readers = directory.st_mode & (S_IRGRP | S_IROTH);
    mode_t mode = (file.st_mode & 0755) | S_IRUSR | readers;
    if (mode & S_IXUSR)
        mode |= readers >> 2;
    Access access{mode};
    if (::geteuid() == 0) {
        access.Owner = directory.st_uid;
        access.Group = directory.st_gid;
    }
    GiveAccess(path, access);
}

void FileSystem::ReplaceKeepingCopy(const QString& source, const QString& target,
                                    const QString& keptCopy) {
    if (!QFileInfo(target).isFile()) {
        AdoptFolderAccess(source, FolderOf(target));
        Rename(source, target);
        return;
    }
    CopyOwnerAndMode(target, source);
    Remove(keptCopy);
    if (!Link(target, keptCopy))
        Rename(target, keptCopy);
    Rename(source, target);
}

void FileSystem::Replace(const QString& source, const QString& target) {
    if (QFileInfo(target).isFile())
        CopyOwnerAndMode(target, source);
    else
        AdoptFolderAccess(source, FolderOf(target));
    Rename(source, target);
}

void FileSystem::SyncFoldersOf(const QStringList& paths) {
    QSet<QString> folders;
    for (const QString& path : paths)
        folders.insert(FolderOf(path));
    for (const QString& folder : folders)
        SyncFolder(folder);
}
