#include "core/error.h"
#include "net/httpclient.h"
#include "support/fileserver.h"
#include "support/nginxserver.h"
#include "support/recordinginterface.h"
#include "support/tempinstall.h"

#include <QBuffer>
#include <QDir>
#include <gtest/gtest.h>

namespace {

const char* const EchoConfig =
    "    location = /echo { return 200 \"$http_accept|$http_user_agent|$http_cookie\"; }\n"
    "    location = /connection { return 200 \"$connection\"; }\n"
    "    location = /cookie { add_header Set-Cookie \"session=abc; Path=/\"; return 200 \"set\"; "
    "}\n"
    "    location /nolength/ { ssi on; ssi_types *; }\n"
    "    location /slow/ { limit_rate 64k; }\n";

class HttpClientTest : public ::testing::Test {
protected:
    HttpClientTest() {
        Site = Install.Root() + "/site";
        QDir().mkpath(Site + "/nolength");
        QDir().mkpath(Site + "/slow");
        Install.WriteFile("site/update.ini", QByteArray(1000, 'x'));
        Install.WriteFile("site/nolength/a.txt", "some text");
        Install.WriteFile("site/slow/big.bin", QByteArray(160 * 1024, 'b'));
    }

    QByteArray Fetch(HttpClient& client, const QString& address) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        client.Get(address, buffer);
        return buffer.data();
    }

    TempInstallation Install;
    QString Site;
    RecordingInterface Ui;
};

} // namespace

TEST_F(HttpClientTest, GetsABodyAndDrivesTheDownloadBar) {
    NginxServer server(Site, {false, false, EchoConfig});
    HttpClient client(Ui, {});
    EXPECT_EQ(Fetch(client, server.BaseUrl() + "update.ini"), QByteArray(1000, 'x'));
    EXPECT_EQ(Ui.DownloadMaximum, 1000);
    EXPECT_EQ(Ui.DownloadPosition, 1000);

    EXPECT_EQ(Fetch(client, server.BaseUrl() + "nolength/a.txt"), QByteArray("some text"));
    EXPECT_EQ(Ui.DownloadMaximum, 0) << "no announced length";
    EXPECT_EQ(Ui.DownloadPosition, 0);

    EXPECT_EQ(Fetch(client, server.BaseUrl() + "redirect/update.ini"), QByteArray(1000, 'x'));
}

TEST_F(HttpClientTest, SendsTheFixedHeadersKeepsTheConnectionAndNoCookies) {
    NginxServer server(Site, {false, false, EchoConfig});
    HttpClient client(Ui, {});
    EXPECT_EQ(Fetch(client, server.BaseUrl() + "cookie"), QByteArray("set"));
    EXPECT_EQ(Fetch(client, server.BaseUrl() + "echo"),
              QByteArray("text/html, */*|Mozilla/3.0 (compatible; Indy Library)|"));
    const QByteArray first = Fetch(client, server.BaseUrl() + "connection");
    EXPECT_EQ(client.Head(server.BaseUrl() + "update.ini"), 1000);
    EXPECT_EQ(Fetch(client, server.BaseUrl() + "connection"), first) << "the connection is reused";
}

TEST_F(HttpClientTest, HeadGivesTheAnnouncedLength) {
    NginxServer server(Site, {false, false, EchoConfig});
    HttpClient client(Ui, {});
    EXPECT_EQ(client.Head(server.BaseUrl() + "update.ini"), 1000);
    EXPECT_EQ(client.Head(server.BaseUrl() + "nolength/a.txt"), -1);
    EXPECT_EQ(client.Head(server.BaseUrl() + "redirect/update.ini"), 1000);
}

TEST_F(HttpClientTest, FailuresRaiseErrorsNamingTheAddress) {
    NginxServer server(Site, {false, false, EchoConfig});
    HttpClient client(Ui, {});
    const QString missing = server.BaseUrl() + "missing.7z";
    for (const bool head : {false, true}) {
        try {
            if (head)
                client.Head(missing);
            else
                Fetch(client, missing);
            FAIL() << "no error for a 404";
        } catch (const OrvantoError& error) {
            EXPECT_TRUE(error.Message().contains(missing)) << error.Message().toStdString();
            EXPECT_TRUE(error.Message().contains("404")) << error.Message().toStdString();
        }
    }
    EXPECT_THROW(Fetch(client, "http://127.0.0.1:1/update.ini"), OrvantoError) << "nothing listens";
    EXPECT_EQ(Fetch(client, server.BaseUrl() + "update.ini").size(), 1000)
        << "usable after failures";
}

// A conditional request: "not modified" when the validators still hold, the body otherwise.
TEST_F(HttpClientTest, AConditionalRequestAnsweredNotModifiedSucceedsWithoutABody) {
    const FileServer server(Site, {});
    HttpClient client(Ui, {});
    QBuffer body;
    body.open(QIODevice::WriteOnly);
    HttpRequest request;
    request.Address = server.BaseUrl() + "update.ini";
    request.Sink = &body;
    std::deque<HttpRequest*> queue{&request};
    client.Run(queue, 1, {});
    ASSERT_TRUE(request.Ok()) << request.Error.toStdString();
    ASSERT_FALSE(request.ETag.isEmpty());

    for (const bool changed : {false, true}) {
        SCOPED_TRACE(changed ? "changed" : "unchanged");
        if (changed)
            Install.WriteFile("site/update.ini", QByteArray(999, 'y'));
        HttpRequest again;
        again.Address = request.Address;
        again.Sink = &body;
        again.IfNoneMatch = request.ETag;
        body.buffer().clear();
        body.seek(0);
        queue = {&again};
        client.Run(queue, 1, {});
        EXPECT_TRUE(again.Ok()) << again.Error.toStdString();
        EXPECT_EQ(again.NotModified(), !changed);
        EXPECT_EQ(body.data(), changed ? QByteArray(999, 'y') : QByteArray());
    }
}

TEST_F(HttpClientTest, LetsEventsRunWhileATransferWaits) {
    NginxServer server(Site, {false, false, EchoConfig});
    HttpClient client(Ui, {});
    EXPECT_EQ(Fetch(client, server.BaseUrl() + "slow/big.bin").size(), 160 * 1024);
    EXPECT_GE(Ui.EventPasses, 3) << "about 2.5 s at 64 KB/s";
}

TEST_F(HttpClientTest, VerifiesCertificatesUnlessTheSettingsSayOtherwise) {
    NginxServer server(Site, {true, false, ""});
    const QString address = server.BaseUrl() + "update.ini";
    HttpClient client(Ui, {});
    EXPECT_THROW(Fetch(client, address), OrvantoError)
        << "self-signed certificate refused by default";

    client.SetTlsSettings({server.CertificateFile(), true});
    EXPECT_EQ(Fetch(client, address).size(), 1000);

    client.SetTlsSettings({"", false});
    EXPECT_EQ(Fetch(client, address).size(), 1000);
}

TEST_F(HttpClientTest, ReachesATls13OnlyServer) {
    NginxServer server(Site, {true, true, ""});
    HttpClient client(Ui, {server.CertificateFile(), true});
    EXPECT_EQ(Fetch(client, server.BaseUrl() + "update.ini").size(), 1000);
}

TEST_F(HttpClientTest, ReachesOldTlsServersWithATrustedCertificate) {
    for (const char* protocol : {"TLSv1", "TLSv1.1", "TLSv1.2"}) {
        NginxServer::Options options{true};
        options.TlsProtocols = protocol;
        NginxServer server(Site, options);
        HttpClient client(Ui, {server.CertificateFile(), true});
        EXPECT_EQ(Fetch(client, server.BaseUrl() + "update.ini").size(), 1000) << protocol;
    }
}

TEST_F(HttpClientTest, RefusesAWeakCertificateUnlessVerificationIsOff) {
    NginxServer::Options options{true};
    options.KeyBits = 1024;
    options.Digest = "sha1";
    NginxServer server(Site, options);
    const QString address = server.BaseUrl() + "update.ini";
    HttpClient client(Ui, {server.CertificateFile(), true});
    EXPECT_THROW(Fetch(client, address), OrvantoError)
        << "a 1024-bit key signed with SHA-1, although trusted explicitly";

    client.SetTlsSettings({server.CertificateFile(), false});
    EXPECT_EQ(Fetch(client, address).size(), 1000);
}

TEST_F(HttpClientTest, FollowsRedirectsButNeverFromHttpsToHttp) {
    const QString bounce = "    location = /bounce { return 302 $arg_to; }\n";
    const NginxServer plain(Site, {false, false, bounce});
    const NginxServer secure(Site, {true, false, bounce});
    HttpClient client(Ui, {secure.CertificateFile(), true});
    const struct {
        const NginxServer& From;
        const NginxServer& To;
        bool Followed;
    } rows[] = {{plain, plain, true},
                {plain, secure, true},
                {secure, secure, true},
                {secure, plain, false}};
    for (const auto& row : rows) {
        const QString target = row.To.BaseUrl() + "update.ini";
        const QString address = row.From.BaseUrl() + "bounce?to=" + target;
        SCOPED_TRACE(address.toStdString());
        if (row.Followed) {
            EXPECT_EQ(Fetch(client, address), QByteArray(1000, 'x'));
            continue;
        }
        try {
            Fetch(client, address);
            ADD_FAILURE() << "the redirect was followed";
        } catch (const OrvantoError& error) {
            EXPECT_TRUE(error.Message().contains("reindirizzamento"))
                << error.Message().toStdString();
            EXPECT_TRUE(error.Message().contains(target)) << error.Message().toStdString();
        }
    }
}

TEST_F(HttpClientTest, SpeaksOnlyHttpAndHttps) {
    const NginxServer server(Site,
                             {false, false, "    location = /bounce { return 302 $arg_to; }\n"});
    HttpClient client(Ui, {});
    for (const QString& address :
         {QStringLiteral("file:///etc/hostname"), QStringLiteral("ftp://127.0.0.1:1/update.ini"),
          server.BaseUrl() + "bounce?to=file:///etc/hostname"}) {
        SCOPED_TRACE(address.toStdString());
        try {
            const QByteArray body = Fetch(client, address);
            ADD_FAILURE() << "fetched " << body.size() << " bytes";
        } catch (const OrvantoError& error) {
            EXPECT_TRUE(error.Message().contains("http e https")) << error.Message().toStdString();
        }
    }
}

TEST_F(HttpClientTest, ATricklingServerEndsTheTransferAtItsLimits) {
    const FileServer trickle(Site, {.RateBytesPerSecond = 2});
    HttpClient client(Ui, {});
    const struct {
        const char* Why;
        TransferLimits Limits;
    } rows[] = {{"the whole transfer lasts too long", {2, 1, 60}},
                {"too few bytes a second", {60, 100, 2}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Why);
        QBuffer body;
        body.open(QIODevice::WriteOnly);
        HttpRequest request;
        request.Address = trickle.BaseUrl() + "update.ini";
        request.Sink = &body;
        request.Limits = row.Limits;
        std::deque<HttpRequest*> queue{&request};
        client.Run(queue, 1, {});
        EXPECT_TRUE(request.Error.contains("trasferimento interrotto"))
            << request.Error.toStdString();
        EXPECT_LT(body.size(), 1000);
    }
}
