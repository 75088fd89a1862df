#include "environment/serverbackup.h"

#include "core/error.h"
#include "environment/databaseconnection.h"
#include "environment/firebirdapi.h"

#include <QFile>

ServerDatabase SplitServerDatabase(const QString& parameter) {
    // An IPv6 address stands in brackets and holds colons of its own.
    const qsizetype from = parameter.startsWith('[') ? parameter.indexOf(']') : 0;
    const qsizetype colon = parameter.indexOf(':', qMax<qsizetype>(from, 0));
    if (colon < 0)
        return {QString(), parameter};
    return {parameter.left(colon), parameter.mid(colon + 1)};
}

QString ServerBackupPath(const QString& databaseFile, const QString& folder, const QString& stamp) {
    const qsizetype slash = qMax(databaseFile.lastIndexOf('/'), databaseFile.lastIndexOf('\\'));
    QString name = databaseFile.mid(slash + 1);
    const qsizetype dot = name.lastIndexOf('.');
    if (dot > 0)
        name.truncate(dot);
    QString target = folder.isEmpty() ? databaseFile.left(slash + 1) : folder;
    const QChar separator = target.contains('\\') && !target.contains('/') ? '\\' : '/';
    if (!target.isEmpty() && !target.endsWith(separator))
        target += separator;
    return target + name + "_" + stamp + ".fbk";
}

void BackUpOnServer(const ServerDatabase& database, const QString& backupFile) {
    try {
        ThrowingStatus status;
        const ParameterBlock attach(status, Firebird::IXpbBuilder::SPB_ATTACH);
        attach->insertString(&status, isc_spb_user_name, DatabaseUser.toLatin1().constData());
        attach->insertString(&status, isc_spb_password, DatabasePassword.toLatin1().constData());
        const Handle<Firebird::IProvider> provider(Master()->getDispatcher());
        const QByteArray manager = QFile::encodeName(database.Server + ":service_mgr");
        Handle<Firebird::IService> service(provider->attachServiceManager(
            &status, manager.constData(), attach->getBufferLength(&status),
            attach->getBuffer(&status)));
        const ParameterBlock start(status, Firebird::IXpbBuilder::SPB_START);
        start->insertTag(&status, isc_action_svc_backup);
        start->insertString(&status, isc_spb_dbname,
                            QFile::encodeName(database.Database).constData());
        start->insertString(&status, isc_spb_bkp_file, QFile::encodeName(backupFile).constData());
        service->start(&status, start->getBufferLength(&status), start->getBuffer(&status));
        // Without a verbose backup the service gives no lines; asking for one waits for the end,
        // and an error of the backup comes back as the error of the query.
        const unsigned char items[] = {isc_info_svc_line};
        for (;;) {
            unsigned char answer[1024];
            service->query(&status, 0, nullptr, sizeof items, items, sizeof answer, answer);
            if (answer[0] != isc_info_svc_line)
                break;
            const unsigned length = answer[1] | (answer[2] << 8);
            if (length == 0)
                break;
        }
        service->detach(&status);
        service.Closed();
    } catch (const Firebird::FbException& error) {
        throw OrvantoError("Copia del database " + database.Database + " sul server " +
                           database.Server + " in " + backupFile +
                           " non riuscita: " + ErrorText(error.getStatus()));
    }
}
