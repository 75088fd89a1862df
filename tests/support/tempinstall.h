#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <map>

// Sets environment variables for the life of the object and restores them afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment();

    void Set(const char* name, const QString& value);
    void Unset(const char* name);

private:
    void Remember(const char* name);
    std::map<QByteArray, std::pair<bool, QByteArray>> Saved;
};

// A temporary Velmora installation: the program folder (which the core is pointed at), with
// its work and backup folders, and per-user and per-machine data folders kept empty and private.
class TempInstallation {
public:
    TempInstallation();
    TempInstallation(const TempInstallation&) = delete;
    TempInstallation& operator=(const TempInstallation&) = delete;
    ~TempInstallation();

    // Root of the temporary tree; the program folder is Root() + "/Velmora/".
    QString Root() const;
    QString ProgramFolder() const;
    QString CopyFolder() const;
    QString BackupFolder() const;

    // Writes a file below the root (parents created) and returns its full path.
    QString WriteFile(const QString& relativePath, const QByteArray& content) const;
    // Writes "velmora.ini" into the program folder.
    QString WriteSettings(const QByteArray& content) const;
    QByteArray ReadFile(const QString& relativePath) const;

    ScopedEnvironment& Environment() { return Env; }

private:
    QTemporaryDir Dir;
    ScopedEnvironment Env;
};
