#include "catalogue/versioni.h"

// Nothing else may live in this file: an executable that links its own copy of it, compiled with
// another ORVANTO_UPDATER_VERSION, takes the place of this one in the library.
#ifndef ORVANTO_UPDATER_VERSION
#define ORVANTO_UPDATER_VERSION "1.7.1"
#endif

const QString UpdaterVersion = QStringLiteral(ORVANTO_UPDATER_VERSION);
