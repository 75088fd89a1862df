#pragma once

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <optional>

// A backup archive named after the moment it was made (yymmdd_hhnnss...).
struct BackupArchive {
    QString Name;
    QDateTime Moment;
};

// The "*.7z" plain files of the folder whose names encode a moment that exists, by name
// ascending. Other names, and names whose date or time does not exist, are left out.
QList<BackupArchive> ListBackupArchives(const QString& folder);

// The moment of a name of the form yymmdd_hhnnss, when the name has that form and the moment
// exists.
std::optional<QDateTime> MomentFromArchiveName(const QString& name);

// "dd/mm/yyyy hh:nn:ss" with the locale's date and time separators.
QString FormatArchiveMoment(const QDateTime& moment, const QLocale& locale = QLocale());

// The confirmation question for restoring an archive.
QString RestoreQuestion(const QString& name);
