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

class HttpClient;
class UserInterface;
struct RunState;

// Whether the file's entry takes part in an update: the first entry of that name decides; one
// marked "only when installed" takes part only when the program folder holds a file of that name.
bool IsFileIncluded(const RequiredFileList& files, const QString& fileName);

// Total size in KB of each component's taking-part files as the server announces them: the
// delta where one fits the installed file, else the package. A package that does not answer is
// named in a "File mancante: " message and adds nothing; a delta that does not answer is dropped
// for the package. The size queries run several at a time; the messages come in component order,
// then list order. Each answered size in bytes goes into the run's PackageBytes.
QList<quint32> GetComponentSizes(const QStringList& components, RunState& run, HttpClient& http,
                                 UserInterface& ui);

// A file of a ticked component that takes part in the update, with its checklist row.
struct SelectedFile {
    ChecklistRow Row;
    RequiredFile File;
};

// The files the update installs: ticked rows from the first, each row's taking-part files of its
// component in list order. Copies, since window events may run while they are worked through.
QList<SelectedFile> SelectedFiles(const RunState& run);

// Work-folder scan. Flag 1: downloaded files and packages, the scripts, the partial downloads of
// the work folder and a rollback's staging folder; flag 2: partial backup archives and backup
// archives past their retention; flag 4: kept copies (".bak") in the installation.
// Flags 2 and 4 do nothing while the journal of an unfinished update is present. Failed deletions
// are ignored. Returns true.
bool ScanWorkFolders(const RunState& run, int flags);
