#pragma once

#include <QDate>
#include <QString>

// Backup archives older than this many days are deleted after a successful update.
constexpr int BackupRetentionDays = 20;

// Deletes the plain files of the folder whose names begin with a yymmdd date more than 20 days
// before today. Names without such a date, or with a date that does not exist, are left alone.
void ApplyBackupRetention(const QString& backupFolder, const QDate& today);
