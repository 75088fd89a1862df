#pragma once

#include <QMap>
#include <QString>
#include <ostream>

class DemoSite;

// The demo installation as a rollback puts it back: the SHA-256 of every file of the program
// folder but the work folder ("Orvo/"), the kept copies (".bak"), the archiver (a rollback never
// puts it back) and the database file, whose bytes any connection changes; the database by its
// schema step and by whether script 206 added its column.
struct InstallationSnapshot {
    QMap<QString, QByteArray> Files;
    QString Schema;
    QString Column;

    bool operator==(const InstallationSnapshot&) const = default;
    friend void PrintTo(const InstallationSnapshot& snapshot, std::ostream* out);
};

InstallationSnapshot TakeSnapshot(const DemoSite& site);
