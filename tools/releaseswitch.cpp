#include "releaseswitch.h"

#include "core/descriptor.h"
#include "core/error.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString SwitchOperation = QStringLiteral("Pubblicazione del rilascio");

[[noreturn]] void Fail(const QString& path, int error) {
    throw OrvantoError::Failure(SwitchOperation, path,
                                QString::fromLocal8Bit(std::strerror(error)));
}

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

void Sync(const QString& path, int flags) {
    const Descriptor file(::open(Native(path).constData(), flags | O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0 || ::fsync(file.Get()) != 0)
        Fail(path, errno);
}

void SetMode(const QString& path, mode_t mode) {
    if (::chmod(Native(path).constData(), mode) != 0)
        Fail(path, errno);
}

void Rename(const QString& from, const QString& to, unsigned flags = 0) {
    if (::renameat2(AT_FDCWD, Native(from).constData(), AT_FDCWD, Native(to).constData(), flags) !=
        0)
        Fail(from, errno);
}

} // namespace

ReleaseSwitch::ReleaseSwitch(const QString& serverFolder)
    : Server(QDir::cleanPath(QDir(serverFolder).absolutePath())), Releases(Server + ".rilasci") {
    const QFileInfo served(Server);
    if (served.exists())
        Live = served.canonicalFilePath();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                          '-' + QString::number(QCoreApplication::applicationPid());
    if (!QDir().mkpath(Releases))
        Fail(Releases, errno);
    // Resolved like the live folder, so that the two compare when old releases are removed.
    Releases = QFileInfo(Releases).canonicalFilePath();
    Fresh = Releases + '/' + stamp;
    if (!QDir().mkdir(Fresh))
        Fail(Fresh, errno);
}

ReleaseSwitch::~ReleaseSwitch() {
    if (Switched)
        return;
    QDir(Fresh).removeRecursively();
    // Made by this publication when it was the first: removed when still empty.
    QDir().rmdir(Releases);
}

void ReleaseSwitch::Switch() {
    const QDir fresh(Fresh);
    for (const QString& name : fresh.entryList(QDir::Files | QDir::Hidden)) {
        SetMode(fresh.absoluteFilePath(name), 0644);
        Sync(fresh.absoluteFilePath(name), 0);
    }
    SetMode(Fresh, 0755);
    Sync(Fresh, O_DIRECTORY);
    Sync(Releases, O_DIRECTORY);

    // The new link is made beside the served name, then takes its place in one rename.
    const QString link = Server + ".nuovo";
    // A publication killed between trading places and filing the old folder left it here; it is
    // no longer served.
    const QFileInfo left(link);
    if (left.isDir() && !left.isSymLink())
        QDir(link).removeRecursively();
    ::unlink(Native(link).constData());
    const QString target = QFileInfo(Releases).fileName() + '/' + QFileInfo(Fresh).fileName();
    if (::symlink(Native(target).constData(), Native(link).constData()) != 0)
        Fail(link, errno);
    const QFileInfo served(Server);
    if (served.isDir() && !served.isSymLink()) {
        // A real folder and the link trade places at once; the folder becomes the previous
        // release.
        Rename(link, Server, RENAME_EXCHANGE);
        Live = Releases + '/' + QFileInfo(Fresh).fileName() + "-precedente";
        Rename(link, Live);
    } else {
        Rename(link, Server);
    }
    Switched = true;
    Sync(QFileInfo(Server).absolutePath(), O_DIRECTORY);

    for (const QFileInfo& release : QDir(Releases).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot |
                                                                 QDir::Hidden | QDir::NoSymLinks)) {
        const QString path = release.absoluteFilePath();
        if (path != Fresh && path != Live)
            QDir(path).removeRecursively();
    }
}
