#include "pipeline/scriptlock.h"

#include "catalogue/versioni.h"
#include "core/error.h"
#include "environment/lowlevel.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QSysInfo>

namespace {

const QString LockTable = QStringLiteral("ORVANTO_AGGIORNAMENTO");

// Firebird names the transaction that a lock wait was for, in the text of a lock conflict.
const QRegularExpression
    ConcurrentTransaction(QStringLiteral("concurrent transaction number is (\\d+)"));

bool IsLockConflict(const QString& errorText) {
    return errorText.contains(ConcurrentTransaction) ||
           errorText.contains(QStringLiteral("lock time-out")) ||
           errorText.contains(QStringLiteral("deadlock"));
}

} // namespace

QString ThisWorkstation() {
    return QSysInfo::machineHostName() + " (" + GetProgramFolder() + ")";
}

ScriptLock::ScriptLock(const QString& database, int waitSeconds) {
    Connection.SetDatabase(database);
    EnsureTable();
    const QDeadlineTimer deadline(qint64(qMax(1, waitSeconds)) * 1000);
    const QString take =
        "UPDATE " + LockTable +
        " SET POSTAZIONE = POSTAZIONE WHERE ID = 1 RETURNING "
        "COALESCE(POSTAZIONE || ' il ' || "
        "SUBSTRING(CAST(QUANDO AS VARCHAR(24)) FROM 1 FOR 19) || ', passo ' || PASSO, '') "
        "AS ULTIMA";
    for (;;) {
        // Firebird waits whole seconds; the first wait is the whole time.
        const int remaining = int((deadline.remainingTime() + 999) / 1000);
        try {
            Connection.BeginTransaction(remaining);
            Last = Connection.QueryText(take, QStringLiteral("ULTIMA")).value_or(QString());
            return;
        } catch (const OrvantoError& error) {
            Connection.Rollback();
            // A holder that committed or rolled back makes the wait end early with a conflict:
            // the row is free now, and the next try takes it.
            if (!IsLockConflict(error.Message()))
                throw;
            if (deadline.hasExpired()) {
                const QString holder = Holder(error.Message());
                throw OrvantoError(
                    QStringLiteral("Un'altra postazione sta aggiornando il database da più di %1 "
                                   "s%2; riprovare più tardi.")
                        .arg(waitSeconds)
                        .arg(holder.isEmpty() ? QString() : " (" + holder + ")"));
            }
        }
    }
}

void ScriptLock::EnsureTable() {
    const QString exists =
        "SELECT COUNT(*) AS N FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = '" + LockTable + "'";
    const QString hasRows = "SELECT COUNT(*) AS N FROM " + LockTable + " WHERE ID IN (1, 2)";
    // Two workstations may create it at once: the one that loses finds it made by the other.
    try {
        if (Connection.QueryText(exists, QStringLiteral("N")) == QStringLiteral("0"))
            Connection.Execute("CREATE TABLE " + LockTable +
                               " (ID INTEGER NOT NULL PRIMARY KEY, POSTAZIONE VARCHAR(250), "
                               "PASSO VARCHAR(40), QUANDO TIMESTAMP, COPIA VARCHAR(1000))");
    } catch (const OrvantoError&) {
        if (Connection.QueryText(exists, QStringLiteral("N")) == QStringLiteral("0"))
            throw;
    }
    try {
        if (Connection.QueryText(hasRows, QStringLiteral("N")) != QStringLiteral("2"))
            Connection.Execute("INSERT INTO " + LockTable +
                               " (ID) SELECT 1 FROM RDB$DATABASE "
                               "WHERE NOT EXISTS (SELECT 1 FROM " +
                               LockTable +
                               " WHERE ID = 1) UNION ALL SELECT 2 FROM RDB$DATABASE WHERE NOT "
                               "EXISTS (SELECT 1 FROM " +
                               LockTable + " WHERE ID = 2)");
    } catch (const OrvantoError&) {
        if (Connection.QueryText(hasRows, QStringLiteral("N")) != QStringLiteral("2"))
            throw;
    }
}

QString ScriptLock::SchemaStep() {
    return Connection.QueryText(SchemaVersionStatement, QStringLiteral("VER"))
        .value_or(QString())
        .trimmed();
}

QString ScriptLock::DatabaseFile() {
    return Connection
        .QueryText(QStringLiteral("SELECT MON$DATABASE_NAME AS F FROM MON$DATABASE"),
                   QStringLiteral("F"))
        .value_or(QString())
        .trimmed();
}

QString ScriptLock::Holder(const QString& errorText) {
    const QRegularExpressionMatch match = ConcurrentTransaction.match(errorText);
    if (!match.hasMatch())
        return {};
    try {
        // A transaction of its own, so that the server's monitoring tables are read afresh.
        FirebirdConnection monitor;
        monitor.SetDatabase(Connection.Database());
        return monitor
            .QueryText("SELECT 'utente ' || TRIM(A.MON$USER) || ', indirizzo ' || "
                       "COALESCE(A.MON$REMOTE_ADDRESS, 'il server stesso') || ', programma ' || "
                       "COALESCE(A.MON$REMOTE_PROCESS, 'sconosciuto') AS CHI "
                       "FROM MON$TRANSACTIONS T JOIN MON$ATTACHMENTS A "
                       "ON A.MON$ATTACHMENT_ID = T.MON$ATTACHMENT_ID "
                       "WHERE T.MON$TRANSACTION_ID = " +
                           match.captured(1),
                       QStringLiteral("CHI"))
            .value_or(QString());
    } catch (const OrvantoError&) {
        return {};
    }
}

QString ScriptLock::ClaimBackupPath(const QString& path) {
    const QString last =
        Connection
            .QueryText("SELECT COALESCE(COPIA, '') AS C FROM " + LockTable + " WHERE ID = 2",
                       QStringLiteral("C"))
            .value_or(QString());
    const qsizetype dot = path.lastIndexOf('.');
    const QString stem = dot > 0 ? path.left(dot) : path;
    const QString extension = dot > 0 ? path.mid(dot) : QString();
    QString claimed = path;
    if (last == path) {
        claimed = stem + "_2" + extension;
    } else if (last.startsWith(stem + "_") && last.endsWith(extension)) {
        bool number = false;
        const int used = last.mid(stem.size() + 1, last.size() - stem.size() - 1 - extension.size())
                             .toInt(&number);
        if (number)
            claimed = stem + "_" + QString::number(used + 1) + extension;
    }
    // Recorded in a transaction of its own: the lock's row stays uncommitted.
    FirebirdConnection recorder;
    recorder.SetDatabase(Connection.Database());
    recorder.Execute("UPDATE " + LockTable + " SET COPIA = " + QuoteSingle(claimed) +
                     " WHERE ID = 2");
    return claimed;
}

void ScriptLock::Release(const QString& step) {
    Connection.Execute(
        "UPDATE " + LockTable + " SET POSTAZIONE = " + QuoteSingle(ThisWorkstation().left(250)) +
        ", PASSO = " + QuoteSingle(step.left(40)) + ", QUANDO = CURRENT_TIMESTAMP WHERE ID = 1");
    Connection.Commit();
}
