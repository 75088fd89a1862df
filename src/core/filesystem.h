#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <QStringList>

// Every change that the update and the rollback make to the installation goes through one object
// of this class, so that each one is checked for errors and made durable where it must be. This
// class does the real work; tests derive from it to fail or stop any one operation. Each
// operation throws OrvantoError naming the operation, the path and the system's reason.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Gives a file another name in the same folder tree, replacing a file of the new name in one
    // step. Across file systems the content is copied first (see Copy), then the old name removed.
    virtual void Rename(const QString& from, const QString& to);
    // Deletes a file; a file that is already missing is not an error.
    virtual void Remove(const QString& path);
    // Replaces a file's content in one step: the whole content into a new file beside it, written,
    // synced and renamed over it, then the folder synced. A replaced file keeps its permissions.
    virtual void WriteFile(const QString& path, const QByteArray& content);
    // Copies a file the same way: into a new file beside the target, synced, renamed into place.
    virtual void Copy(const QString& from, const QString& to);
    // Waits until the file's content, or the folder's names, are on the disk.
    virtual void SyncFile(const QString& path);
    virtual void SyncFolder(const QString& folder);
    virtual void SetPermissions(const QString& path, QFileDevice::Permissions permissions);

    // Moves the present target, when there is one, to `keptCopy` (replacing an older copy in the
    // same step), then gives `source` the target's name.
    void ReplaceKeepingCopy(const QString& source, const QString& target, const QString& keptCopy);
    // Syncs the folders that hold these paths, each folder once.
    void SyncFoldersOf(const QStringList& paths);
};
