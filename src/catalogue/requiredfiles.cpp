#include "catalogue/requiredfiles.h"

#include "core/runstate.h"
#include "core/userinterface.h"
#include "environment/lowlevel.h"
#include "pipeline/backup.h"
#include "pipeline/httpclient.h"
#include "pipeline/journal.h"
#include "platform/executable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <deque>

namespace {

const QString MissingFileMessage = QStringLiteral("File mancante: ");
// Size queries at once to the update server: as many connections as a browser opens to one host.
constexpr int ConcurrentSizeQueries = 6;

// Removes what a killed download or backup left: files ending in ".part". A link among them is
// removed itself, never followed.
void RemovePartialFiles(const QString& folder) {
    for (const QString& name : QDir(folder).entryList({"*.part"}, QDir::Files | QDir::System))
        QFile::remove(JoinPath(folder, name));
}

// Removes the staging folder a killed rollback left; a link in its place is removed itself,
// so that no other folder is emptied through it.
void RemoveStaging() {
    const QFileInfo staging(QDir::cleanPath(StagingFolder()));
    if (staging.isDir() && !staging.isSymLink())
        QDir(staging.filePath()).removeRecursively();
    else
        QFile::remove(staging.filePath());
}

} // namespace

QString InstalledPath(const RequiredFile& file) {
    return JoinPath(JoinPath(GetProgramFolder(), file.Subfolder), file.FileName);
}

void BuildRequiredFiles(RequiredFileList& files) {
    files = {
        {Component::Velmora, "Velmora.exe", "", true},
        {Component::Velmora, "BlokSites.dll", "", true},
        {Component::Velmora, "BlokTrade.dll", "", false},
        {Component::Velmora, "FoglioStileAssoSoftware.xsl", "", false},
        {Component::Velmora, "BlokClients.dll", "", false},
        {Component::Velmora, "BlokCore.dll", "", false},
        {Component::Velmora, "BlokJobs.dll", "", false},
        {Component::Velmora, "BlokStock.dll", "", false},
        {Component::Velmora, "BlokBroker.dll", "", false},
        {Component::Velmora, "BlokPrint.dll", "", false},
        {Component::Velmora, "BlokPlanner.dll", "", false},
        {Component::Dbexpress, "dbexpida41.dll", "", false},
        {Component::Firebird, "fbclient.dll", "", false},
        {Component::Firebird, "firebird.conf", "", true},
        {Component::Firebird, "firebird.msg", "", false},
        {Component::Firebird, "gbak.exe", "", true},
        {Component::Firebird, "gfix.exe", "", true},
        {Component::Firebird, "icudt63l.dat", "", false},
        {Component::Firebird, "icudt63.dll", "", false},
        {Component::Firebird, "icuin63.dll", "", false},
        {Component::Firebird, "icuuc63.dll", "", false},
        {Component::Firebird, "isql.exe", "", true},
        {Component::Firebird, "msvcp140.dll", "", false},
        {Component::Firebird, "vcruntime140.dll", "", false},
        {Component::Firebird, "zlib1.dll", "", false},
        {Component::Firebird, "fbintl.conf", "intl", true},
        {Component::Firebird, "fbintl.dll", "intl", true},
        {Component::Firebird, "engine13.dll", "plugins", true},
        {Component::Archiver, "7za.exe", "", false},
        {Component::Mappe, "atlas.html", "", false},
        {Component::Mappe, "WebView2Loader.dll", "", false},
        {Component::Orvanto, "borlndmm.dll", "", false},
        {Component::Orvanto, "cc32c280.dll", "", false},
        {Component::Orvanto, "cc32c280mt.dll", "", false},
        {Component::Orvanto, "libeay32.dll", "", false},
        {Component::Orvanto, "midas.dll", "", false},
        {Component::Orvanto, "openssl.exe", "", false},
        {Component::Orvanto, "ssleay32.dll", "", false},
        {Component::Orvanto, UpdaterExecutableName, "", false},
    };
}

bool IsFileIncluded(const RequiredFileList& files, const QString& fileName) {
    for (const RequiredFile& file : files) {
        if (file.FileName == fileName)
            return !file.OnlyWhenInstalled || FileExists(JoinPath(GetProgramFolder(), fileName));
    }
    return false;
}

QList<quint32> GetComponentSizes(const QStringList& components, RunState& run, HttpClient& http,
                                 UserInterface& ui) {
    // A file's size as the catalogue lists it, or as the server answers a size query.
    struct Query {
        qsizetype Component;
        QString FileName;
        QString Served;
        HttpRequest Request;
        qint64 Listed = -1;

        // False when the catalogue lists the size and no query is needed.
        bool Ask(const RunState& run, const QString& served) {
            Served = served;
            Listed = run.ListedSizes.value(served, -1);
            Request = HttpRequest();
            Request.Address = run.RemoteUrl + served;
            Request.HeadOnly = true;
            return Listed < 0;
        }
        bool Answered() const { return Listed >= 0 || Request.Ok(); }
        qint64 Length() const { return Listed >= 0 ? Listed : Request.Length; }
    };
    std::deque<Query> queries;
    std::deque<HttpRequest*> queue;
    for (qsizetype component = 0; component < components.size(); ++component) {
        for (const RequiredFile& file : run.RequiredFiles) {
            if (file.ComponentName != components[component] ||
                !IsFileIncluded(run.RequiredFiles, file.FileName))
                continue;
            Query& query = queries.emplace_back(Query{component, file.FileName, {}, {}});
            const auto delta = run.Deltas.constFind(file.FileName);
            if (query.Ask(run,
                          delta != run.Deltas.constEnd() ? delta->Delta : file.FileName + ".7z"))
                queue.push_back(&query.Request);
        }
    }
    http.Run(queue, ConcurrentSizeQueries, {});
    for (Query& query : queries) {
        if (query.Answered() || !run.Deltas.contains(query.FileName))
            continue;
        run.Deltas.remove(query.FileName);
        if (query.Ask(run, query.FileName + ".7z"))
            queue.push_back(&query.Request);
    }
    http.Run(queue, ConcurrentSizeQueries, {});
    QList<quint32> sizes(components.size(), 0);
    for (const Query& query : queries) {
        if (query.Answered()) {
            sizes[query.Component] += static_cast<quint32>(query.Length() / 1024);
            run.PackageBytes.insert(query.Served, std::max<qint64>(query.Length(), 0));
        } else {
            // The server does not serve what its catalogue lists: an update of that component
            // cannot succeed until someone publishes it again.
            ui.ShowMessage(MissingFileMessage + QuoteSingle(query.FileName), MessageKind::Failure);
        }
    }
    return sizes;
}

QList<SelectedFile> SelectedFiles(const RunState& run) {
    QList<SelectedFile> selected;
    for (const ChecklistRow& row : run.Checklist) {
        if (!row.Checked)
            continue;
        for (const RequiredFile& file : run.RequiredFiles) {
            if (file.ComponentName == row.Caption &&
                IsFileIncluded(run.RequiredFiles, file.FileName))
                selected.append({row, file});
        }
    }
    return selected;
}

bool ScanWorkFolders(const RunState& run, int flags) {
    // While an update is unfinished its kept copies and its archive may still be needed.
    if (UpdateUnfinished())
        flags &= ~(2 | 4);
    if (flags & 1) {
        for (const RequiredFile& file : run.RequiredFiles) {
            const QString unpacked = JoinPath(run.CopyFolder, file.FileName);
            if (FileExists(unpacked))
                QFile::remove(unpacked);
            else if (FileExists(unpacked + ".7z"))
                QFile::remove(unpacked + ".7z");
        }
        for (const QString& script : QDir(run.CopyFolder).entryList({"*.sql"}, QDir::Files))
            QFile::remove(JoinPath(run.CopyFolder, script));
        RemovePartialFiles(run.CopyFolder);
        RemoveStaging();
    }
    if (flags & 2) {
        RemovePartialFiles(run.BackupFolder);
        ApplyBackupRetention(run.BackupFolder, QDate::currentDate());
    }
    if (flags & 4) {
        for (const RequiredFile& file : run.RequiredFiles) {
            const QString kept = KeptCopyPath(InstalledPath(file));
            if (FileExists(kept))
                QFile::remove(kept);
        }
    }
    return true;
}
