#pragma once

#include <QString>

struct Services;

// Fetches, tests and unpacks into the work folder one package per taking-part file of every
// ticked component: ticked rows from the first, each row's files in list order. Counts the
// packages in DownloadedCount. False as soon as one package fails, or on any error; the packages
// already unpacked stay in the work folder.
bool DownloadUpdates(const Services& services);

// Fetches the package of a file into the work folder, tests it, unpacks it there and deletes it.
// A package that fails its test, its unpacking, its deletion or its checksum is fetched again,
// four times in all, then named in a message. A failed transfer or a package file that cannot be
// written ends at once, without a message. True when the file was unpacked.
bool DownloadPackage(const Services& services, const QString& fileName);
