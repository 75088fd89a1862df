#include "pipeline/scripts.h"

#include "catalogue/catalogue.h"
#include "catalogue/runstate.h"
#include "catalogue/services.h"
#include "core/error.h"
#include "core/filesystem.h"
#include "core/runlog.h"
#include "core/stoprequest.h"
#include "environment/databaseconnection.h"
#include "environment/lowlevel.h"
#include "environment/serverbackup.h"
#include "pipeline/commandrunner.h"
#include "pipeline/journal.h"
#include "pipeline/scriptlock.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// Runs one script with isql; the failure, or nothing. A first request to stop lets the script
// end: cut short, it could leave part of a schema step committed on a shared database.
std::optional<QString> RunScript(const RunState& run, const QString& script,
                                 const QString& database) {
    const StopShield shield;
    QString failure;
    if (RunCommand(ScriptCommand(run.IsqlCommand, script, database), nullptr, &failure) == 0)
        return std::nullopt;
    return failure;
}

// The script isql is given on the shared database: it bounds the lock waits of every transaction,
// the ones after each COMMIT too, then reads the downloaded script (whose lines isql's messages
// then count).
QString ScriptWithLockWaits(FileSystem& files, const RunState& run, const QString& script) {
    const QString wrapper = script + ".avvio";
    files.WriteFile(wrapper, ("SET KEEP_TRAN_PARAMS ON;\n"
                              "SET TRANSACTION WAIT LOCK TIMEOUT " +
                              QString::number(qMax(1, run.LockWaitSeconds)) +
                              ";\n"
                              "INPUT " +
                              QuoteSingle(script) + ";\n")
                                 .toUtf8());
    return wrapper;
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// What the administrator is told when a script failed on the shared database.
QString SharedScriptFailure(const QString& name, const QString& failure, bool committed,
                            const QStringList& applied, const QString& holder,
                            const QString& backup) {
    const long long step = ScriptStep(name);
    QString text = "Lo script di database " + name + " (passo " + QString::number(step) +
                   ") non è riuscito sul database del server: " + failure + "\n";
    if (!holder.isEmpty())
        text += "Il database era occupato da: " + holder + ".\n";
    if (!applied.isEmpty())
        text += "I passi " + applied.join(QStringLiteral(", ")) +
                " sono stati applicati per intero al database.\n";
    if (committed)
        text += "Lo script aveva confermato (COMMIT) delle modifiche prima dell'errore: il "
                "database può contenere una parte del passo " +
                QString::number(step) +
                ". I programmi di questa postazione sono stati riportati alla versione "
                "precedente. Prima di usare Velmora o di aggiornare di nuovo, l'amministratore "
                "ripristini sul server la copia del database " +
                backup + " (istruzioni nel README, sezione \"Client/server\").";
    else
        text += "Lo script non aveva confermato nulla: isql ha annullato il suo lavoro e il "
                "database non è stato modificato da questo script. I programmi di questa "
                "postazione sono stati riportati alla versione precedente. Copia del database "
                "fatta prima degli script, sul server: " +
                backup + ".";
    return text;
}

bool RunSharedScripts(const Services& services, UpdateJournal& journal, const QStringList& scripts,
                      const std::function<void()>& advance) {
    RunState& run = services.Run;
    RunLog& log = services.Log;
    const QString database = services.Connection.Database();
    std::optional<ScriptLock> lock;
    QStringList remaining;
    try {
        log.TimedStep(QStringLiteral("attesa del turno sul database condiviso"), [&] {
            lock.emplace(database, run.LockWaitSeconds);
            return true;
        });
        const QString step = lock->SchemaStep();
        bool whole = false;
        const long long current = step.toLongLong(&whole);
        if (!whole)
            throw OrvantoError("Il passo del database sul server, '" + step +
                               "', non è un numero intero");
        QStringList skipped;
        for (const QString& script : scripts)
            (ScriptStep(script) > current ? remaining : skipped).append(script);
        if (!skipped.isEmpty())
            log.Write("Script di database già applicati da un'altra postazione (il database è al "
                      "passo " +
                      step + "; ultimo aggiornamento: " +
                      (lock->LastWorkstation().isEmpty() ? QStringLiteral("non registrato")
                                                         : lock->LastWorkstation()) +
                      "): " + skipped.join(QStringLiteral(", ")));
        if (!remaining.isEmpty() && ScriptStep(remaining.first()) != current + 1)
            throw OrvantoError("Il database sul server è al passo " + step +
                               ", gli script scaricati partono dal passo " +
                               QString::number(ScriptStep(remaining.first())) +
                               ": ripetere il controllo degli aggiornamenti");
        for (qsizetype i = 0; i < skipped.size(); ++i)
            advance();
        if (remaining.isEmpty())
            return true;
        const QString stamp = QFileInfo(journal.Archive).completeBaseName();
        journal.ServerBackup = lock->ClaimBackupPath(
            ServerBackupPath(lock->DatabaseFile(), run.ServerBackupFolder, stamp));
        WriteJournal(services.Files, journal);
        if (!log.TimedStep("copia del database sul server in " + journal.ServerBackup, [&] {
                BackUpOnServer(SplitServerDatabase(database), journal.ServerBackup);
                return true;
            }))
            return false;
    } catch (const OrvantoError& error) {
        log.Reason(error.Message());
        return false;
    }

    QStringList applied;
    for (const QString& name : remaining) {
        const QString source = JoinPath(run.CopyFolder, name);
        const QString wrapper = ScriptWithLockWaits(services.Files, run, source);
        journal.RunningScript = name;
        WriteJournal(services.Files, journal);
        const std::optional<QString> failure = RunScript(run, wrapper, database);
        services.Files.Remove(wrapper);
        if (failure) {
            log.Reason(SharedScriptFailure(name, *failure,
                                           MayHaveCommitted(ReadText(source), *failure), applied,
                                           lock->Holder(*failure), journal.ServerBackup));
            return false;
        }
        applied.append(QString::number(ScriptStep(name)));
        journal.RunningScript.clear();
        WriteJournal(services.Files, journal);
        advance();
    }
    try {
        lock->Release(applied.last());
    } catch (const OrvantoError& error) {
        // The scripts are committed; only the record of who ran them is lost.
        log.Write("Registrazione della postazione nel database non riuscita: " + error.Message());
    }
    return true;
}

} // namespace

bool RunScripts(const Services& services, UpdateJournal& journal, const QStringList& scripts,
                const std::function<void()>& advance) {
    if (scripts.isEmpty())
        return true;
    RunState& run = services.Run;
    if (!IsEmbeddedConnection(&services.Connection))
        return RunSharedScripts(services, journal, scripts, advance);
    for (const QString& name : scripts) {
        journal.RunningScript = name;
        WriteJournal(services.Files, journal);
        if (const std::optional<QString> failure =
                RunScript(run, JoinPath(run.CopyFolder, name), run.DatabasePath)) {
            services.Log.Reason("Script " + name + ": " + *failure);
            return false;
        }
        journal.RunningScript.clear();
        WriteJournal(services.Files, journal);
        advance();
    }
    return true;
}

bool MayHaveCommitted(const QString& scriptText, const QString& isqlOutput) {
    static const QRegularExpression stopped(QStringLiteral("(At|After) line (\\d+) in file"));
    static const QRegularExpression commits(
        QStringLiteral("\\bCOMMIT\\b|\\bAUTONOMOUS\\b|\\bSET\\s+AUTO\\w*\\b(?!\\s+OFF\\b)"),
        QRegularExpression::CaseInsensitiveOption);
    // Comments and quoted texts hold no statement.
    static const QRegularExpression inert(QStringLiteral("/\\*.*?\\*/|--[^\\n]*|'(?:[^']|'')*'"),
                                          QRegularExpression::DotMatchesEverythingOption);
    QString before = scriptText;
    QRegularExpressionMatch last;
    for (const QRegularExpressionMatch& match : stopped.globalMatch(isqlOutput))
        last = match;
    if (last.hasMatch()) {
        // "At line N": the failed statement begins there; "After line N": it follows that line.
        const int lines = last.captured(2).toInt() - (last.captured(1) == "At" ? 1 : 0);
        before = scriptText.section('\n', 0, qMax(0, lines) - 1);
        if (lines <= 0)
            before.clear();
    }
    // Line breaks stay, so that comments end where they end in the script.
    return before.replace(inert, QStringLiteral(" ")).contains(commits);
}
