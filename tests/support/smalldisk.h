#pragma once

#include <QString>

// A small tmpfs mounted on a folder for the life of the object, to make a disk really full.
// Mounting needs root; Mounted() is false where it cannot be done.
class SmallDisk {
public:
    SmallDisk(const QString& folder, int kilobytes);
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    ~SmallDisk();

    bool Mounted() const { return IsMounted; }
    // Takes every free byte with a filler file; Free() gives it back.
    void Fill() const;
    void Free() const;

private:
    QString Folder;
    bool IsMounted = false;
};
