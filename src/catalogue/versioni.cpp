#include "catalogue/versioni.h"

#include "catalogue/versionresource.h"
#include "core/texttrim.h"
#include "environment/databaseconnection.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"

#include <QtGlobal>

namespace {

// One column of a one-row statement, trimmed; empty text for NULL or no row.
QString QueryVersion(FirebirdConnection* c, const QString& statement, const QString& column) {
    Q_ASSERT_X(c, "versioni", "c");
    if (!c)
        return {};
    return TrimControls(c->QueryText(statement, column).value_or(QString()));
}

QString ProgramFileVersion(const QString& name) {
    return ReadVersionString(JoinPath(GetProgramFolder(), name), QStringLiteral("FileVersion"));
}

} // namespace

QString GetSchemaVersion(FirebirdConnection* c) {
    return QueryVersion(c, SchemaVersionStatement, QStringLiteral("VER"));
}

QString GetFirebirdVersion(FirebirdConnection* c) {
    return QueryVersion(c, FirebirdVersionStatement, QStringLiteral("FB"));
}

QString GetDriverVersion() {
    return ProgramFileVersion(DriverFileName);
}

QString GetApplicationVersion() {
    const IniFile settings(FindSettingsFile());
    return TrimControls(
        settings.ReadString(QStringLiteral("PRINCIPALE"), QStringLiteral("Versione"), QString()));
}

QString GetWebViewLoaderVersion() {
    return ProgramFileVersion(WebViewLoaderFileName);
}

QString GetArchiverVersion() {
    return ProgramFileVersion(ArchiverFileName);
}
