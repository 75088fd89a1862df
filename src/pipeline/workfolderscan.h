#pragma once

struct RunState;

// Work-folder scan. Flag 1: downloaded files and packages, the scripts, the partial downloads of
// the work folder and a rollback's staging folder; flag 2: partial backup archives and backup
// archives past their retention; flag 4: kept copies (".bak") in the installation.
// Flags 2 and 4 do nothing while the journal of an unfinished update is present. Failed deletions
// are ignored. Returns true.
bool ScanWorkFolders(const RunState& run, int flags);
