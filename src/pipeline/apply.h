#pragma once

class FileSystem;
struct Services;
struct UpdateJournal;

// Installs what the download left in the work folder: runs the scripts of a ticked schema row
// (RunScripts, together, where the first of them stands in the list) and moves the program files of
// the ticked rows over the installed ones, keeping each replaced file as its ".bak" copy and its
// permissions. The journal follows each script and, once every new file is synced, says that
// everything is applied; then Velmora's new version is recorded and the journal removed. Restarts
// the updater when its own executable was replaced (a new executable that this machine cannot run,
// or that does not end cleanly within 10 s printing the version the catalogue announced when it is
// tried from the work folder with
// "--version", is refused before the old one is given up), and runs the update check. Each new file
// is synced before its name moves into the installation, and the installation's folders are synced
// after each batch of renames, before the journal's next step. False as soon as one entry could not
// be installed, or when the restart failed; the journal then still describes the rollback. Throws
// OrvantoError when a file operation fails, and RunStopped when the run is asked to stop (after an
// entry, the journal describing the rollback, or in the closing check, the update installed).
bool ApplyUpdates(const Services& services, UpdateJournal& journal);

// The last step of an update whose files are all in place: records Velmora's new version, when
// there is one, and removes the journal.
void FinishUpdate(FileSystem& files, const UpdateJournal& journal);
