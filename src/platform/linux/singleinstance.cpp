#include "platform/singleinstance.h"

#include "core/descriptor.h"
#include "core/error.h"

#include <QCryptographicHash>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString LockOperation = QStringLiteral("Blocco contro una seconda istanza su");

[[noreturn]] void Fail(const QString& path, const QString& reason) {
    throw OrvantoError::Failure(LockOperation, path, reason);
}

[[noreturn]] void Fail(const QString& path, int error) {
    Fail(path, QString::fromLocal8Bit(std::strerror(error)));
}

// The errors of a user who may not change the installation.
bool IsNotWritable(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

// The lock file's name is a digest of the guard name, which may hold any character.
QString LockFilePath(const QString& folder, const QByteArray& guardName) {
    const QByteArray digest =
        QCryptographicHash::hash(guardName, QCryptographicHash::Sha256).toHex();
    return folder + "/istanza-" + QString::fromLatin1(digest.left(32)) + ".lock";
}

// Locks the file at `path` in `folder` for the life of the process (see AcquireInstanceGuard).
bool LockForGood(const QString& folder, const QString& path) {
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0 && errno != EEXIST) {
        if (IsNotWritable(errno))
            return true;
        Fail(folder, errno);
    }
    const QByteArray native = QFile::encodeName(path);
    // No link is followed and nothing waits for a pipe; the content is never written.
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(native.constData(), O_RDWR | O_CREAT | flags, 0644);
    if (fd < 0 && IsNotWritable(errno)) {
        fd = ::open(native.constData(), O_RDONLY | flags);
        if (fd < 0 && (errno == ENOENT || errno == EACCES))
            return true;
    }
    if (fd < 0)
        Fail(path, errno);
    Descriptor lock(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        Fail(path, errno);
    if (!S_ISREG(status.st_mode))
        Fail(path, QStringLiteral("non è un file regolare"));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return false;
        Fail(path, errno);
    }
    // The descriptor stays open for the life of the process; the kernel drops the lock at exit.
    lock.Release();
    return true;
}

} // namespace

bool AcquireInstanceGuard(const QString& folder, const QByteArray& guardName) {
    return LockForGood(folder, LockFilePath(folder, guardName));
}

bool AcquireInstallationGuard(const QString& folder) {
    return LockForGood(folder, folder + QStringLiteral("/installazione.lock"));
}
