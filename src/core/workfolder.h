#pragma once

#include "core/descriptor.h"
#include "core/error.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

// "Orvo" in the program folder is Orvanto's own work folder: the locks, the run log, the journal,
// the downloads, the backups and the staging of a rollback. A root run must never be turned
// elsewhere through it, so nothing in it is followed when it is a link, nothing is opened in a
// way that could wait (a FIFO, a device), and a folder or file there that is not what Orvanto
// makes stops the run with its path.
inline const QString WorkFolderName = QStringLiteral("Orvo");

// Modes of the folders Orvanto makes there: the work folder and the downloads hold nothing
// private; the backups and the staging of a rollback hold the database, so only the owner enters.
constexpr mode_t SharedWorkFolderMode = 0755;
constexpr mode_t PrivateWorkFolderMode = 0700;

// A missing work folder that this user may not make (the installation is not writable by it).
class WorkFolderDenied : public OrvantoError {
public:
    using OrvantoError::OrvantoError;
};

// Makes sure that `folder`, the work folder or a folder below it, is a real folder, and so is
// each of its parents from the work folder down. A missing one is made with `mode` (the parents
// with SharedWorkFolderMode), given to the program folder's owner when run by root, and its
// parent synced so that it is on the disk before anything is put in it. Throws OrvantoError
// naming the path when one of them is a link or not a folder, WorkFolderDenied when a missing one
// may not be made by this user.
void EnsureWorkFolder(const QString& folder, mode_t mode);

// Opens a file of the work folder as open(2) with `flags` would, without following a link and
// without waiting, and with a truncation asked by O_TRUNC done only once the file is known to be
// a regular file that no other name shares (when it is opened for writing). Throws OrvantoError
// naming the path when it is anything else or cannot be opened.
Descriptor OpenWorkFile(const QString& path, int flags, mode_t mode = 0644);

// The whole content of a work file opened that way; nothing when the file is missing.
std::optional<QByteArray> ReadWorkFile(const QString& path);

// Nothing when nothing is at the path or it holds what it should, a regular file or a real
// folder; otherwise throws OrvantoError naming the path and what is there instead.
void CheckWorkFile(const QString& path);
void CheckWorkSubfolder(const QString& path);
