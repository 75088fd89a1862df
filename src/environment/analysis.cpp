#include "environment/analysis.h"

#include "environment/aliasfile.h"
#include "environment/databaseconnection.h"
#include "environment/installationstate.h"
#include "environment/lowlevel.h"

#include <QDir>
#include <QStandardPaths>

namespace {

const QString NotAvailable = QStringLiteral("N/D");

// The first "*.fdb" plain file of the folder, by name, that is not a security database.
QString FirstDatabaseIn(const QString& folder) {
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("*.fdb")}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (!name.startsWith(QStringLiteral("security"), Qt::CaseInsensitive))
            return name;
    }
    return {};
}

} // namespace

QString FindIsqlCommand(const QString& firebirdFolder) {
    const QString binFolder =
        firebirdFolder.isEmpty() ? QString() : JoinPath(firebirdFolder, "bin/");
    QString command = JoinPath(binFolder, QStringLiteral("isql"));
    if (!FileExists(command)) {
        command = QStandardPaths::findExecutable(QStringLiteral("isql-fb"));
        if (command.isEmpty())
            command = QStandardPaths::findExecutable(QStringLiteral("isql"));
    }
    return command.isEmpty() ? QString() : QuoteIfSpaced(command);
}

void AnalyseEnvironment(InstallationState& run, const FirebirdConnection& connection,
                        const LogSink& log) {
    InstallationInfo& info = run.Info;
    log(QStringLiteral("Inizio analisi ambiente"));
    info.ApplicationPath = GetProgramFolder();
    log("Percorso applicazione " + info.ApplicationPath);
    run.DatabasePath = ResolveAliasPath(info.ApplicationPath, run.DatabaseAlias, log);
    if (run.DatabasePath.isEmpty()) {
        log(QStringLiteral("Ricerca DB nella cartella dell'applicazione"));
        run.DatabasePath = FirstDatabaseIn(info.ApplicationPath);
        log(run.DatabasePath.isEmpty() ? QStringLiteral("  Non individuato")
                                       : "  Individuato (" + run.DatabasePath + ")");
    }
    log(QStringLiteral("Identificazione cartella Firebird"));
    const QString firebirdFolder = GetFirebirdFolder();
    log(firebirdFolder.isEmpty() ? QStringLiteral("  Non individuata")
                                 : "  Individuata (" + firebirdFolder + ")");
    if (run.DatabasePath.isEmpty() && !firebirdFolder.isEmpty())
        run.DatabasePath = ResolveAliasPath(firebirdFolder, run.DatabaseAlias, log);

    log(QStringLiteral("Identificazione tipo installazione"));
    info.EmbeddedState = IsEmbeddedConnection(&connection) ? 2 : 0;
    log(run.Embedded() ? QStringLiteral("  Embedded") : QStringLiteral("  Client/Server"));

    log(QStringLiteral("Identificazione comando ISQL"));
    run.IsqlCommand = FindIsqlCommand(firebirdFolder);
    log(run.IsqlCommand.isEmpty() ? QStringLiteral("  Non disponibile")
                                  : "  Disponibile (" + run.IsqlCommand + ")");

    info.FirebirdDirectory = firebirdFolder.isEmpty() ? NotAvailable : firebirdFolder;
    info.ArchivioPos = run.DatabasePath;
    info.ComandoIsql = run.IsqlCommand.isEmpty() ? NotAvailable : run.IsqlCommand;
}
