#pragma once

#include <QString>
#include <optional>

namespace Firebird {
class IAttachment;
class ITransaction;
} // namespace Firebird

// Fixed credentials of Velmora's database, shared by the connection and the isql command line.
inline const QString DatabaseUser = QStringLiteral("sysdba");
inline const QString DatabasePassword = QStringLiteral("tarnwheel");
// The database file an installation without server and without alias file keeps in its
// program folder.
inline const QString MainDatabaseFileName = QStringLiteral("maindb.fdb");

// The connection's "Database" parameter: "server:alias" when a server is named; else the alias
// when the program folder holds an alias file; else the program folder's "maindb.fdb".
QString BuildDatabaseParameter(const QString& server, const QString& alias);

// One connection to Velmora's Firebird database as user sysdba, SQL dialect 3, character set
// ISO8859_1, read committed transactions that wait on locks. The first statement connects it; it
// stays connected until Close() or destruction. A "Database" parameter with a ":" is a server
// connection ("host:path" or "host:alias"); any other is opened by the embedded engine, a bare
// alias first being looked up in the program folder's alias file.
class FirebirdConnection {
public:
    FirebirdConnection() = default;
    FirebirdConnection(const FirebirdConnection&) = delete;
    FirebirdConnection& operator=(const FirebirdConnection&) = delete;
    ~FirebirdConnection();

    // Sets the "Database" parameter; a changed value closes an open connection.
    void SetDatabase(const QString& database);
    const QString& Database() const { return DatabaseParameter; }

    bool IsConnected() const { return Attachment != nullptr; }
    // Disconnects, rolling back a transaction that BeginTransaction left open; the next statement
    // connects again. Never throws: a failed detach still drops the connection.
    void Close();

    // Starts a transaction that the statements after it share until Commit() or Rollback():
    // read committed, waiting at most the given time for a record that another transaction has
    // changed. Connects when needed. Throws OrvantoError with Firebird's message.
    void BeginTransaction(int lockWaitSeconds);
    // Commits BeginTransaction's transaction; throws OrvantoError with Firebird's message.
    void Commit();
    // Rolls back BeginTransaction's transaction; never throws.
    void Rollback();

    // Runs a statement that yields at most one row (a select, or an UPDATE ... RETURNING) and
    // returns the named column of the row as text (a NULL as empty text, a BLOB read whole);
    // nothing when the statement yields no row. It runs in BeginTransaction's transaction when
    // one is open, else in one of its own that it commits. Throws OrvantoError with Firebird's
    // message when connecting or the statement fails, and OrvantoError when the result has no
    // such column; nothing of the statement stays open either way.
    std::optional<QString> QueryText(const QString& statement, const QString& column);
    // Runs a statement that yields nothing, in the same transaction as QueryText would.
    void Execute(const QString& statement);

private:
    QString DatabaseParameter;
    Firebird::IAttachment* Attachment = nullptr;
    Firebird::ITransaction* Held = nullptr;
};

// True when the connection's "Database" parameter has no ":" (the embedded engine opens it).
// A missing connection is a programming error; release builds answer false.
bool IsEmbeddedConnection(const FirebirdConnection* conn);
