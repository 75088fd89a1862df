// check-bench [ROUNDS]: times a full update check with "Mostra tutto" (every component listed,
// one HEAD request per package) against a local nginx, and beside it the time curl needs for the
// same GET and HEAD requests over one connection.

#include "catalogue/requiredfiles.h"
#include "catalogue/updatecheck.h"
#include "support/updatesite.h"

#include <QElapsedTimer>
#include <QProcess>
#include <cstdio>

namespace {

double MillisecondsPerRound(int rounds, const std::function<void()>& round) {
    round(); // warm-up: connections, caches, the database's first attachment
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        round();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6 / rounds;
}

} // namespace

int main(int argc, char* argv[]) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    UpdateSite site;
    site.WriteCatalogue(
        "[VERSIONI]\nOrvanto=1.7.2\nVelmora=3.12.0\n7za=26.0\nDbexpress=7.0\nMappe=2.0\n"
        "Schema database=207\nFirebird=9.0\n");
    site.Install.WriteFile("Velmora/Velmora.exe", "installed");
    QStringList heads;
    for (const RequiredFile& file : site.Run.RequiredFiles) {
        site.WriteServed(file.FileName + ".7z", QByteArray(64 * 1024, 'p'));
        if (IsFileIncluded(site.Run.RequiredFiles, file.FileName))
            heads.append(site.Run.RemoteUrl + file.FileName + ".7z");
    }
    for (const char* script : {"modifiche206.sql", "modifiche207.sql"}) {
        site.WriteServed(QString(script) + ".7z", QByteArray(4096, 's'));
        heads.append(site.Run.RemoteUrl + script + ".7z");
    }
    site.Run.ShowAll = true;

    const double ours =
        MillisecondsPerRound(rounds, [&site] { ActionControllaExecute(site.Steps); });

    QStringList curlArguments{"-s", "-o", "/dev/null", site.Run.RemoteUrl + "update.ini"};
    for (const QString& head : heads)
        curlArguments << "--next"
                      << "-s"
                      << "-I"
                      << "-o"
                      << "/dev/null" << head;
    const double curl = MillisecondsPerRound(
        rounds, [&curlArguments] { QProcess::execute("curl", curlArguments); });

    std::printf("update check with \"Mostra tutto\": 1 GET + %lld HEAD requests, %zu rows\n",
                static_cast<long long>(heads.size()),
                static_cast<size_t>(site.Run.Checklist.size()));
    std::printf("  Orvanto check : %8.2f ms per check (mean of %d)\n", ours, rounds);
    std::printf("  curl, same    : %8.2f ms per run (one connection, process start included)\n",
                curl);
    std::printf("  ratio         : %8.2f (target at most 1.5)\n", ours / curl);
    return 0;
}
