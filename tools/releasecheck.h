#pragma once

#include <QString>
#include <QStringList>

// What the maker asked to publish, as read from the command line.
struct PublishRequest {
    QString ReleaseFolder;
    QString ServerFolder;
    // "COMPONENT=VERSION" as given.
    QStringList Versions;
    QStringList PreviousReleases;
    QString SecretKey;
};

// Every problem of the request that would publish a release installations cannot use, one line
// each naming the item: a version that is not "COMPONENT=VERSION", an unknown component, a
// version the updater cannot compare, no version at all, a schema step without its scripts (every
// step after the one the live catalogue offers), a file of a published component missing from
// the release, a previous release or a key file that does not exist. Empty when it can go ahead.
QStringList CheckRequest(const PublishRequest& request);

// The schema step that the catalogue in the server folder offers, or -1 when none.
long long PublishedSchemaStep(const QString& serverFolder);
