// What the serial device does alike on every OS: the write time limit and the
// fault table of the test seam.

#include <array>
#include <atomic>

#include "platform/serial_faults.h"
#include "platform/system_error.h"

namespace platform {

namespace {
constexpr std::size_t kSerialCallCount = static_cast<std::size_t>(SerialCall::WaitSent) + 1;
std::array<std::atomic<int>, kSerialCallCount> g_faults{};
}  // namespace

bool InjectedSerialFailure(SerialCall call) {
    const int error = g_faults[static_cast<std::size_t>(call)].exchange(0);
    if (error == 0) return false;
    SetLastError(error);
    return true;
}

void FailNextSerialCall(SerialCall call, int error) {
    g_faults[static_cast<std::size_t>(call)].store(error);
}

void ClearSerialFaults() {
    for (auto& fault : g_faults) fault.store(0);
}

std::chrono::milliseconds WriteTimeLimit(const CommTimeouts& timeouts, std::uint32_t length) {
    return std::chrono::milliseconds(timeouts.WriteTotalTimeoutConstant) +
           std::chrono::milliseconds(timeouts.WriteTotalTimeoutMultiplier) * static_cast<std::int64_t>(length);
}

}  // namespace platform
