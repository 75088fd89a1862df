#pragma once

class CatalogueFetch;
struct Services;

// The update check: fetches the catalogue into the work folder, asks the probes, fills the
// checklist with the components that have a newer version (every component with "Mostra tutto"),
// appends the scripts of pending schema steps to the required files, and decides whether the
// update button shows. Errors of the fetch, the probes and the schema conversion reach the caller.
// The catalogue and its signature are fetched while the installed versions are read.
void ActionControllaExecute(const Services& services);
// The same with a fetch of the catalogue that the caller started earlier.
void ActionControllaExecute(const Services& services, CatalogueFetch& started);
