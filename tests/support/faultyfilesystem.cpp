#include "support/faultyfilesystem.h"

#include "core/error.h"

#include <cerrno>
#include <cstring>

void FaultyFileSystem::Step(const QString& what) {
    Done.append(what);
    if (++Operations == StopAt)
        throw SimulatedStop();
}

void FaultyFileSystem::Write(const QString& path) {
    if (++Writes >= FullFrom && FullFrom > 0)
        throw OrvantoError::Failure("Scrittura del file", path, std::strerror(ENOSPC));
}

void FaultyFileSystem::Rename(const QString& from, const QString& to) {
    Step("Rename " + from + " " + to);
    FileSystem::Rename(from, to);
}

void FaultyFileSystem::Remove(const QString& path) {
    Step("Remove " + path);
    FileSystem::Remove(path);
}

void FaultyFileSystem::WriteFile(const QString& path, const QByteArray& content) {
    Step("WriteFile " + path);
    Write(path);
    FileSystem::WriteFile(path, content);
}

void FaultyFileSystem::Copy(const QString& from, const QString& to) {
    Step("Copy " + from + " " + to);
    Write(to);
    FileSystem::Copy(from, to);
}

void FaultyFileSystem::SyncFile(const QString& path) {
    Step("SyncFile " + path);
    FileSystem::SyncFile(path);
}

void FaultyFileSystem::SyncFolder(const QString& folder) {
    Step("SyncFolder " + folder);
    FileSystem::SyncFolder(folder);
}

void FaultyFileSystem::SetPermissions(const QString& path, QFileDevice::Permissions permissions) {
    Step("SetPermissions " + path);
    FileSystem::SetPermissions(path, permissions);
}

bool FaultyFileSystem::Link(const QString& existing, const QString& alias) {
    Step("Link " + existing + " " + alias);
    return !RefuseLinks && FileSystem::Link(existing, alias);
}

void FaultyFileSystem::CopyOwnerAndMode(const QString& model, const QString& path) {
    Step("CopyOwnerAndMode " + model + " " + path);
    FileSystem::CopyOwnerAndMode(model, path);
}

void FaultyFileSystem::AdoptFolderAccess(const QString& path, const QString& folder) {
    Step("AdoptFolderAccess " + path + " " + folder);
    FileSystem::AdoptFolderAccess(path, folder);
}
