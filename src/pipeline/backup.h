#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

struct Services;
struct UpdateJournal;

// Backup archives older than this many days are deleted after a successful update.
constexpr int BackupRetentionDays = 20;

// The archive name of a backup started at that moment: "yymmdd_hhnnss.7z".
QString BackupArchiveName(const QDateTime& moment);

// Packs the installed files of every required entry, in list order, and the settings file into a
// new archive in the backup folder (made when missing), named after the local time; adds the
// database file when the update may change it. The archive appears under its name only when it is
// complete and synced. The journal receives the archive's path first, so the caller has it even
// when the backup fails, then the database and settings files that the archive holds. False when
// the archiver fails; throws OrvantoError when the finished archive cannot be synced or named.
bool MakeBackup(const Services& services, UpdateJournal& journal);

// Deletes the plain files of the folder whose names begin with a yymmdd date more than 20 days
// before today. Names without such a date, or with a date that does not exist, are left alone.
void ApplyBackupRetention(const QString& backupFolder, const QDate& today);
