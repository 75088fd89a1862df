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
    // synced and renamed over it, then the folder synced. A replaced file keeps its owner, group
    // and permissions.
    virtual void WriteFile(const QString& path, const QByteArray& content);
    // Copies a file the same way: into a new file beside the target, synced, renamed into place,
    // with the owner, group and permissions of the file copied.
    virtual void Copy(const QString& from, const QString& to);
    // Waits until the file's content, or the folder's names, are on the disk.
    virtual void SyncFile(const QString& path);
    virtual void SyncFolder(const QString& folder);
    virtual void SetPermissions(const QString& path, QFileDevice::Permissions permissions);
    // Gives the file at `existing` a second name, `alias`, in the same folder (a hard link).
    // False, with nothing changed, when the file system does not make hard links there (EPERM,
    // EOPNOTSUPP, EXDEV, EMLINK, ENOSYS); any other failure throws.
    virtual bool Link(const QString& existing, const QString& alias);
    // Gives `path` the owner, group and permission bits of `model`. A runner that is not root
    // cannot give a file away: then the group is taken where it may be, and the bits always.
    virtual void CopyOwnerAndMode(const QString& model, const QString& path);
    // A file about to join `folder` for the first time: it keeps the bits it has (the package's)
    // but set-id bits and write access for group and others, and whoever may read the folder may
    // read it (and run it when its owner may), whatever the runner's umask made of it; a root
    // runner gives it to the folder's owner and group.
    virtual void AdoptFolderAccess(const QString& path, const QString& folder);

    // Puts `source` in the place of `target` so that there is a file at the target's name at
    // every moment: `source` takes the owner and mode of the present target (or of its folder,
    // see AdoptFolderAccess, when there is none), an older kept copy is removed, the present
    // target gets `keptCopy` as a second name, and `source` is renamed over the target. Where
    // the file system makes no hard links, the present target is renamed to `keptCopy` instead,
    // then `source` to the target (for an instant there is no file at the target's name; the
    // journal of the update still describes what is left to do). The end state is the same:
    // `keptCopy` holds the old file, the target the new one.
    void ReplaceKeepingCopy(const QString& source, const QString& target, const QString& keptCopy);
    // Puts `source` in the place of `target` in one step, without a kept copy: `source` takes
    // the owner and mode of the present target, or of its folder when there is none.
    void Replace(const QString& source, const QString& target);
    // Syncs the folders that hold these paths, each folder once.
    void SyncFoldersOf(const QStringList& paths);
};
