#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class FileSystem;

// What a recovery must know of an update, or a restore, that changes the installation: written
// durably before the first change and whenever what a recovery must do changes, removed when the
// work has finished. A journal left behind means the last run was interrupted.
struct UpdateJournal {
    enum class Stage {
        // Files are being replaced: a recovery puts the archive back.
        Applying,
        // Every file is in place and on the disk: a recovery records the new version and ends.
        Applied,
    };

    Stage Phase = Stage::Applying;
    // The backup archive that a recovery puts back.
    QString Archive;
    // The database file, when the archive holds it and the rollback puts it back.
    QString DatabasePath;
    // The settings file, when the archive holds it and the rollback puts it back.
    QString SettingsPath;
    // Installed files that the update adds; a rollback removes them.
    QStringList AddedFiles;
    // The database script that isql is running.
    QString RunningScript;
    // The server's backup of a shared database, made before the first script (its path there).
    QString ServerBackup;
    // Velmora's version to record once everything is applied.
    QString NewVelmoraVersion;
    // A restore the person chose rather than the rollback of an update: installed files that the
    // archive lacks are moved aside, and of the settings only Velmora's version comes back.
    bool Restoring = false;

    bool operator==(const UpdateJournal&) const = default;
};

// "Orvo/aggiornamento-in-corso.ini" in the program folder.
QString JournalPath();
// "Orvo/Ripristino/" in the program folder, where a rollback unpacks the backup archive.
QString StagingFolder();
// Whether a journal is present, whatever it is: an earlier update has not ended.
bool UpdateUnfinished();

// Writes the journal in one step, synced with its folder.
void WriteJournal(FileSystem& files, const UpdateJournal& journal);
// The journal left by an earlier run, or nothing when the last run finished. Throws OrvantoError
// naming the journal when it is not a regular file (a link, a folder, a FIFO) or cannot be read.
std::optional<UpdateJournal> ReadJournal();
// Removes the journal and syncs its folder: the work it describes has finished.
void RemoveJournal(FileSystem& files);

struct RunState;

// Throws OrvantoError naming the path when the work folder holds, where Orvanto keeps its files
// and folders, something else: a link, a FIFO, a folder for a file or a file for a folder.
// Only regular files are expected in the downloads and backup folders.
void CheckWorkFolders(const RunState& run);
