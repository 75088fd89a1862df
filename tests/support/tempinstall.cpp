#include "support/tempinstall.h"

#include "environment/lowlevel.h"
#include "support/firebirdfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

ScopedEnvironment::~ScopedEnvironment() {
    for (const auto& [name, saved] : Saved) {
        if (saved.first)
            qputenv(name.constData(), saved.second);
        else
            qunsetenv(name.constData());
    }
}

void ScopedEnvironment::Remember(const char* name) {
    if (Saved.count(name) == 0)
        Saved[name] = {qEnvironmentVariableIsSet(name), qgetenv(name)};
}

void ScopedEnvironment::Set(const char* name, const QString& value) {
    Remember(name);
    qputenv(name, value.toLocal8Bit());
}

void ScopedEnvironment::Unset(const char* name) {
    Remember(name);
    qunsetenv(name);
}

TempInstallation::TempInstallation() {
    if (!Dir.isValid())
        throw std::runtime_error("cannot create a temporary folder");
    QDir(Root()).mkpath("Velmora/Orvo/Copiare");
    QDir(Root()).mkpath("Velmora/Orvo/Backup");
    QDir(Root()).mkpath("home/.config");
    QDir(Root()).mkpath("etc/xdg");
    Env.Set("XDG_CONFIG_HOME", Root() + "/home/.config");
    Env.Set("XDG_CONFIG_DIRS", Root() + "/etc/xdg");
    // The embedded engine of this process and the isql runs it starts share one lock folder.
    Env.Set("FIREBIRD_LOCK", EmbeddedLockFolder());
    OverrideProgramFolder(ProgramFolder());
}

TempInstallation::~TempInstallation() {
    OverrideProgramFolder(QString());
    OverrideFirebirdFolder(std::nullopt);
}

QString TempInstallation::Root() const {
    return Dir.path();
}
QString TempInstallation::ProgramFolder() const {
    return Root() + "/Velmora/";
}
QString TempInstallation::CopyFolder() const {
    return ProgramFolder() + "Orvo/Copiare/";
}
QString TempInstallation::BackupFolder() const {
    return ProgramFolder() + "Orvo/Backup/";
}

QString TempInstallation::WriteFile(const QString& relativePath, const QByteArray& content) const {
    const QString path = Root() + "/" + relativePath;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

QString TempInstallation::WriteSettings(const QByteArray& content) const {
    return WriteFile("Velmora/velmora.ini", content);
}

QByteArray TempInstallation::ReadFile(const QString& relativePath) const {
    QFile file(Root() + "/" + relativePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
