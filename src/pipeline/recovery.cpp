#include "pipeline/recovery.h"

#include "catalogue/services.h"
#include "core/error.h"
#include "core/userinterface.h"
#include "environment/lowlevel.h"
#include "pipeline/apply.h"
#include "pipeline/journal.h"
#include "pipeline/rollback.h"

#include <QFileInfo>

namespace {

const QString RolledBackMessage =
    QStringLiteral("L'ultimo aggiornamento non era terminato: l'installazione è stata riportata "
                   "com'era prima dell'aggiornamento.");
const QString ScriptInterruptedMessage = QStringLiteral(
    "L'ultimo aggiornamento non era terminato: i file sono stati riportati com'erano "
    "prima dell'aggiornamento, ma lo script di database %1 era in esecuzione sul "
    "server e il database del server non è stato ripristinato. Far verificare il "
    "database prima di aggiornare di nuovo.");
const QString ServerBackupNote =
    QStringLiteral(" Copia del database fatta sul server prima degli script: %1.");
const QString RestoreFinishedMessage =
    QStringLiteral("L'ultimo ripristino non era terminato: è stato concluso, l'installazione è "
                   "tornata com'era nell'archivio %1.");
const QString CompletedMessage = QStringLiteral(
    "L'ultimo aggiornamento era stato installato per intero ma non registrato: è stato concluso.");
const QString UnfinishedPrefix =
    QStringLiteral("L'ultimo aggiornamento non è terminato e non è stato possibile ripristinare "
                   "l'installazione, che non è stata modificata ulteriormente; le copie dei file "
                   "(.bak) sono conservate. ");
const QString RestoreUnfinishedPrefix =
    QStringLiteral("L'ultimo ripristino non è terminato e non è stato possibile concluderlo; "
                   "l'installazione non è stata modificata ulteriormente e le copie dei file "
                   "(.bak) sono conservate. ");
const QString ArchiveUnusableMessage =
    QStringLiteral("L'archivio di sicurezza %1 manca o è danneggiato: rimetterlo al suo posto, "
                   "poi riavviare Orvanto.");
const QString StagingFailedMessage =
    QStringLiteral("Non è stato possibile estrarre l'archivio di sicurezza %1 (spazio su disco "
                   "insufficiente?): liberare spazio su disco, poi riavviare Orvanto.");
const QString FailedRollbackMessage =
    QStringLiteral("Causa: %1. Risolvere il problema, poi riavviare Orvanto.");

} // namespace

void RecoverInterruptedUpdate(const Services& services) {
    const std::optional<UpdateJournal> journal = ReadJournal();
    if (!journal)
        return;
    QString told;
    QString problem;
    try {
        if (journal->Phase == UpdateJournal::Stage::Applied) {
            FinishUpdate(services.Files, *journal);
            told = CompletedMessage;
        } else {
            const RollbackResult result = RollBack(services, *journal);
            const QString archive = QuoteSingle(journal->Archive);
            if (result == RollbackResult::ArchiveUnusable)
                problem = ArchiveUnusableMessage.arg(archive);
            else if (result == RollbackResult::StagingFailed)
                problem = StagingFailedMessage.arg(archive);
            else if (journal->Restoring)
                told =
                    RestoreFinishedMessage.arg(QuoteSingle(QFileInfo(journal->Archive).fileName()));
            else if (!journal->RunningScript.isEmpty() && journal->DatabasePath.isEmpty())
                told = ScriptInterruptedMessage.arg(QuoteSingle(journal->RunningScript)) +
                       (journal->ServerBackup.isEmpty()
                            ? QString()
                            : ServerBackupNote.arg(QuoteSingle(journal->ServerBackup)));
            else
                told = RolledBackMessage;
        }
    } catch (const OrvantoError& error) {
        problem = FailedRollbackMessage.arg(error.Message());
    }
    if (!problem.isEmpty()) {
        problem.prepend(journal->Restoring ? RestoreUnfinishedPrefix : UnfinishedPrefix);
        services.Ui.AppendLog(problem);
        throw OrvantoError(problem);
    }
    services.Ui.AppendLog(told);
    // It tells of an earlier run, which this one has ended; what this run was asked to do goes on
    // and decides its outcome. (A recovery that cannot be done is an error, thrown above.)
    services.Ui.ShowMessage(told, MessageKind::Notice);
}
