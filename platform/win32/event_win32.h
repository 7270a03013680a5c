#pragma once
// The Windows side of the events: the kernel event behind an event, for the
// waits and the overlapped I/O records that signal it. Private to platform/.

#include <windows.h>

#include "platform/event.h"

namespace platform {

struct EventAccess {
    static HANDLE Handle(const Event& e) { return reinterpret_cast<HANDLE>(e.m_handle); }
};

}  // namespace platform
