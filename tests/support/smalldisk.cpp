#include "support/smalldisk.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <unistd.h>

namespace {

const QString FillerName = QStringLiteral(".filler");

bool Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

SmallDisk::SmallDisk(const QString& folder, int kilobytes) : Folder(folder) {
    QDir().mkpath(folder);
    IsMounted =
        ::geteuid() == 0 &&
        Run("mount", {"-t", "tmpfs", "-o", QString("size=%1k").arg(kilobytes), "tmpfs", folder});
}

SmallDisk::~SmallDisk() {
    if (IsMounted)
        Run("umount", {"-l", Folder});
}

void SmallDisk::Fill() const {
    QFile filler(Folder + "/" + FillerName);
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size()) {
    }
    // Smaller pieces take what the blocks left.
    while (filler.write("f", 1) == 1) {
    }
}

void SmallDisk::Free() const {
    QFile::remove(Folder + "/" + FillerName);
}
