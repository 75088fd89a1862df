#pragma once

#include "core/logsink.h"

class FirebirdConnection;
struct InstallationState;

// Works out where the database, Firebird and isql are and whether the installation is embedded,
// fills the info card, DatabasePath and IsqlCommand, and logs every step. Changes nothing on disk.
void AnalyseEnvironment(InstallationState& run, const FirebirdConnection& connection,
                        const LogSink& log);

// isql of the Firebird folder when present, else the one on the search path; quoted when it holds a
// blank; empty text when there is none.
QString FindIsqlCommand(const QString& firebirdFolder);
