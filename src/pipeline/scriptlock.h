#pragma once

#include "environment/databaseconnection.h"

#include <QString>

// Lets one workstation at a time run database scripts on a database that a server shares with
// every workstation. The lock lives in that database: the one row of the table
// ORVANTO_AGGIORNAMENTO (created, with its row, by the first workstation that needs it), changed
// and left uncommitted by a connection of the updater's own for as long as the scripts run. A
// second workstation's change of the row waits for the first to end; when the holder's process
// dies, the server ends its connection and the lock with it. isql's scripts never touch the table,
// so they cannot deadlock with the holder. A second row records the last backup made on the
// server, so that no backup overwrites another.
class ScriptLock {
public:
    // Takes the lock on the database named as the connection names it ("server:alias"), waiting at
    // most `waitSeconds` for another workstation. Throws OrvantoError when the time runs out (the
    // reason names who holds the lock, where the server tells) or the database cannot be reached.
    ScriptLock(const QString& database, int waitSeconds);
    ScriptLock(const ScriptLock&) = delete;
    ScriptLock& operator=(const ScriptLock&) = delete;
    // Without Release() the row is left as it was and the lock ends.
    ~ScriptLock() = default;

    // The schema step as the database has it now: its description, trimmed.
    QString SchemaStep();
    // The server's path of the database file.
    QString DatabaseFile();
    // The workstation that last released the lock after running scripts, and when, as the row
    // recorded it ("host (folder) il 2026-12-11 10:15:00, passo 206"); empty when none did.
    const QString& LastWorkstation() const { return Last; }
    // Who holds the transaction that a Firebird error names ("concurrent transaction number is
    // N"): user, address and program as the server tells them; empty when the error names none or
    // the server does not know it.
    QString Holder(const QString& errorText);
    // The path for the server's backup of the database: the one given, unless the last backup made
    // under the lock had it (two updates in the same second), then with "_2", "_3"... before the
    // extension. Records the path in the database at once, whatever becomes of the update.
    QString ClaimBackupPath(const QString& path);
    // Records this workstation as the one that brought the database to `step` and ends the lock.
    void Release(const QString& step);

private:
    void EnsureTable();

    FirebirdConnection Connection;
    QString Last;
};

// This workstation as the lock's row records it: the host name and the program folder.
QString ThisWorkstation();
