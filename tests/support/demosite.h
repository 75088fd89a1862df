#pragma once

#include "support/nginxserver.h"

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// The demo installation and its newer release (scripts/make-demo-site) behind a real nginx:
// Velmora 3.11.0 with an embedded database at schema step 205 and the built Orvanto in its
// program folder; on the server Velmora 3.12.0, the archiver 26.0 and script 206, in a catalogue
// signed with the maker's key that the installation's settings trust.
class DemoSite {
public:
    DemoSite();

    QString Folder() const { return Dir.path(); }
    QString ProgramFolder() const { return Dir.path() + "/Velmora/"; }
    QString ReleaseFolder() const { return Dir.path() + "/release/"; }
    QString DatabaseFile() const { return ProgramFolder() + "velmora.fdb"; }
    QString RemoteUrl() const { return Server->BaseUrl() + "velmora/"; }

    // Publishes and signs the release folder again with the demo's versions, some of them changed
    // ("COMPONENT=VERSION").
    void Republish(const QStringList& changedVersions = {}) const;
    // Publishes the release again with a script 206 that fails after its first COMMIT.
    void PublishFailingScript() const;
    // Puts the script of a schema step into the release and publishes the release again with that
    // step and the given versions.
    void PublishScript(long long step, const QByteArray& text,
                       const QStringList& changedVersions = {}) const;
    // Points the installation's settings at another server holding the same site folder
    // (Folder() + "/site").
    void ServeFrom(const QString& baseUrl) const;
    // Replaces a served package by a sound archive with other content.
    void TamperWithPackage(const QString& fileName) const;

    QByteArray Read(const QString& relativeToProgramFolder) const;
    void Write(const QString& relativeToProgramFolder, const QByteArray& content) const;

    // Runs the installation's Orvanto with the arguments and waits for its end; with a wrapper
    // (a command line such as strace's), through it.
    struct Result {
        int ExitCode = -1;
        qint64 ProcessId = 0;
        QString Output;
        QString Errors;
    };
    Result Run(const QStringList& arguments, const QStringList& wrapper = {}) const;
    // Starts the installation's Orvanto as Run does, without waiting for its end.
    std::unique_ptr<QProcess> Start(const QStringList& arguments,
                                    const QStringList& wrapper = {}) const;
    // Waits, at most five minutes, for the end of a run that Start began.
    static Result Finish(QProcess& process);
    // Runs a command line through sh, with the same variables.
    Result Shell(const QString& commandLine) const;
    // The renames the installation's Orvanto makes during a run with the arguments, as "from|to",
    // in order (traced with strace).
    // Further strace options may inject a fault.
    QStringList RenamesDuring(const QStringList& arguments,
                              const QStringList& straceOptions = {}) const;

    // Variables set for the runs of Orvanto.
    QMap<QString, QString> Environment;
    // The whole environment of a run: this process's, without a display, with the shared
    // Firebird lock folder and the variables above.
    QProcessEnvironment RunEnvironment() const;

private:
    std::unique_ptr<QProcess> Launch(const QStringList& command) const;
    Result Execute(const QStringList& command) const;

    QTemporaryDir Dir;
    std::unique_ptr<NginxServer> Server;
};
