#include "support/fileserver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <stdexcept>

FileServer::FileServer(const QString& root, const Options& options)
    : Process(std::make_unique<QProcess>()) {
    const QString portFile = Dir.path() + "/port";
    QStringList arguments = {"--root",      root,
                             "--port-file", portFile,
                             "--log",       Dir.path() + "/requests.log",
                             "--delay-ms",  QString::number(options.DelayMs)};
    if (options.BreakAfter >= 0)
        arguments << "--break-after" << QString::number(options.BreakAfter);
    if (options.BreakAlways)
        arguments << "--break-always";
    if (options.IgnoreRange)
        arguments << "--ignore-range";
    if (options.RateBytesPerSecond > 0)
        arguments << "--rate" << QString::number(options.RateBytesPerSecond);
    Process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Process->start(QStringLiteral(ORVANTO_FILE_SERVER), arguments);
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(portFile)) {
        if (waited.elapsed() > 10000 || Process->state() == QProcess::NotRunning)
            throw std::runtime_error("loopback-http-server did not start");
        QThread::msleep(10);
    }
    QFile file(portFile);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + portFile.toStdString());
    Port = file.readAll().toInt();
}

FileServer::~FileServer() {
    Process->kill();
    Process->waitForFinished();
}

QString FileServer::BaseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(Port);
}

QStringList FileServer::Requests() const {
    QFile file(Dir.path() + "/requests.log");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}
