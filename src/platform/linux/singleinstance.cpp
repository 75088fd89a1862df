#include "platform/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// The lock file lives in the user's runtime folder, so the guard is per user like a desktop's
// mutex namespace; its name is a digest of the guard name, which may hold any character.
QString LockFilePath(const QByteArray& guardName) {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    const QByteArray digest =
        QCryptographicHash::hash(guardName, QCryptographicHash::Sha256).toHex();
    return folder + "/orvanto-" + QString::fromLatin1(digest.left(32)) + ".lock";
}

} // namespace

bool AcquireInstanceGuard(const QByteArray& guardName) {
    const QByteArray path = QFile::encodeName(LockFilePath(guardName));
    // The descriptor stays open for the life of the process; the kernel drops the lock at exit.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    return true;
}
