#pragma once

#include <QString>
#include <functional>

struct Services;

inline const QString DownloadFailedMessage = QStringLiteral("Impossibile scaricare aggiornamenti");
inline const QString BackupFailedMessage = QStringLiteral(
    "Impossibile effettuare una copia di sicurezza dei dati prima dell'aggiornamento");
inline const QString ApplyFailedMessage = QStringLiteral("Impossibile applicare gli aggiornamenti");

// The update action: download, backup, apply, and the rollback when applying fails. Each failure
// is shown with its message, after which `reset` runs the show-time sequence again. True on
// success.
bool ActionAggiornaExecute(const Services& services, const std::function<void()>& reset);
