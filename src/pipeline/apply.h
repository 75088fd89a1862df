#pragma once

struct Services;

// Installs what the download left in the work folder: runs the scripts of a ticked schema row
// through isql and copies the program files of the ticked rows over the installed ones, keeping
// each replaced file as its ".bak" copy. Then records Velmora's new version, restarts the updater
// when its own executable was replaced, and runs the update check. False as soon as one entry
// could not be installed.
bool ApplyUpdates(const Services& services);
