#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Velmora's data subfolder below the per-user and per-machine data folders.
inline const QString VelmoraDataSubfolder = QStringLiteral("Keltra/Velmora/");
inline const QString SettingsFileName = QStringLiteral("velmora.ini");

// Folder of the running executable, with a trailing separator.
QString GetProgramFolder();
// Tests point the program folder at a temporary installation; empty text restores the real one.
void OverrideProgramFolder(const QString& folder);

QString GetRoamingDataFolder();
QString GetProgramDataFolder();
// Where "velmora.ini" is looked for, in order: program folder, roaming data, machine data.
QStringList SettingsFolders();
// First existing "velmora.ini" of those folders; else empty text.
QString FindSettingsFile();

// The text in double quotes when it holds a blank, else unchanged.
QString QuoteIfSpaced(const QString& text);

// Folder of Firebird's default instance with a trailing separator; empty when none is known.
QString GetFirebirdFolder();
// Tests decide what the platform reports as Firebird's folder; nullopt restores the real one.
void OverrideFirebirdFolder(const std::optional<QString>& folder);

// Joins a folder and a name; throws InvalidArgumentError for a part holding a NUL.
QString JoinPath(const QString& folder, const QString& name);
// Appends "/" unless the text already ends with a separator.
QString AddTrailingSeparator(const QString& text);

// True when the name is one plain file name, usable only inside the folder it is joined to: not
// empty, not "." or "..", without a separator ("/", "\\"), a drive colon or a control character.
bool IsPlainFileName(const QString& name);

// True when a file (not a folder) is at the path; a link counts when its target exists.
bool FileExists(const QString& path);

// "Orvo/orvanto.log" in the program folder: the run log.
QString RunLogPath();

// The path with its extension replaced by ".bak" ("a/Velmora.exe" -> "a/Velmora.bak").
QString KeptCopyPath(const QString& path);

// The file a link leads to, following links in turn (at most 40); the path itself when it is not
// a link. A file written there keeps the link that the administrator made.
QString FollowLinks(const QString& path);

// The text in single quotes, single quotes inside it doubled.
QString QuoteSingle(const QString& text);
