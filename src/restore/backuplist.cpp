#include "restore/backuplist.h"

#include "environment/lowlevel.h"

#include <QDir>
#include <optional>

namespace {

bool AllDigits(const QString& text) {
    for (const QChar c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

int Number(const QString& name, int position) {
    return name.mid(position, 2).toInt();
}

// The first separator character in a locale's format, or the fall-back.
QChar SeparatorOf(const QString& format, QChar fallback) {
    for (const QChar c : format) {
        if (!c.isLetter() && c != '\'' && c != ' ')
            return c;
    }
    return fallback;
}

} // namespace

std::optional<QDateTime> MomentFromArchiveName(const QString& name) {
    if (name.size() < 13 || !AllDigits(name.left(6)) || name[6] != '_' ||
        !AllDigits(name.mid(7, 6)))
        return std::nullopt;
    const QDate date(2000 + Number(name, 0), Number(name, 2), Number(name, 4));
    const QTime time(Number(name, 7), Number(name, 9), Number(name, 11));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time);
}

QList<BackupArchive> ListBackupArchives(const QString& folder) {
    QList<BackupArchive> archives;
    const QStringList names = QDir(folder).entryList(
        {QStringLiteral("*.7z")}, QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        if (const auto moment = MomentFromArchiveName(name))
            archives.append({name, *moment});
    }
    return archives;
}

QString FormatArchiveMoment(const QDateTime& moment, const QLocale& locale) {
    const QChar date = SeparatorOf(locale.dateFormat(QLocale::ShortFormat), '/');
    const QChar time = SeparatorOf(locale.timeFormat(QLocale::ShortFormat), ':');
    return moment.toString(QStringLiteral("dd%1MM%1yyyy HH%2mm%2ss").arg(date, time));
}

QString RestoreQuestion(const QString& name) {
    return "Ripristinare l'archivio " + QuoteSingle(name) + "?";
}
