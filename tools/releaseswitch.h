#pragma once

#include <QString>

// The update server's folder as a link to one complete release. A publication builds the new
// release in a folder of its own beside the server folder ("NAME.rilasci/STAMP"), then switches
// the link in one rename, so a client sees the old release or the new one, never a mix of both.
// The release that was live stays until the next publication, for transfers still running; older
// ones are removed. A server folder that is still a real folder is swapped with the link in one
// step and kept as the previous release.
class ReleaseSwitch {
public:
    // Makes the new release's folder; throws OrvantoError when it cannot.
    explicit ReleaseSwitch(const QString& serverFolder);
    // Removes the new folder, and the releases folder it made, when the release was not switched
    // in.
    ~ReleaseSwitch();
    ReleaseSwitch(const ReleaseSwitch&) = delete;
    ReleaseSwitch& operator=(const ReleaseSwitch&) = delete;

    // Where the new release is built.
    const QString& NewFolder() const { return Fresh; }
    // The folder served until now, resolved; empty when nothing was published yet.
    const QString& LiveFolder() const { return Live; }

    // Makes every file of the new release readable by the web server (0644, folder 0755), writes
    // them to the disk, then makes the new release the served one and removes releases older
    // than the one it replaces. Throws OrvantoError naming the path when a step fails.
    void Switch();

private:
    QString Server;
    QString Releases;
    QString Fresh;
    QString Live;
    bool Switched = false;
};
