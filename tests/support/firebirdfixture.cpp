#include "support/firebirdfixture.h"

#include "core/error.h"
#include "core/sanitizer.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "support/loopback.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryFile>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ibase.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

ORVANTO_LEAK_SUPPRESSIONS

namespace {

const QString ServerProgram = QStringLiteral("/usr/sbin/firebird");
// Guards against a hanging tool or server; a healthy one takes a fraction of this.
const int IsqlTimeoutMs = 120000;
const int ServerStartTimeoutMs = 30000;
// A server that takes SIGTERM ends within a fraction of a second; Firebird 3.0.11 loses the
// signal in about one start in four and then keeps running, so it is killed after this time.
const int ServerStopTimeoutMs = 3000;
const int PollIntervalMs = 50;

std::runtime_error Failure(const QString& message) {
    return std::runtime_error(message.toStdString());
}

// The lock folder of the embedded engine of this process, put in FIREBIRD_LOCK for as long as the
// process lasts. The engine reads the variable when a test first attaches a database through it;
// tests that never do so never load the engine.
class EmbeddedEngine {
public:
    EmbeddedEngine() {
        if (!LockFolder.isValid())
            throw Failure("cannot create a lock folder for the embedded Firebird engine");
        qputenv("FIREBIRD_LOCK", QFile::encodeName(LockFolder.path()));
    }
    EmbeddedEngine(const EmbeddedEngine&) = delete;
    EmbeddedEngine& operator=(const EmbeddedEngine&) = delete;
    // An engine that started (its files are in the lock folder, or those of an isql run) stops
    // before the folder goes. Asked when none started, the client would start a thread of its own
    // just to find nothing to stop.
    ~EmbeddedEngine() {
        if (!QDir(LockFolder.path()).isEmpty())
            fb_shutdown(0, fb_shutrsn_exit_called);
    }

    QString Folder() const { return LockFolder.path(); }

private:
    QTemporaryDir LockFolder;
};

const EmbeddedEngine& Engine() {
    static const EmbeddedEngine engine;
    return engine;
}

// Sets the engine's lock folder before the first test of a GoogleTest program.
class EmbeddedEngineStart : public testing::Environment {
public:
    void SetUp() override { Engine(); }
};
const testing::Environment* const EngineStart =
    testing::AddGlobalTestEnvironment(new EmbeddedEngineStart);

} // namespace

QString EmbeddedLockFolder() {
    return Engine().Folder();
}

QString RunIsql(const QString& database, const QString& script) {
    QTemporaryFile scriptFile(QDir::tempPath() + "/orvanto-isql-XXXXXX.sql");
    const QByteArray bytes = script.toUtf8();
    if (!scriptFile.open() || scriptFile.write(bytes) != bytes.size() || !scriptFile.flush())
        throw Failure("cannot write the isql script " + scriptFile.fileName());
    QStringList arguments = {"-q",        "-b",
                             "-ch",       "UTF8",
                             "-user",     DatabaseUser,
                             "-password", DatabasePassword,
                             "-i",        scriptFile.fileName()};
    if (!database.isEmpty())
        arguments << database;
    QProcess isql;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("FIREBIRD_LOCK", EmbeddedLockFolder());
    isql.setProcessEnvironment(environment);
    isql.start(IsqlProgram, arguments);
    const bool finished = isql.waitForFinished(IsqlTimeoutMs);
    if (!finished) {
        isql.kill();
        isql.waitForFinished();
    }
    const QString output = QString::fromUtf8(isql.readAllStandardOutput());
    const QString errors = QString::fromUtf8(isql.readAllStandardError());
    if (!finished || isql.exitStatus() != QProcess::NormalExit || isql.exitCode() != 0 ||
        !errors.isEmpty())
        throw Failure("isql on '" + database + "' failed (exit code " +
                      QString::number(isql.exitCode()) + "): " + errors + output);
    return output;
}

QString CreateDatabase(const QString& database, const std::optional<QString>& description) {
    QString script = "CREATE DATABASE " + QuoteSingle(database) + " USER " +
                     QuoteSingle(DatabaseUser) + " PASSWORD " + QuoteSingle(DatabasePassword) +
                     " DEFAULT CHARACTER SET ISO8859_1;\n";
    if (description)
        script += "COMMENT ON DATABASE IS " + QuoteSingle(*description) + ";\n";
    script += "COMMIT;\n";
    RunIsql(QString(), script);
    return database;
}

QString QueryValue(const QString& database, const QString& select) {
    return RunIsql(database, "SET HEADING OFF;\n" + select + ";\n").trimmed();
}

FirebirdServer::FirebirdServer() {
    if (!Folder.isValid())
        throw Failure("cannot create a temporary folder for the Firebird server");
    if (LoopbackPortAccepts(Port))
        throw Failure("127.0.0.1:" + QString::number(Port) +
                      " is taken: another Firebird server is running");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("FIREBIRD_LOCK", Folder.filePath("lock"));
    Process.setProcessEnvironment(environment);
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.setStandardOutputFile(Folder.filePath("server.log"));
    Process.start(ServerProgram, {});
    if (!Process.waitForStarted())
        throw Failure("cannot start " + ServerProgram + ": " + Process.errorString());
    const QDeadlineTimer deadline(ServerStartTimeoutMs);
    while (!LoopbackPortAccepts(Port)) {
        if (Process.waitForFinished(PollIntervalMs) || deadline.hasExpired()) {
            Stop();
            QFile log(Folder.filePath("server.log"));
            log.open(QIODevice::ReadOnly);
            throw Failure(ServerProgram + " does not listen on 127.0.0.1:" + QString::number(Port) +
                          ": " + QString::fromUtf8(log.readAll()));
        }
    }
}

FirebirdServer::~FirebirdServer() {
    Stop();
}

QString FirebirdServer::RemoteName(const QString& path) {
    return "localhost:" + path;
}

qint64 FirebirdServer::ProcessId() const {
    return Process.processId();
}

void FirebirdServer::Stop() {
    if (Process.state() == QProcess::NotRunning)
        return;
    Process.terminate();
    if (!Process.waitForFinished(ServerStopTimeoutMs)) {
        Process.kill();
        Process.waitForFinished();
    }
}
