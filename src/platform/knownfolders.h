#pragma once

#include <QString>

// The user's roaming application-data folder; empty when it cannot be obtained.
QString RoamingApplicationDataFolder();

// The machine-wide application-data folder ("ProgramData"); empty when unknown.
QString MachineApplicationDataFolder();

// Folder of the default Firebird installation; empty when none is known.
QString FirebirdInstanceFolder();
