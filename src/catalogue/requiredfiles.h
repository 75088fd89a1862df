#pragma once

#include "catalogue/varie.h"

#include <QList>
#include <QMap>
#include <QString>

// Component names shared by the catalogue keys, the checklist captions and the required files.
namespace Component {
inline const QString Orvanto = QStringLiteral("Orvanto");
inline const QString Velmora = QStringLiteral("Velmora");
inline const QString Archiver = QStringLiteral("7za");
inline const QString Dbexpress = QStringLiteral("Dbexpress");
inline const QString Mappe = QStringLiteral("Mappe");
inline const QString Schema = QStringLiteral("Schema database");
inline const QString Firebird = QStringLiteral("Firebird");
} // namespace Component

// One file of the installation, by component.
struct RequiredFile {
    QString ComponentName;
    QString FileName;
    QString Subfolder;
    bool OnlyWhenInstalled = false;

    bool operator==(const RequiredFile&) const = default;
};

using RequiredFileList = QList<RequiredFile>;

// Where the entry's file is installed: program folder, subfolder, file name.
QString InstalledPath(const RequiredFile& file);

// The fixed entries of every installation, in their order.
void BuildRequiredFiles(RequiredFileList& files);

// Whether the file's entry takes part in an update: the first entry of that name decides; one
// marked "only when installed" takes part only when the program folder holds a file of that name.
bool IsFileIncluded(const RequiredFileList& files, const QString& fileName);
