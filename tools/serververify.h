#pragma once

#include <QString>
#include <QStringList>

// What the maker asks the verifier to look at: the served folder or its address, the public key
// that installations trust (the base64 line, or a minisign .pub file), and older releases, whose
// files let the deltas be rebuilt.
struct VerifyRequest {
    QString Source;
    QString PublicKey;
    QStringList PreviousReleases;
};

// Reads the update server as an installation does (over HTTP(S) with the updater's own client for
// an address): the catalogue and its signature, every package and delta. Prints one line per
// problem and a summary; returns the number of problems (0 when every installation would update
// correctly), or -1 when the catalogue itself cannot be read.
int VerifyServer(const VerifyRequest& request);
