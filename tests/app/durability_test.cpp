#include "support/demosite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

// The order in which an update and a rollback make their changes durable, read from a trace of
// the real updater and its children (7za, isql): a power cut at any moment must find what the
// journal says. No file is renamed into the installation before its data is on the disk, and no
// journal step is taken after a change of a folder of the installation that is not yet synced.

namespace {

// What the trace shows, and what it breaks.
struct Order {
    int Renames = 0;
    int JournalSteps = 0;
    QStringList Broken;
};

QString FolderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

// The path in an argument: a quoted string, or a descriptor that -y annotates ("5</a/b>").
QString PathOf(const QString& argument) {
    static const QRegularExpression quoted(R"re(^\s*"((?:[^"\\]|\\.)*)")re");
    static const QRegularExpression annotated(R"re(^\s*-?\d+<(.*)>\s*$)re");
    QRegularExpressionMatch match = quoted.match(argument);
    if (match.hasMatch())
        return match.captured(1);
    match = annotated.match(argument);
    return match.hasMatch() ? match.captured(1) : QString();
}

// Splits a call's arguments at the commas outside quotes and angle brackets.
QStringList Arguments(const QString& text) {
    QStringList parts;
    QString current;
    bool quoted = false;
    int angles = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '\\' && quoted && i + 1 < text.size()) {
            current += c;
            current += text[++i];
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == '<')
            ++angles;
        else if (!quoted && c == '>' && angles > 0)
            --angles;
        if (c == ',' && !quoted && angles == 0) {
            parts.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.append(current);
    return parts;
}

Order ReadOrder(const QString& trace, const QString& programFolder) {
    QFile file(trace);
    Order order;
    if (!file.open(QIODevice::ReadOnly)) {
        order.Broken.append("no trace");
        return order;
    }
    const QString installation = QDir::cleanPath(programFolder);
    const QString orvo = installation + "/Orvo";
    const QString journal = orvo + "/aggiornamento-in-corso.ini";
    // A folder whose names are part of what the journal describes: the installation's folders
    // and the backup folder; the work, staging and Orvo folders themselves are not.
    const auto watched = [&](const QString& folder) {
        return folder == installation || folder == orvo + "/Backup" ||
               (folder.startsWith(installation + "/") && !folder.startsWith(orvo));
    };
    QSet<QString> unsyncedData;
    QSet<QString> unsyncedFolders;
    QMap<QString, QString> pending;
    static const QRegularExpression line(R"re(^(\d+)\s+(.*)$)re");
    static const QRegularExpression unfinished(R"re(^(.*) <unfinished \.\.\.>$)re");
    static const QRegularExpression resumed(R"re(^<\.\.\. \w+ resumed>(.*)$)re");
    static const QRegularExpression call(R"re(^(\w+)\((.*)\)\s+=\s+(-?\d+)(?:<.*>)?(.*)$)re");
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    for (int index = 0; index < lines.size(); ++index) {
        QRegularExpressionMatch match = line.match(lines[index]);
        if (!match.hasMatch())
            continue;
        const QString pid = match.captured(1);
        QString text = match.captured(2);
        if (const QRegularExpressionMatch cut = unfinished.match(text); cut.hasMatch()) {
            pending[pid] = cut.captured(1);
            continue;
        }
        if (const QRegularExpressionMatch rest = resumed.match(text); rest.hasMatch())
            text = pending.take(pid) + rest.captured(1);
        match = call.match(text);
        if (!match.hasMatch() || match.captured(3).toLongLong() < 0)
            continue;
        const QString name = match.captured(1);
        const QStringList arguments = Arguments(match.captured(2));
        const auto at = [&](int i) {
            return i < arguments.size() ? PathOf(arguments[i]) : QString();
        };
        const QString where = QString(" (line %1: %2)").arg(index + 1).arg(text.left(200));
        if (name == "write" || name == "pwrite64" || name == "writev" || name == "pwritev" ||
            name == "ftruncate") {
            unsyncedData.insert(at(0));
        } else if (name == "fsync" || name == "fdatasync") {
            unsyncedData.remove(at(0));
            unsyncedFolders.remove(at(0));
        } else if (name == "openat") {
            if (match.captured(2).contains("O_CREAT"))
                unsyncedFolders.insert(FolderOf(at(1)));
        } else if (name == "rename" || name == "renameat" || name == "renameat2" ||
                   name == "link" || name == "linkat") {
            const bool at2 = name.endsWith("at") || name == "renameat2";
            const QString from = at2 ? at(1) : at(0);
            const QString to = at2 ? at(3) : at(1);
            if (name.startsWith("rename")) {
                // 7za's own temporary archive (".part.tmp" to ".part") is no name that the
                // journal or the installation uses; the archive is synced before its real name.
                if ((watched(FolderOf(to)) && !to.endsWith(".part")) || to == journal) {
                    ++order.Renames;
                    if (unsyncedData.contains(from))
                        order.Broken.append("renamed before its data was synced: " + from + " -> " +
                                            to + where);
                }
                if (unsyncedData.remove(from))
                    unsyncedData.insert(to);
                unsyncedFolders.insert(FolderOf(from));
            }
            unsyncedFolders.insert(FolderOf(to));
            if (to == journal) {
                ++order.JournalSteps;
                for (const QString& folder : unsyncedFolders) {
                    if (watched(folder))
                        order.Broken.append(
                            "journal written before this folder was synced: " + folder + where);
                }
            }
        } else if (name == "unlink" || name == "unlinkat") {
            const QString path = name == "unlinkat" ? at(1) : at(0);
            unsyncedData.remove(path);
            unsyncedFolders.insert(FolderOf(path));
            if (path == journal) {
                ++order.JournalSteps;
                for (const QString& folder : unsyncedFolders) {
                    if (watched(folder))
                        order.Broken.append(
                            "journal removed before this folder was synced: " + folder + where);
                }
            }
        }
    }
    return order;
}

Order TracedUpdate(const DemoSite& site, int expectedExit) {
    QTemporaryDir folder;
    const QString trace = folder.filePath("trace");
    const DemoSite::Result update = site.Run(
        {"--update"},
        {"strace", "-f", "-y", "-qq", "-o", trace, "-e",
         "trace=fsync,fdatasync,rename,renameat,renameat2,link,linkat,openat,write,pwrite64,"
         "writev,pwritev,ftruncate,unlink,unlinkat"});
    EXPECT_EQ(update.ExitCode, expectedExit) << update.Errors.toStdString();
    const Order order = ReadOrder(trace, site.ProgramFolder());
    std::printf("Traced: %d renames into the installation or the journal, %d journal steps\n",
                order.Renames, order.JournalSteps);
    return order;
}

} // namespace

TEST(Durability, AnUpdateMakesEveryFileDurableBeforeItsNameAndEveryNameBeforeTheJournal) {
    DemoSite site;
    const Order order = TracedUpdate(site, 0);
    EXPECT_GE(order.Renames, 10) << "the renames into the installation were seen";
    EXPECT_GE(order.JournalSteps, 4);
    EXPECT_TRUE(order.Broken.isEmpty()) << order.Broken.join('\n').toStdString();
}

TEST(Durability, ARollbackMakesEveryFileDurableBeforeItsNameAndEveryNameBeforeTheJournal) {
    DemoSite site;
    site.PublishFailingScript();
    const Order order = TracedUpdate(site, 4);
    EXPECT_GE(order.Renames, 20) << "the update's and the rollback's renames were seen";
    EXPECT_GE(order.JournalSteps, 4);
    EXPECT_TRUE(order.Broken.isEmpty()) << order.Broken.join('\n').toStdString();
}
