#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// The small loopback HTTP server of the tests and benchmarks (loopback-http-server) serving a
// folder: keep-alive, byte ranges with an ETag validator, and on demand a delay before every
// answer, a connection closed part-way through the first body of each file (or every body),
// ranges ignored, or bodies trickled at a few bytes a second.
class FileServer {
public:
    struct Options {
        int DelayMs = 0;
        // Up to this much more delay, drawn for each answer.
        int JitterMs = 0;
        // Closes the connection after this many bytes of each file's first body; -1: never.
        qint64 BreakAfter = -1;
        bool IgnoreRange = false;
        // With BreakAfter: every body breaks, resumed ones too.
        bool BreakAlways = false;
        // Body bytes per second, trickled; 0: full speed.
        int RateBytesPerSecond = 0;
    };

    FileServer(const QString& root, const Options& options);
    FileServer(const FileServer&) = delete;
    FileServer& operator=(const FileServer&) = delete;
    ~FileServer();

    // "http://127.0.0.1:PORT/".
    QString BaseUrl() const;
    // The requests answered so far, one "METHOD PATH RANGE STATUS" each ("-" for no range).
    QStringList Requests() const;

private:
    QTemporaryDir Dir;
    std::unique_ptr<QProcess> Process;
    int Port = 0;
};
