#include "app/workflow.h"
#include "support/firebirdfixture.h"
#include "support/nginxserver.h"
#include "support/recordinginterface.h"
#include "support/tempinstall.h"

#include <QDir>
#include <gtest/gtest.h>

// A client/server installation: "Database server" names the host, "Database" is the database's
// path on it, and the show-time sequence reads the versions through the real server.
TEST(FirebirdServerWorkflow, AClientServerInstallationIsAnalysedAndCheckedThroughTheServer) {
    TempInstallation install;
    FirebirdServer server;
    const QString database = install.Root() + "/server-side.fdb";
    CreateDatabase(FirebirdServer::RemoteName(database), QString("212"));
    QDir().mkpath(install.Root() + "/site");
    install.WriteFile("site/update.ini", "[VERSIONI]\nSchema database=213\nFirebird=99.0\n");
    NginxServer site(install.Root() + "/site");
    install.WriteSettings("[PRINCIPALE]\nDatabase server=localhost\nDatabase=" + database.toUtf8() +
                          "\n[ORVANTO]\nRemote url=" + site.BaseUrl().toUtf8() + "\n");

    RecordingInterface ui;
    Workflow flow(ui, {});
    EXPECT_EQ(flow.Connection().Database(), "localhost:" + database);
    EXPECT_EQ(flow.State().Info.ArchivioLabel,
              "Percorso archivio dati (database " + database + ")");
    flow.ResetAndCheck();

    EXPECT_TRUE(ui.Errors.isEmpty()) << ui.Errors.join('\n').toStdString();
    EXPECT_TRUE(ui.Log.contains("  Client/Server")) << ui.Log.join('\n').toStdString();
    ASSERT_EQ(flow.State().Checklist.size(), 1)
        << "no Firebird row for a client/server installation";
    EXPECT_EQ(flow.State().Checklist[0].Caption, QString("Schema database"));
    EXPECT_EQ(flow.State().Checklist[0].SubItem(0), QString("212"));
    EXPECT_TRUE(flow.State().Checklist[0].Checked);
    EXPECT_TRUE(flow.State().UpdateButtonVisible);
    flow.Connection().Close();
}
