#include "platform/replace_fault.h"

#include <atomic>
#include <cstdint>

#include "platform/system_error.h"

namespace platform {

namespace {
std::atomic<std::uint8_t> g_failStep{0};  // ReplaceStep + 1; 0 for none
std::atomic<int> g_failError{0};

std::uint8_t Encoded(ReplaceStep step) {
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(step) + 1);
}
}  // namespace

void FailNextReplace(ReplaceStep step, int err) {
    g_failError.store(err);
    g_failStep.store(Encoded(step));
}

bool InjectedReplaceFailure(ReplaceStep step) {
    std::uint8_t expected = Encoded(step);
    if (!g_failStep.compare_exchange_strong(expected, 0)) return false;
    SetLastError(g_failError.load());
    return true;
}

}  // namespace platform
