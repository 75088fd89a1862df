#include "core/workfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString FileOperation = QStringLiteral("File di lavoro");
const QString FolderOperation = QStringLiteral("Cartella di lavoro");
const QString MakeOperation = QStringLiteral("Creazione della cartella");
const QString ReadOperation = QStringLiteral("Lettura del file");
const QString WhatToDo = QStringLiteral(": controllarlo e rimuoverlo, poi riavviare Orvanto");

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// What is at a path, in words, when it is not what the work folder should hold.
QString Found(mode_t mode) {
    if (S_ISLNK(mode))
        return QStringLiteral("è un collegamento simbolico");
    if (S_ISFIFO(mode))
        return QStringLiteral("è una FIFO (pipe con nome)");
    if (S_ISDIR(mode))
        return QStringLiteral("è una cartella");
    if (S_ISREG(mode))
        return QStringLiteral("è un file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("è un dispositivo");
    if (S_ISSOCK(mode))
        return QStringLiteral("è un socket");
    return QStringLiteral("è di un tipo sconosciuto");
}

[[noreturn]] void RefuseFile(const QString& path, const QString& found) {
    throw OrvantoError::Failure(FileOperation, path,
                                found + QStringLiteral(", non un file regolare") + WhatToDo);
}

[[noreturn]] void RefuseFolder(const QString& path, mode_t mode) {
    throw OrvantoError::Failure(FolderOperation, path,
                                Found(mode) + QStringLiteral(", non una cartella") + WhatToDo);
}

// The folders from the work folder down to `folder`; `folder` alone when no part of its path is
// the work folder.
QStringList FoldersFromWorkFolder(const QString& folder) {
    const QString target = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    QStringList folders;
    for (QString path = target;; path = QFileInfo(path).path()) {
        folders.prepend(path);
        if (QFileInfo(path).fileName() == WorkFolderName)
            return folders;
        if (QFileInfo(path).path() == path)
            return {target};
    }
}

void SyncFolder(const QString& folder) {
    const Descriptor directory(
        ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() < 0 || ::fsync(directory.Get()) != 0)
        throw OrvantoError::Failure(MakeOperation, folder, SystemReason(errno));
}

// Makes one missing folder with exactly that mode, owned as the program folder when run by root.
void MakeFolder(const QString& folder, mode_t mode, const struct stat& programFolder) {
    if (::mkdir(Native(folder).constData(), mode) != 0) {
        const int error = errno;
        if (error == EEXIST)
            return;
        const OrvantoError failure =
            OrvantoError::Failure(MakeOperation, folder, SystemReason(error));
        if (error == EACCES || error == EPERM || error == EROFS)
            throw WorkFolderDenied(failure.Message());
        throw failure;
    }
    const Descriptor made(
        ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    // The mode given to mkdir() is reduced by the umask; the folder's mode is exact.
    if (made.Get() < 0 || ::fchmod(made.Get(), mode) != 0 ||
        (::geteuid() == 0 && ::fchown(made.Get(), programFolder.st_uid, programFolder.st_gid) != 0))
        throw OrvantoError::Failure(MakeOperation, folder, SystemReason(errno));
    SyncFolder(QFileInfo(folder).path());
}

} // namespace

void EnsureWorkFolder(const QString& folder, mode_t mode) {
    const QStringList folders = FoldersFromWorkFolder(folder);
    struct stat programFolder {};
    const QString owner = QFileInfo(folders.first()).path();
    if (::stat(Native(owner).constData(), &programFolder) != 0)
        throw OrvantoError::Failure(MakeOperation, folders.first(), SystemReason(errno));
    for (const QString& path : folders) {
        struct stat status {};
        if (::lstat(Native(path).constData(), &status) != 0) {
            if (errno != ENOENT)
                throw OrvantoError::Failure(FolderOperation, path, SystemReason(errno));
            MakeFolder(path, path == folders.last() ? mode : SharedWorkFolderMode, programFolder);
            if (::lstat(Native(path).constData(), &status) != 0)
                throw OrvantoError::Failure(FolderOperation, path, SystemReason(errno));
        }
        if (!S_ISDIR(status.st_mode))
            RefuseFolder(path, status.st_mode);
    }
}

Descriptor OpenWorkFile(const QString& path, int flags, mode_t mode) {
    const QByteArray native = Native(path);
    Descriptor file(
        ::open(native.constData(), (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    struct stat status {};
    if (file.Get() < 0) {
        const int error = errno;
        // A link refuses with ELOOP, a FIFO without a reader with ENXIO: say what is there.
        if (::lstat(native.constData(), &status) == 0 && !S_ISREG(status.st_mode))
            RefuseFile(path, Found(status.st_mode));
        throw OrvantoError::Failure(FileOperation, path, SystemReason(error));
    }
    if (::fstat(file.Get(), &status) != 0)
        throw OrvantoError::Failure(FileOperation, path, SystemReason(errno));
    if (!S_ISREG(status.st_mode))
        RefuseFile(path, Found(status.st_mode));
    // Writing through a second name would change a file elsewhere.
    if ((flags & O_ACCMODE) != O_RDONLY && status.st_nlink > 1)
        RefuseFile(path, QStringLiteral("ha altri nomi (collegamenti fisici)"));
    const int open = ::fcntl(file.Get(), F_GETFL);
    if (open < 0 || ::fcntl(file.Get(), F_SETFL, open & ~O_NONBLOCK) != 0 ||
        ((flags & O_TRUNC) && ::ftruncate(file.Get(), 0) != 0))
        throw OrvantoError::Failure(FileOperation, path, SystemReason(errno));
    return file;
}

std::optional<QByteArray> ReadWorkFile(const QString& path) {
    struct stat status {};
    if (::lstat(Native(path).constData(), &status) != 0 && errno == ENOENT)
        return std::nullopt;
    const Descriptor file = OpenWorkFile(path, O_RDONLY);
    QByteArray content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw OrvantoError::Failure(ReadOperation, path, SystemReason(errno));
        if (got == 0)
            return content;
        content.append(buffer, got);
    }
}

// A trailing separator would make lstat() follow a link.
void CheckWorkFile(const QString& path) {
    struct stat status {};
    if (::lstat(Native(QDir::cleanPath(path)).constData(), &status) == 0 &&
        !S_ISREG(status.st_mode))
        RefuseFile(path, Found(status.st_mode));
}

void CheckWorkSubfolder(const QString& path) {
    struct stat status {};
    const QString folder = QDir::cleanPath(path);
    if (::lstat(Native(folder).constData(), &status) == 0 && !S_ISDIR(status.st_mode))
        RefuseFolder(folder, status.st_mode);
}
