#pragma once

struct Services;

// The update check: fetches the catalogue into the work folder, asks the probes, fills the
// checklist with the components that have a newer version (every component with "Mostra tutto"),
// appends the scripts of pending schema steps to the required files, and decides whether the
// update button shows. Errors of the fetch, the probes and the schema conversion reach the caller.
void ActionControllaExecute(const Services& services);
