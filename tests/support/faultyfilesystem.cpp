#include "support/faultyfilesystem.h"

#include "core/error.h"

#include <cerrno>
#include <cstring>

void FaultyFileSystem::Step() {
    if (++Operations == StopAt)
        throw SimulatedStop();
}

void FaultyFileSystem::Write(const QString& path) {
    if (++Writes >= FullFrom && FullFrom > 0)
        throw OrvantoError::Failure("Scrittura del file", path, std::strerror(ENOSPC));
}

void FaultyFileSystem::Rename(const QString& from, const QString& to) {
    Step();
    FileSystem::Rename(from, to);
}

void FaultyFileSystem::Remove(const QString& path) {
    Step();
    FileSystem::Remove(path);
}

void FaultyFileSystem::WriteFile(const QString& path, const QByteArray& content) {
    Step();
    Write(path);
    FileSystem::WriteFile(path, content);
}

void FaultyFileSystem::Copy(const QString& from, const QString& to) {
    Step();
    Write(to);
    FileSystem::Copy(from, to);
}

void FaultyFileSystem::SyncFile(const QString& path) {
    Step();
    FileSystem::SyncFile(path);
}

void FaultyFileSystem::SyncFolder(const QString& folder) {
    Step();
    FileSystem::SyncFolder(folder);
}

void FaultyFileSystem::SetPermissions(const QString& path, QFileDevice::Permissions permissions) {
    Step();
    FileSystem::SetPermissions(path, permissions);
}
