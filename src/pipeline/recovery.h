#pragma once

struct Services;

// Ends the update that an earlier run left unfinished, before anything else touches the
// installation (after CheckWorkFolders): an update whose files were all applied is completed, any
// other is rolled back from its archive; the person is told, in the log and in a message. Nothing
// happens when there is no journal. When the rollback cannot be done (archive missing or damaged,
// no space, a file that cannot be renamed) nothing more is changed, the journal and the kept copies
// stay, and an OrvantoError tells the person what to do.
void RecoverInterruptedUpdate(const Services& services);
