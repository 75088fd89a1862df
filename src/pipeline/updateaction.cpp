#include "pipeline/updateaction.h"

#include "catalogue/requiredfiles.h"
#include "core/busyscope.h"
#include "core/services.h"
#include "core/userinterface.h"
#include "environment/databaseconnection.h"
#include "pipeline/apply.h"
#include "pipeline/backup.h"
#include "pipeline/download.h"
#include "pipeline/rollback.h"

#include <optional>

namespace {

// Runs the steps in their order; the message of the step that failed, or nothing.
std::optional<QString> RunSteps(const Services& services) {
    const BusyScope busy(services.Ui);
    if (!DownloadUpdates(services))
        return DownloadFailedMessage;
    services.Connection.Close();
    QString archive;
    if (!MakeBackup(services, archive))
        return BackupFailedMessage;
    if (!ApplyUpdates(services)) {
        RestoreBackup(services, archive);
        return ApplyFailedMessage;
    }
    ScanWorkFolders(services.Run, 3);
    return std::nullopt;
}

} // namespace

bool ActionAggiornaExecute(const Services& services, const std::function<void()>& reset) {
    const std::optional<QString> failure = RunSteps(services);
    if (!failure)
        return true;
    services.Ui.ShowMessage(*failure);
    reset();
    return false;
}
