#pragma once

#include <QString>

// Full path of the running executable; empty when the platform cannot tell.
QString RunningExecutablePath();
