#include "platform/system_error.h"

namespace platform {

std::string SystemErrorLine(int code) {
    std::string text = SystemErrorText(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string StepErrorText(std::string_view step, int code) {
    // The message goes on one line with its step.
    std::string reason = SystemErrorLine(code);
    if (reason.empty()) reason = "error " + std::to_string(code);
    return std::string(step) + ": " + reason;
}

}  // namespace platform
