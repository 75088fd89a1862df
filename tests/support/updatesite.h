#pragma once

#include "catalogue/runstate.h"
#include "catalogue/services.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "environment/databaseconnection.h"
#include "net/httpclient.h"
#include "support/nginxserver.h"
#include "support/recordinginterface.h"
#include "support/tempinstall.h"

#include <QByteArray>
#include <QString>
#include <memory>

// A temporary installation with its own update server (a real nginx serving a folder), an
// embedded database "velmora.fdb" at a chosen schema step, and the services a run works with
// (the run log in the installation's Orvo folder).
// The run state is set as the environment analysis would set it for an embedded installation
// with isql.
class UpdateSite {
public:
    explicit UpdateSite(const QString& schemaStep = QStringLiteral("205"));

    // Files on the server, below the served folder.
    void WriteCatalogue(const QByteArray& content) const;
    void WriteServed(const QString& name, const QByteArray& content) const;
    // A real package: a 7-Zip archive holding one file of that name with that content.
    void PublishPackage(const QString& fileName, const QByteArray& content) const;

    QString ServedFolder() const { return Install.Root() + "/site/"; }
    QString DatabaseFile() const { return Install.ProgramFolder() + "velmora.fdb"; }

    TempInstallation Install;
    std::unique_ptr<NginxServer> Server;
    RecordingInterface Ui;
    RunState Run;
    FirebirdConnection Connection;
    HttpClient Http;
    FileSystem Files;
    RunLog Log;
    Services Steps;
};
