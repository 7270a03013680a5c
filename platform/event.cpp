#include "platform/event.h"

namespace platform {

bool Event::Wait(std::int64_t timeoutMs) {
    Event* self = this;
    return WaitForAny(std::span<Event* const>(&self, 1), timeoutMs) == 0;
}

}  // namespace platform
