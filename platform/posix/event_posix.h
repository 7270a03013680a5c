#pragma once
// The POSIX side of the events: a wait that also includes a device
// descriptor. Private to platform/ and its tests.

#include <cstdint>
#include <span>

#include "platform/event.h"

namespace platform {

// Waits as WaitForAny does, with a device descriptor polled for `pollEvents`
// as the last entry: its index is events.size(), and its revents are stored
// in *revents.
int WaitForAnyOrDescriptor(std::span<Event* const> events, int fd, short pollEvents,
                           std::int64_t timeoutMs, short* revents);

}  // namespace platform
