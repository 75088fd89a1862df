#include "pipeline/backup.h"

#include "environment/lowlevel.h"

#include <QDir>
#include <QFile>

void ApplyBackupRetention(const QString& backupFolder, const QDate& today) {
    const QStringList names = QDir(backupFolder).entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        bool digits = name.size() >= 6;
        for (int i = 0; digits && i < 6; ++i)
            digits = name[i] >= '0' && name[i] <= '9';
        if (!digits)
            continue;
        const QDate made(2000 + name.left(2).toInt(), name.mid(2, 2).toInt(), name.mid(4, 2).toInt());
        if (made.isValid() && made.daysTo(today) > BackupRetentionDays)
            QFile::remove(JoinPath(backupFolder, name));
    }
}
