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

// The run log's outcome of an update that did not succeed.
inline const QString FailedOutcome = QStringLiteral("Esito: aggiornamento non riuscito");
// The run log's entry before the show-time check that follows a failed update.
inline const QString RecheckAfterFailure =
    QStringLiteral("Controllo dopo l'aggiornamento non riuscito");

// The update action: download, backup, apply, and the rollback when applying fails. Each failure
// is shown with its message (an UpdateFailure), after which `reset` runs the show-time sequence
// again; the run log's outcome comes after that check. True on success. Refused while the journal
// of an unfinished update is present. An error of the backup (the archive cannot be synced or
// named) is not caught here: it reaches the default error handler before anything was changed.
//
// A request to stop the run (core/stoprequest.h) ends a download or a backup at once; once files
// are being applied the installation is first put back from the backup (a rollback that a second
// request stops before its next rename, leaving the journal for the next start), unless every file
// was already applied. The RunStopped that goes on says in its Outcome what became of the update.
bool ActionAggiornaExecute(const Services& services, const std::function<void()>& reset);
