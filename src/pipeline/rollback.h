#pragma once

#include <QString>

struct Services;
struct UpdateJournal;

enum class RollbackResult {
    Done,
    // The archive is missing or fails the archiver's test: nothing was changed.
    ArchiveUnusable,
    // The archive is sound but could not be unpacked (no space left, most often): nothing was
    // changed.
    StagingFailed,
};

// Puts the installation back as the journal describes, in a way that is safe to interrupt and
// needs no free space once started: the whole archive is first unpacked into a staging folder and
// synced, then the journal is written, then each file is renamed into place (the present one
// moved aside to its kept copy). Files of the archiver and database scripts are never put back;
// files the journal lists as added are removed; the database and the settings file come back when
// the journal names them and the archive holds them. At the end the journal is removed. Running
// it again after an interruption gives the same result. Throws OrvantoError when a file operation
// fails half-way; the journal then stays for the next start. A first request to stop the run lets
// the rollback end; a second one stops it before its next rename (RunStopped), the journal staying
// for the next start, as after a kill.
RollbackResult RollBack(const Services& services, const UpdateJournal& journal);

// The restore action: puts back a backup archive the person chose, with the database when the
// archive holds it. Installed files the archive lacks are moved aside to their kept copies; of the
// settings file only Velmora's version is put back, as the archived copy holds it. Interrupted, it
// is finished by the next start like a rollback.
RollbackResult RestoreBackup(const Services& services, const QString& archive);
