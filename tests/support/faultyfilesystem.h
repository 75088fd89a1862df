#pragma once

#include "core/filesystem.h"

// Stands for the process being killed: nothing in the program catches it, so the run ends where
// it is and only destructors run, which change nothing in the installation.
struct SimulatedStop {};

// The real file system, with two faults that a test can arm: the run stops before the N-th
// operation (as a kill would), or every writing operation from the N-th on fails as on a full
// disk. Operations are counted from 1; 0 arms nothing.
class FaultyFileSystem : public FileSystem {
public:
    int StopAt = 0;
    int FullFrom = 0;
    int Operations = 0;
    int Writes = 0;
    // The file system makes no hard links, as some network and FAT file systems.
    bool RefuseLinks = false;
    // Every operation done or begun, as "Operation path", in order.
    QStringList Done;

    void Rename(const QString& from, const QString& to) override;
    void Remove(const QString& path) override;
    void WriteFile(const QString& path, const QByteArray& content) override;
    void Copy(const QString& from, const QString& to) override;
    void SyncFile(const QString& path) override;
    void SyncFolder(const QString& folder) override;
    void SetPermissions(const QString& path, QFileDevice::Permissions permissions) override;
    bool Link(const QString& existing, const QString& alias) override;
    void CopyOwnerAndMode(const QString& model, const QString& path) override;
    void AdoptFolderAccess(const QString& path, const QString& folder) override;

private:
    void Step(const QString& what);
    void Write(const QString& path);
};
