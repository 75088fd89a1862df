#include "releasecheck.h"

#include "catalogue/catalogue.h"
#include "catalogue/requiredfiles.h"
#include "environment/inifile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QStringList KnownComponents = {Component::Orvanto,   Component::Velmora, Component::Archiver,
                                     Component::Dbexpress, Component::Mappe,   Component::Schema,
                                     Component::Firebird};

// Dotted decimal parts, as the updater compares them; the schema step is one whole number.
bool IsComparableVersion(const QString& component, const QString& version) {
    static const QRegularExpression dotted(QStringLiteral("^[0-9]+(\\.[0-9]+)*$"));
    static const QRegularExpression whole(QStringLiteral("^[0-9]{1,9}$"));
    return (component == Component::Schema ? whole : dotted).match(version).hasMatch();
}

// The scripts that take installations from the published step to the new one.
void CheckScripts(const PublishRequest& request, long long step, QStringList& problems) {
    const long long published = PublishedSchemaStep(request.ServerFolder);
    if (published > step) {
        problems.append(QStringLiteral("%1=%2: il catalogo pubblicato offre già il passo %3")
                            .arg(Component::Schema)
                            .arg(step)
                            .arg(published));
        return;
    }
    const QDir release(request.ReleaseFolder);
    for (long long next = published < 0 ? step : published + 1; next <= step; ++next) {
        if (!QFileInfo(release.absoluteFilePath(ScriptFileName(next))).isFile())
            problems.append("manca lo script " + ScriptFileName(next) + " nella cartella " +
                            release.path() + " per " + Component::Schema + "=" +
                            QString::number(step));
    }
}

// Every file of the component that each installation takes from the server.
void CheckComponentFiles(const PublishRequest& request, const QString& component,
                         QStringList& problems) {
    RequiredFileList files;
    BuildRequiredFiles(files);
    const QDir release(request.ReleaseFolder);
    for (const RequiredFile& file : files) {
        if (file.ComponentName == component && !file.OnlyWhenInstalled &&
            !QFileInfo(release.absoluteFilePath(file.FileName)).isFile())
            problems.append("manca il file " + file.FileName + " di " + component +
                            " nella cartella " + release.path());
    }
}

} // namespace

long long PublishedSchemaStep(const QString& serverFolder) {
    const IniFile catalogue(QDir(serverFolder).absoluteFilePath(CatalogueFileName));
    bool number = false;
    const long long step =
        catalogue.ReadString(CatalogueSection, Component::Schema, QString()).toLongLong(&number);
    return number ? step : -1;
}

QStringList CheckRequest(const PublishRequest& request) {
    QStringList problems;
    const bool releaseExists = QFileInfo(request.ReleaseFolder).isDir();
    if (!releaseExists)
        problems.append("la cartella di rilascio non esiste: " + request.ReleaseFolder);
    for (const QString& folder : request.PreviousReleases) {
        if (!QFileInfo(folder).isDir())
            problems.append("la cartella del rilascio precedente non esiste: " + folder);
    }
    if (!request.SecretKey.isEmpty() && !QFileInfo(request.SecretKey).isFile())
        problems.append("il file della chiave segreta non esiste: " + request.SecretKey);
    if (request.Versions.isEmpty())
        problems.append(QStringLiteral("nessuna versione da pubblicare (COMPONENTE=VERSIONE)"));
    QStringList seen;
    for (const QString& entry : request.Versions) {
        const QString component = entry.section('=', 0, 0);
        const QString version = entry.section('=', 1);
        if (!entry.contains('='))
            problems.append("versione senza '=': " + entry);
        else if (!KnownComponents.contains(component))
            problems.append("componente sconosciuto: " + component +
                            " (noti: " + KnownComponents.join(QStringLiteral(", ")) + ")");
        else if (seen.contains(component))
            problems.append("componente indicato due volte: " + component);
        else if (!IsComparableVersion(component, version))
            problems.append("versione non confrontabile per " + component + ": '" + version +
                            (component == Component::Schema ? QStringLiteral("' (un numero intero)")
                                                            : QStringLiteral("' (numeri separati "
                                                                             "da punti)")));
        else if (releaseExists) {
            if (component == Component::Schema)
                CheckScripts(request, version.toLongLong(), problems);
            else
                CheckComponentFiles(request, component, problems);
        }
        seen.append(component);
    }
    return problems;
}
