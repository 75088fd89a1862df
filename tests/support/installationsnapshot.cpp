#include "support/installationsnapshot.h"

#include "support/demosite.h"
#include "support/firebirdfixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

const char* const SchemaStep = "SELECT CAST(RDB$DESCRIPTION AS VARCHAR(20)) FROM RDB$DATABASE";
const char* const ScriptColumn = "SELECT COUNT(*) FROM RDB$RELATION_FIELDS WHERE "
                                 "RDB$RELATION_NAME = 'CLIENTI' AND RDB$FIELD_NAME = 'CITTA'";

QByteArray Digest(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return "unreadable";
    return hash.result().toHex();
}

} // namespace

void PrintTo(const InstallationSnapshot& snapshot, std::ostream* out) {
    for (auto file = snapshot.Files.begin(); file != snapshot.Files.end(); ++file)
        *out << "\n  " << file.key().toStdString() << " " << file.value().left(12).toStdString();
    *out << "\n  schema " << snapshot.Schema.toStdString() << ", column "
         << snapshot.Column.toStdString();
}

InstallationSnapshot TakeSnapshot(const DemoSite& site) {
    InstallationSnapshot snapshot;
    const QDir folder(site.ProgramFolder());
    QDirIterator entries(folder.path(), QDir::Files | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString name = folder.relativeFilePath(entries.next());
        if (!name.startsWith("Orvo/") && !name.endsWith(".bak") && name != "7za.exe" &&
            name != QFileInfo(site.DatabaseFile()).fileName())
            snapshot.Files.insert(name, Digest(entries.filePath()));
    }
    snapshot.Schema = QueryValue(site.DatabaseFile(), SchemaStep);
    snapshot.Column = QueryValue(site.DatabaseFile(), ScriptColumn);
    return snapshot;
}
