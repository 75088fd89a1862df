#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <optional>

// Firebird's command-line SQL tool as Debian installs it.
inline const QString IsqlProgram = QStringLiteral("/usr/bin/isql-fb");

// The lock folder of the embedded Firebird engine, the same for the whole test process. The
// engine inside a process reads FIREBIRD_LOCK once, when it starts, and keeps that folder; the
// folder of the first test's TempInstallation would be gone for the next test. So a GoogleTest
// program sets FIREBIRD_LOCK before the first test to a folder that lasts as long as the process,
// and the engine, loaded only by a test that attaches a database, takes it. Give it to the
// processes a test starts, so that all of them share one lock folder. (An engine opens a database
// file for itself alone, whatever its lock folder: a second process gets "Database already opened
// with engine instance, incompatible with current".)
QString EmbeddedLockFolder();

// Runs an SQL script with isql as sysdba (client text UTF-8, stopping at the first error, lock
// folder EmbeddedLockFolder()) on a database, or on none when the script itself creates or
// connects one. A file path is opened by the embedded engine, "host:path" through a server.
// Returns isql's output; throws std::runtime_error with isql's messages when it fails.
QString RunIsql(const QString& database, const QString& script);

// Creates a database with character set ISO8859_1 whose description is the given text (none:
// NULL) and returns its name as given. While a server has a database file open, the embedded
// engine cannot open it, and the other way round.
QString CreateDatabase(const QString& database, const std::optional<QString>& description);

// The single value a one-row, one-column select gives, as isql prints it, blanks around it
// removed ("<null>" for NULL). For a BLOB, select it cast to VARCHAR.
QString QueryValue(const QString& database, const QString& select);

// A real Firebird server (/usr/sbin/firebird), started by hand with a lock folder of its own,
// listening on 127.0.0.1:3050, and stopped by its process id when the object goes. Only one can
// listen on the port: tests that use it belong to suites named FirebirdServer*, which CTest runs
// one at a time.
class FirebirdServer {
public:
    static constexpr quint16 Port = 3050;

    // Throws std::runtime_error when the port is taken or the server does not start listening.
    FirebirdServer();
    FirebirdServer(const FirebirdServer&) = delete;
    FirebirdServer& operator=(const FirebirdServer&) = delete;
    // SIGTERM, then SIGKILL when it has not ended after a few seconds.
    ~FirebirdServer();

    // The name that reaches a database file through this server.
    static QString RemoteName(const QString& path);
    qint64 ProcessId() const;

private:
    void Stop();

    QTemporaryDir Folder;
    QProcess Process;
};
