#pragma once

#include <QString>
#include <functional>

struct Services;

inline const QString DownloadFailedMessage = QStringLiteral("Impossibile scaricare aggiornamenti");
inline const QString BackupFailedMessage = QStringLiteral(
    "Impossibile effettuare una copia di sicurezza dei dati prima dell'aggiornamento");
inline const QString ApplyFailedMessage = QStringLiteral("Impossibile applicare gli aggiornamenti");
inline const QString UnfinishedUpdateMessage =
    QStringLiteral("Un aggiornamento precedente non è terminato: riavviare Orvanto per concluderlo "
                   "prima di aggiornare di nuovo.");

// The update action: download, backup, apply, and the rollback when applying fails. Each failure
// is shown with its message, after which `reset` runs the show-time sequence again. True on
// success. Refused while the journal of an unfinished update is present. An error of the backup
// (the archive cannot be synced or named) is not caught here: it reaches the default error
// handler before anything was changed.
bool ActionAggiornaExecute(const Services& services, const std::function<void()>& reset);
