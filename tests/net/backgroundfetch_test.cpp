#include "core/error.h"
#include "net/backgroundfetch.h"
#include "support/fileserver.h"
#include "support/recordinginterface.h"
#include "support/tempinstall.h"

#include <QBuffer>
#include <gtest/gtest.h>

namespace {

class BackgroundFetchTest : public ::testing::Test {
protected:
    BackgroundFetchTest() {
        Install.WriteFile("site/update.ini", "[VERSIONI]\n");
        Install.WriteFile("site/update.ini.minisig", "untrusted comment: x\n");
        for (QBuffer* body : {&First, &Second})
            body->open(QIODevice::WriteOnly);
    }

    // GETs of the two files from the server, ready to go.
    std::vector<HttpRequest*> Requests(const FileServer& server) {
        FirstRequest.Address = server.BaseUrl() + "update.ini";
        FirstRequest.Sink = &First;
        SecondRequest.Address = server.BaseUrl() + "update.ini.minisig";
        SecondRequest.Sink = &Second;
        return {&FirstRequest, &SecondRequest};
    }

    TempInstallation Install;
    RecordingInterface Ui;
    HttpClient Http{Ui, {}};
    QBuffer First, Second;
    HttpRequest FirstRequest, SecondRequest;
};

} // namespace

TEST_F(BackgroundFetchTest, RunsBesideTheCallerAndHoldsTheClientUntilAllIsWaitedFor) {
    const FileServer server(Install.Root() + "/site", {300});
    BackgroundFetch fetch(Http, Ui, Requests(server));
    EXPECT_THROW(Http.Head(server.BaseUrl() + "update.ini"), OrvantoError)
        << "the client is the fetch's";
    fetch.Wait(FirstRequest);
    EXPECT_TRUE(FirstRequest.Ok()) << FirstRequest.Error.toStdString();
    EXPECT_EQ(First.data(), QByteArray("[VERSIONI]\n"));
    fetch.Wait(SecondRequest);
    EXPECT_EQ(Second.data(), QByteArray("untrusted comment: x\n"));
    EXPECT_EQ(Http.Head(server.BaseUrl() + "update.ini"), 11)
        << "all waited for: the client is free";
    QStringList requests = server.Requests();
    requests.sort();
    EXPECT_EQ(requests, QStringList({"GET /update.ini - 200", "GET /update.ini.minisig - 200",
                                     "HEAD /update.ini - 200"}));
}

TEST_F(BackgroundFetchTest, DroppedItAbortsWhatRunsAndGivesTheClientBack) {
    const FileServer server(Install.Root() + "/site", {2000});
    { const BackgroundFetch fetch(Http, Ui, Requests(server)); }
    EXPECT_FALSE(FirstRequest.Ok() && First.size() > 0) << "the fetch did not wait for the server";
    const FileServer quick(Install.Root() + "/site", {});
    EXPECT_EQ(Http.Head(quick.BaseUrl() + "update.ini"), 11);
}

TEST_F(BackgroundFetchTest, AClientHeldElsewhereFailsWhereTheCallerWaits) {
    const FileServer server(Install.Root() + "/site", {});
    const HttpClient::Claim other(Http);
    BackgroundFetch fetch(Http, Ui, Requests(server));
    EXPECT_THROW(fetch.Wait(FirstRequest), OrvantoError);
    EXPECT_TRUE(server.Requests().isEmpty());
}
