#pragma once

#include "core/logsink.h"

#include <QString>

// Firebird's alias files, in the order they are looked for.
inline const QString DatabasesConfName = QStringLiteral("databases.conf");
inline const QString AliasesConfName = QStringLiteral("aliases.conf");

// Full path of the folder's alias file ("databases.conf", else "aliases.conf"), or empty text.
// Logs each name tried and each one that is missing.
QString FindAliasFile(const QString& folder, const LogSink& log);

// The database path that the folder's alias file gives for the alias, or empty text. The first
// line holding the alias (case-sensitive, anywhere in the line) whose text after the first "="
// and before the first "{" is not blank gives the value. Logs every line it parses and the result.
QString ResolveAliasPath(const QString& folder, const QString& alias, const LogSink& log);
