#include "platform/knownfolders.h"

#include <QDir>
#include <QFileInfo>
#include <firebird/Interface.h>

namespace {

QString Environment(const char* name) {
    return qEnvironmentVariable(name);
}

} // namespace

QString RoamingApplicationDataFolder() {
    const QString configHome = Environment("XDG_CONFIG_HOME");
    if (!configHome.isEmpty())
        return configHome;
    const QString home = Environment("HOME");
    return home.isEmpty() ? QString() : home + "/.config";
}

QString MachineApplicationDataFolder() {
    const QString dirs = Environment("XDG_CONFIG_DIRS");
    const QString first = dirs.section(':', 0, 0);
    return first.isEmpty() ? QStringLiteral("/etc/xdg") : first;
}

QString FirebirdInstanceFolder() {
    const QString fromEnvironment = Environment("FIREBIRD");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    if (QFileInfo(QStringLiteral("/opt/firebird")).isDir())
        return QStringLiteral("/opt/firebird/");
    Firebird::IMaster* master = Firebird::fb_get_master_interface();
    if (master == nullptr)
        return {};
    const char* root = master->getConfigManager()->getRootDirectory();
    return root == nullptr ? QString() : QString::fromLocal8Bit(root);
}
