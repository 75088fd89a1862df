#pragma once

#include <QString>

struct Services;

// Fetches, tests and unpacks into the work folder one package per taking-part file of every
// ticked component: ticked rows from the first, each row's files in list order. Up to four
// packages travel at once and each is unpacked as soon as it is complete; the outcome is that of
// fetching them one after another. Counts the packages in DownloadedCount. False when one package
// fails, or on any error; the packages unpacked before it stay in the work folder.
bool DownloadUpdates(const Services& services);

// Fetches the package of a file into the work folder, tests it, unpacks it there and deletes it.
// A package that fails its test, its unpacking, its deletion or its checksum is fetched again,
// four times in all, then named in a message. A transfer that breaks part-way is resumed from
// where it stopped (or started again when the server cannot resume it) within the same four
// attempts. Any other failed transfer, or a package file that cannot be written, ends at once,
// without a message. True when the file was unpacked.
bool DownloadPackage(const Services& services, const QString& fileName);
