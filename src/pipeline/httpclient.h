#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>

class QIODevice;
class UserInterface;

// How the client checks the server's certificate: against the system's trust store by default,
// against a certificate file the settings name, or not at all when the settings turn it off.
struct TlsSettings {
    QString CaCertificateFile;
    bool VerifyCertificate = true;
};

// The program's one HTTP(S) client. Transfers are synchronous: while one waits for the network,
// pending window events run every 250 ms and the download bar follows the body as it arrives.
// Connections to the same server are kept open between requests.
class HttpClient {
public:
    HttpClient(UserInterface& ui, const TlsSettings& tls);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    void SetTlsSettings(const TlsSettings& tls);

    // GET into the caller's device. Throws OrvantoError when the connection or the TLS handshake
    // fails, nothing arrives for 60 s, the final status is outside 200-299 or the device refuses
    // the data.
    void Get(const QString& address, QIODevice& sink);
    // HEAD: the announced content length, -1 when the server announces none. Throws as Get.
    qint64 Head(const QString& address);

private:
    struct Transfer;
    void Perform(const QString& address, Transfer& transfer);

    UserInterface& Interface;
    TlsSettings Tls;
    struct Handles;
    std::unique_ptr<Handles> Curl;
    bool Busy = false;
};
