#include "environment/lowlevel.h"

#include "core/error.h"
#include "platform/executable.h"
#include "platform/knownfolders.h"

#include <QFileInfo>
#include <algorithm>
#include <optional>

namespace {

QString& ProgramFolderOverride() {
    static QString folder;
    return folder;
}

std::optional<QString>& FirebirdFolderOverride() {
    static std::optional<QString> folder;
    return folder;
}

bool EndsWithSeparator(const QString& text) {
    return text.endsWith('/') || text.endsWith('\\') || text.endsWith(':');
}

bool IsAbsolute(const QString& name) {
    return name.startsWith('/') || name.startsWith('\\') ||
           (name.size() >= 2 && name[1] == ':' && name[0].isLetter());
}

void CheckPathPart(const QString& part) {
    if (part.contains(QChar(0)))
        throw InvalidArgumentError("Percorso non valido: " +
                                   QString(part).replace(QChar(0), "\\0"));
}

} // namespace

QString GetProgramFolder() {
    if (!ProgramFolderOverride().isEmpty())
        return AddTrailingSeparator(ProgramFolderOverride());
    const QString executable = RunningExecutablePath();
    return AddTrailingSeparator(executable.left(executable.lastIndexOf('/') + 1));
}

void OverrideProgramFolder(const QString& folder) {
    ProgramFolderOverride() = folder;
}

QString GetRoamingDataFolder() {
    const QString base = RoamingApplicationDataFolder();
    if (base.isEmpty())
        return {};
    return AddTrailingSeparator(JoinPath(base, VelmoraDataSubfolder));
}

QString GetProgramDataFolder() {
    return AddTrailingSeparator(JoinPath(MachineApplicationDataFolder(), VelmoraDataSubfolder));
}

QStringList SettingsFolders() {
    return {GetProgramFolder(), GetRoamingDataFolder(), GetProgramDataFolder()};
}

QString FindSettingsFile() {
    for (const QString& folder : SettingsFolders()) {
        const QString candidate = JoinPath(folder, SettingsFileName);
        if (FileExists(candidate))
            return candidate;
    }
    return {};
}

QString QuoteIfSpaced(const QString& text) {
    return text.contains(' ') ? '"' + text + '"' : text;
}

void OverrideFirebirdFolder(const std::optional<QString>& folder) {
    FirebirdFolderOverride() = folder;
}

QString GetFirebirdFolder() {
    const auto& override = FirebirdFolderOverride();
    const QString folder = override ? *override : FirebirdInstanceFolder();
    return folder.isEmpty() ? QString() : AddTrailingSeparator(folder);
}

QString JoinPath(const QString& folder, const QString& name) {
    if (folder.isEmpty())
        return name;
    if (name.isEmpty())
        return folder;
    CheckPathPart(folder);
    CheckPathPart(name);
    if (IsAbsolute(name))
        return name;
    return EndsWithSeparator(folder) ? folder + name : folder + '/' + name;
}

QString AddTrailingSeparator(const QString& text) {
    return text.endsWith('/') ? text : text + '/';
}

bool FileExists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isFile();
}

QString RunLogPath() {
    return JoinPath(GetProgramFolder(), QStringLiteral("Orvo/orvanto.log"));
}

QString KeptCopyPath(const QString& path) {
    const int slash = path.lastIndexOf('/');
    const int dot = path.lastIndexOf('.');
    return (dot > slash ? path.left(dot) : path) + ".bak";
}

QString FollowLinks(const QString& path) {
    QString current = path;
    for (int i = 0; i < 40; ++i) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            return current;
        current = info.symLinkTarget();
    }
    return current;
}

QString QuoteSingle(const QString& text) {
    return '\'' + QString(text).replace('\'', "''") + '\'';
}

bool IsPlainFileName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return std::none_of(name.begin(), name.end(), [](QChar c) {
        return c == '/' || c == '\\' || c == ':' || c.category() == QChar::Other_Control;
    });
}
