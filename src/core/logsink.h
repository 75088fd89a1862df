#pragma once

#include <QString>
#include <functional>

// Receives the lines of the analysis log, one call per line.
using LogSink = std::function<void(const QString&)>;
