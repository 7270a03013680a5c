#include "platform/thread.h"

#include <atomic>
#include <system_error>
#include <thread>

namespace platform {

namespace {
std::atomic<int> g_failNextStarts{0};
}

void FailNextThreadStarts(int count) { g_failNextStarts.store(count); }

bool StartDetachedThread(std::function<void()> body) {
    int pending = g_failNextStarts.load();
    while (pending > 0) {
        if (g_failNextStarts.compare_exchange_weak(pending, pending - 1)) return false;
    }
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace platform
