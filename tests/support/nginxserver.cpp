#include "support/nginxserver.h"

#include "support/loopback.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QThread>
#include <map>
#include <stdexcept>
#include <unistd.h>

namespace {

void WriteText(const QString& path, const QString& text) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        throw std::runtime_error("cannot write " + path.toStdString());
}

// One certificate of each kind for the whole test process: making a key takes a moment.
QString SharedCertificateFolder(int keyBits, const QString& digest) {
    static std::map<QString, std::unique_ptr<QTemporaryDir>> folders;
    std::unique_ptr<QTemporaryDir>& folder = folders[QString("rsa%1-%2").arg(keyBits).arg(digest)];
    if (!folder) {
        auto made = std::make_unique<QTemporaryDir>();
        QProcess openssl;
        openssl.setStandardOutputFile(QProcess::nullDevice());
        openssl.setStandardErrorFile(QProcess::nullDevice());
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", QString("rsa:%1").arg(keyBits), "-" + digest,
                       "-nodes", "-subj", "/CN=127.0.0.1", "-addext",
                       "subjectAltName=IP:127.0.0.1,DNS:localhost", "-days", "3", "-keyout",
                       made->path() + "/key.pem", "-out", made->path() + "/cert.pem"});
        if (!openssl.waitForFinished() || openssl.exitCode() != 0)
            throw std::runtime_error("openssl could not make a certificate");
        // nginx reads this instead of the system's OpenSSL configuration.
        WriteText(made->path() + "/openssl.cnf",
                  "openssl_conf = settings\n[settings]\nssl_conf = ssl\n[ssl]\n"
                  "system_default = lowest\n[lowest]\nCipherString = DEFAULT@SECLEVEL=0\n");
        MakeWorldReadable(made->path());
        folder = std::move(made);
    }
    return folder->path();
}

} // namespace

void MakeWorldReadable(const QString& path) {
    const QFile::Permissions all =
        QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    const QFile::Permissions traversable =
        all | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    QFile::setPermissions(path,
                          QFileInfo(path).isDir() ? traversable : all | QFile::permissions(path));
    QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString entry = it.next();
        QFile::setPermissions(entry, it.fileInfo().isDir() ? traversable
                                                           : QFile::permissions(entry) | all);
    }
}

NginxServer::NginxServer(const QString& root) : NginxServer(root, Options{}) {}

NginxServer::NginxServer(const QString& root, const Options& options)
    : Https(options.Https),
      CertificateFolder(options.Https ? SharedCertificateFolder(options.KeyBits, options.Digest)
                                      : QString()) {
    for (int attempt = 0; attempt < 5 && ListenPort == 0; ++attempt)
        Start(root, options);
    if (ListenPort == 0)
        throw std::runtime_error("nginx did not start");
}

void NginxServer::Start(const QString& root, const Options& options) {
    const QString dir = Dir.path();
    QDir().mkpath(dir + "/tmp");
    const int port = FreeLoopbackPort();
    QString tls;
    if (options.Https) {
        const QString protocols = !options.TlsProtocols.isEmpty() ? options.TlsProtocols
                                  : options.Tls13Only             ? "TLSv1.3"
                                                                  : "TLSv1.2 TLSv1.3";
        tls = QString("    ssl_certificate %1/cert.pem;\n    ssl_certificate_key %1/key.pem;\n"
                      "    ssl_protocols %2;\n")
                  .arg(CertificateFolder, protocols);
    }
    const QString config =
        QString(::geteuid() == 0 ? "user root;\n" : "") +
        QString("worker_processes 1;\npid %1/nginx.pid;\nerror_log %1/error.log;\n"
                "events { worker_connections 64; }\n"
                "http {\n  access_log off;\n  default_type application/octet-stream;\n"
                "  client_body_temp_path %1/tmp;\n  proxy_temp_path %1/tmp;\n  fastcgi_temp_path "
                "%1/tmp;\n"
                "  uwsgi_temp_path %1/tmp;\n  scgi_temp_path %1/tmp;\n"
                "  server {\n    listen 127.0.0.1:%2%3;\n%4    root %5;\n"
                "    location /redirect/ { rewrite ^/redirect/(.*)$ /$1 redirect; }\n%6  }\n}\n")
            .arg(dir, QString::number(port), options.Https ? " ssl" : "", tls, root,
                 options.ExtraServerConfig);
    WriteText(dir + "/nginx.conf", config);
    MakeWorldReadable(root);

    Process = std::make_unique<QProcess>();
    Process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (options.Https) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("OPENSSL_CONF", CertificateFolder + "/openssl.cnf");
        Process->setProcessEnvironment(environment);
    }
    Process->start("nginx", {"-p", dir, "-c", dir + "/nginx.conf", "-e", dir + "/error.log", "-g",
                             "daemon off;"});
    if (!Process->waitForStarted())
        throw std::runtime_error("cannot start nginx");
    for (int i = 0; i < 200; ++i) {
        if (LoopbackPortAccepts(static_cast<quint16>(port))) {
            ListenPort = port;
            return;
        }
        if (Process->state() == QProcess::NotRunning)
            break;
        QThread::msleep(25);
    }
    Process->kill();
    Process->waitForFinished();
}

NginxServer::~NginxServer() {
    if (Process && Process->state() != QProcess::NotRunning) {
        Process->terminate();
        if (!Process->waitForFinished(5000)) {
            Process->kill();
            Process->waitForFinished();
        }
    }
}

QString NginxServer::BaseUrl() const {
    return QString("%1://127.0.0.1:%2/").arg(Https ? "https" : "http").arg(ListenPort);
}

QString NginxServer::CertificateFile() const {
    return CertificateFolder + "/cert.pem";
}
