#include "catalogue/componentfiles.h"

#include "catalogue/runstate.h"
#include "core/userinterface.h"
#include "environment/lowlevel.h"
#include "net/httpclient.h"

#include <algorithm>
#include <deque>

namespace {

const QString MissingFileMessage = QStringLiteral("File mancante: ");
// Size queries at once to the update server: as many connections as a browser opens to one host.
constexpr int ConcurrentSizeQueries = 6;

} // namespace

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
