#include "pipeline/journal.h"

#include "catalogue/signedcatalogue.h"
#include "core/error.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "core/runstate.h"
#include "core/services.h"
#include "core/userinterface.h"
#include "core/workfolder.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"
#include "pipeline/apply.h"
#include "pipeline/rollback.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString JournalFileName = QStringLiteral("Orvo/aggiornamento-in-corso.ini");
const QString MainSection = QStringLiteral("AGGIORNAMENTO");
const QString AddedSection = QStringLiteral("FILE AGGIUNTI");
const QString PhaseKey = QStringLiteral("Fase");
const QString ArchiveKey = QStringLiteral("Archivio");
const QString DatabaseKey = QStringLiteral("Database");
const QString SettingsKey = QStringLiteral("Impostazioni");
const QString ScriptKey = QStringLiteral("Script in corso");
const QString ServerBackupKey = QStringLiteral("Copia del database sul server");
const QString VersionKey = QStringLiteral("Versione");
const QString RestoreKey = QStringLiteral("Ripristino");
const QString Yes = QStringLiteral("sì");
const QString ApplyingPhase = QStringLiteral("applicazione");
const QString AppliedPhase = QStringLiteral("applicato");

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

// Values stand in double quotes, so that the reader keeps leading and trailing blanks.
QByteArray Line(const QString& key, const QString& value) {
    return (key + "=\"" + value + "\"\r\n").toUtf8();
}

} // namespace

QString JournalPath() {
    return JoinPath(GetProgramFolder(), JournalFileName);
}

void WriteJournal(FileSystem& files, const UpdateJournal& journal) {
    QByteArray text = "\xEF\xBB\xBF[" + MainSection.toUtf8() + "]\r\n";
    text += Line(PhaseKey,
                 journal.Phase == UpdateJournal::Stage::Applied ? AppliedPhase : ApplyingPhase);
    text += Line(ArchiveKey, journal.Archive);
    text += Line(DatabaseKey, journal.DatabasePath);
    text += Line(SettingsKey, journal.SettingsPath);
    text += Line(ScriptKey, journal.RunningScript);
    text += Line(ServerBackupKey, journal.ServerBackup);
    text += Line(VersionKey, journal.NewVelmoraVersion);
    text += Line(RestoreKey, journal.Restoring ? Yes : QString());
    text += "[" + AddedSection.toUtf8() + "]\r\n";
    for (int i = 0; i < journal.AddedFiles.size(); ++i)
        text += Line(QString::number(i + 1), journal.AddedFiles[i]);
    files.WriteFile(JournalPath(), text);
}

QString StagingFolder() {
    return AddTrailingSeparator(
        JoinPath(GetProgramFolder(), WorkFolderName + QStringLiteral("/Ripristino")));
}

bool UpdateUnfinished() {
    const QFileInfo journal(JournalPath());
    return journal.exists() || journal.isSymLink();
}

std::optional<UpdateJournal> ReadJournal() {
    const std::optional<QByteArray> content = ReadWorkFile(JournalPath());
    if (!content)
        return std::nullopt;
    const IniText reader(*content);
    const auto value = [&reader](const QString& key) {
        return reader.ReadString(MainSection, key, QString());
    };
    UpdateJournal journal;
    journal.Phase = value(PhaseKey) == AppliedPhase ? UpdateJournal::Stage::Applied
                                                    : UpdateJournal::Stage::Applying;
    journal.Archive = value(ArchiveKey);
    journal.DatabasePath = value(DatabaseKey);
    journal.SettingsPath = value(SettingsKey);
    journal.RunningScript = value(ScriptKey);
    journal.ServerBackup = value(ServerBackupKey);
    journal.NewVelmoraVersion = value(VersionKey);
    journal.Restoring = value(RestoreKey) == Yes;
    for (int i = 1;; ++i) {
        const QString added = reader.ReadString(AddedSection, QString::number(i), QString());
        if (added.isEmpty())
            break;
        journal.AddedFiles.append(added);
    }
    return journal;
}

void RemoveJournal(FileSystem& files) {
    files.Remove(JournalPath());
    files.SyncFolder(JoinPath(GetProgramFolder(), QStringLiteral("Orvo")));
}

void CheckWorkFolders(const RunState& run) {
    const QString workFolder = JoinPath(GetProgramFolder(), WorkFolderName);
    const QStringList entriesOnly = {run.CopyFolder, run.BackupFolder};
    for (const QString& folder : entriesOnly + QStringList{workFolder, StagingFolder()})
        CheckWorkSubfolder(folder);
    for (const QString& file :
         {RunLogPath(), RunLogPath() + ".1", JournalPath(), JournalPath() + ".nuovo",
          AcceptedSignaturePath(), AcceptedSignaturePath() + ".nuovo"})
        CheckWorkFile(file);
    for (const QString& folder : entriesOnly) {
        const QDir entries(folder);
        for (const QString& name : entries.entryList(QDir::AllEntries | QDir::System |
                                                     QDir::Hidden | QDir::NoDotAndDotDot))
            CheckWorkFile(entries.filePath(name));
    }
}

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
