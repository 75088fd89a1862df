#pragma once

#include <QString>

// A database parameter of the form "server:database" split in two: the server as the client
// library reaches it ("host" or "host/port") and the database as that server knows it (an alias or
// a path on the server).
struct ServerDatabase {
    QString Server;
    QString Database;
};
ServerDatabase SplitServerDatabase(const QString& parameter);

// The backup file on the server for an update whose archive of files has the given stamp
// ("yymmdd_hhnnss"): in the folder given, or when none beside the database file, named after the
// database file and the stamp ("maindb_261211_101500.fbk"). The folder and the database's path
// are the server's, with its kind of separator.
QString ServerBackupPath(const QString& databaseFile, const QString& folder, const QString& stamp);

// Asks the server's service manager to back the database up with gbak into `backupFile`, a path
// on the server, and waits for the end; users may go on working meanwhile. Throws OrvantoError
// with the server's reason when the backup cannot be made.
void BackUpOnServer(const ServerDatabase& database, const QString& backupFile);
