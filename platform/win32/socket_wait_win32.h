#pragma once
// Private to platform/: a wait on one socket that also ends when a stop event
// is signalled. A socket cannot join a wait on the events of event.h, so the
// socket is watched in short slices and the stop looked at between them.

#include <winsock2.h>

#include <cstdint>

#include "platform/event.h"

namespace platform {

enum class SocketWaitEnd { Stopped, Ready, Timeout, Failed };

// Waits until `s` is readable (forWrite false) or writable (true).
SocketWaitEnd WaitSocketOrStop(SOCKET s, bool forWrite, Event& stop, std::int64_t timeoutMs);

}  // namespace platform
