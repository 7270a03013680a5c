#pragma once
// Private to platform/: on Windows the requests of InterruptSignals are
// counted for the whole process; a manual-reset event stays signalled while
// any is pending, so that every wait can include it.

#include <string>

#include "platform/event.h"
#include "platform/interrupt_signals.h"

namespace platform {

struct InterruptSignals::Source {
    Event* pending = nullptr;
};

// The auto-reset event by which a parent passes a Break on to its child
// (ChildProcess::Interrupt): the parent creates it under the child's process
// id before the child runs, and the child's InterruptSignals takes each
// signal as one request. A named event rather than a console control event:
// it reaches exactly one process, and needs no console shared with the
// parent, which a program started by a service or a scheduler lacks.
inline std::wstring BreakEventName(unsigned long processId) {
    return L"Local\\vornic-break-" + std::to_wstring(processId);
}

}  // namespace platform
