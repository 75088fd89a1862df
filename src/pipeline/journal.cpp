#include "pipeline/journal.h"

#include "catalogue/runstate.h"
#include "catalogue/services.h"
#include "catalogue/signedcatalogue.h"
#include "core/error.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "core/userinterface.h"
#include "core/workfolder.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"

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
