#include "platform/system_error.h"

namespace platform {

std::string StepErrorText(std::string_view step, int code) {
    std::string reason = SystemErrorText(code);
    // The message goes on one line with its step: without the system's line end.
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    if (reason.empty()) reason = "error " + std::to_string(code);
    return std::string(step) + ": " + reason;
}

}  // namespace platform
