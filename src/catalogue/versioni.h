#pragma once

#include <QString>

class FirebirdConnection;

// The version Orvanto reports for itself, whatever its executable's version resource says.
// Defined alone in updaterversion.cpp, so that an executable can be linked with another version
// (the tests build a newer Orvanto for the self-update that way).
extern const QString UpdaterVersion;

// Files in the program folder whose "FileVersion" is the installed version of a component.
inline const QString DriverFileName = QStringLiteral("dbexpida41.dll");
inline const QString WebViewLoaderFileName = QStringLiteral("WebView2Loader.dll");
inline const QString ArchiverFileName = QStringLiteral("7za.exe");

inline const QString SchemaVersionStatement =
    QStringLiteral("select RDB$DESCRIPTION as VER from RDB$DATABASE rows 1");
inline const QString FirebirdVersionStatement = QStringLiteral(
    "select RDB$GET_CONTEXT('SYSTEM','ENGINE_VERSION') as FB from RDB$DATABASE rows 1");

// Installed versions, as text; empty text when nothing can be read. The two database probes
// connect the connection when it is not connected yet, leave it connected, and let database
// errors pass to the caller. A missing connection is a programming error; release builds answer
// empty text.

// The database's description, trimmed.
QString GetSchemaVersion(FirebirdConnection* c);
// The engine version of the database server, trimmed.
QString GetFirebirdVersion(FirebirdConnection* c);
// "FileVersion" of the data-access driver in the program folder.
QString GetDriverVersion();
// "Versione" in section "PRINCIPALE" of Velmora's settings file, trimmed.
QString GetApplicationVersion();
// "FileVersion" of the map component's web-view loader in the program folder.
QString GetWebViewLoaderVersion();
// "FileVersion" of the archiver in the program folder.
QString GetArchiverVersion();
