#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <utility>

// A real nginx on a free loopback port serving a folder, over HTTP or HTTPS with a self-signed
// certificate made with openssl. "/redirect/NAME" answers 302 to "/NAME". nginx runs at OpenSSL's
// lowest security level, so that it serves weak certificates and old protocols when asked; the
// client decides what it accepts. Stopped by its process id when the object goes.
class NginxServer {
public:
    struct Options {
        Options(bool https = false, bool tls13Only = false, QString extraServerConfig = {})
            : Https(https), Tls13Only(tls13Only), ExtraServerConfig(std::move(extraServerConfig)) {}

        bool Https;
        // Offers only TLS 1.3.
        bool Tls13Only;
        // Further directives inside the server block.
        QString ExtraServerConfig;
        // When not empty, the protocols offered instead, as nginx's ssl_protocols ("TLSv1.2").
        QString TlsProtocols;
        // The certificate's RSA key size and signature digest.
        int KeyBits = 2048;
        QString Digest = QStringLiteral("sha256");
    };

    explicit NginxServer(const QString& root);
    NginxServer(const QString& root, const Options& options);
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;
    ~NginxServer();

    // "http://127.0.0.1:PORT/" or "https://127.0.0.1:PORT/".
    QString BaseUrl() const;
    // The server's self-signed certificate (HTTPS only), to trust explicitly.
    QString CertificateFile() const;
    int Port() const { return ListenPort; }

private:
    void Start(const QString& root, const Options& options);

    QTemporaryDir Dir;
    std::unique_ptr<QProcess> Process;
    int ListenPort = 0;
    bool Https = false;
    QString CertificateFolder;
};

// Makes every file and folder below the path readable by all, as a web server's workers need.
void MakeWorldReadable(const QString& path);
