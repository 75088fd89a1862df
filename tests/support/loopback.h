#pragma once

#include <QtGlobal>

// A TCP port on 127.0.0.1 that nothing listens on right now.
quint16 FreeLoopbackPort();
// Whether something accepts connections on 127.0.0.1 at that port.
bool LoopbackPortAccepts(quint16 port);
