#pragma once

#include <QStringList>
#include <functional>

struct Services;
struct UpdateJournal;

// Runs the database scripts that the download left in the work folder, in their order, with isql,
// calling `advance` after each. The journal names the script that runs. A first request to stop the
// run lets the running script end (the run stops after it, in `advance`); a second one stops isql.
//
// On an embedded installation each script runs on the database file, which the backup archived.
//
// On a client/server installation every workstation shares the database, so the scripts go
// through the server, as the connection names the database, and:
// - one workstation at a time runs them (ScriptLock); having the lock, the schema step is read
//   again and the steps another workstation applied meanwhile are skipped, with a line in the log;
// - before the first script runs, the server backs the database up with gbak, in the folder the
//   settings name or beside the database; the journal and the log record the backup's path, and a
//   failed backup stops the update before any script;
// - every transaction of the scripts waits at most run.LockWaitSeconds for a locked record.
//
// False when a script, the lock or the server's backup fails: the log's reason says what failed,
// and for a script on the shared database whether the database was left unchanged or may hold
// part of the step, with the backup to restore.
bool RunScripts(const Services& services, UpdateJournal& journal, const QStringList& scripts,
                const std::function<void()>& advance);

// Whether isql may have committed part of a script before it failed: a COMMIT (or an autonomous
// transaction, or automatic commits switched on) stands before the line where isql's error output
// says it stopped, or anywhere in the script when that output names no line.
bool MayHaveCommitted(const QString& scriptText, const QString& isqlOutput);
