#include "tools/flash/fleet_protocol.h"

#include <algorithm>
#include <cstdio>

#include "download/download_frame.h"
#include "download/download_thread.h"
#include "tools/command_line.h"

namespace flash {

namespace {

constexpr std::string_view kProgress = "progress ";
constexpr std::string_view kEnd = "end ";
constexpr std::string_view kConnect = "connect ";

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string Unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            if (const auto byte = tools::ParseNumber<unsigned>(text.substr(i + 2, 2), 0, 255, 16)) {
                out += static_cast<char>(*byte);
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// The next word of `text`, taken off its front.
std::string_view Word(std::string_view& text) {
    const std::size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    text.remove_prefix(space == std::string_view::npos ? text.size() : space + 1);
    return word;
}

}  // namespace

std::string ProgressLine(int percent, int framesSent) {
    return std::string(kProgress) + std::to_string(percent) + " " + std::to_string(framesSent) + "\n";
}

std::string EndLine(bool ok, int frames, const std::string& message) {
    return std::string(kEnd) + (ok ? "ok " : "failed ") + std::to_string(frames) + " " + Escaped(message) + "\n";
}

std::string ConnectLine(long long ms) { return std::string(kConnect) + std::to_string(ms) + "\n"; }

ChildLine ParseChildLine(std::string_view line) {
    ChildLine parsed;
    if (line.starts_with(kConnect)) {
        if (const auto ms = tools::ParseNumber<long long>(line.substr(kConnect.size()), 0, 1LL << 40)) {
            parsed.kind = ChildLine::Kind::Connect;
            parsed.connectMs = *ms;
        }
    } else if (line.starts_with(kProgress)) {
        std::string_view rest = line.substr(kProgress.size());
        const auto percent = tools::ParseNumber<int>(Word(rest), 0, 100);
        const auto frames = tools::ParseNumber<int>(rest, 0, kFrameCount);
        if (percent && frames) {
            parsed.kind = ChildLine::Kind::Progress;
            parsed.percent = *percent;
            parsed.framesSent = *frames;
        }
    } else if (line.starts_with(kEnd)) {
        std::string_view rest = line.substr(kEnd.size());
        const std::string_view outcome = Word(rest);
        const auto frames = tools::ParseNumber<int>(Word(rest), 0, kFrameCount);
        if ((outcome == "ok" || outcome == "failed") && frames) {
            parsed.kind = ChildLine::Kind::End;
            parsed.ok = outcome == "ok";
            parsed.frames = *frames;
            parsed.message = Unescaped(rest);
        }
    }
    return parsed;
}

int FramesAcknowledged(int frameReports, bool ok, const std::string& message) {
    if (ok) return kFrameCount;
    const std::string_view format = download_text::kEchoFormat;
    const bool onReply = message == download_text::kNothingRead || message == download_text::kEchoError ||
                         message.starts_with(format.substr(0, format.find('%')));
    return std::clamp(onReply ? frameReports - 1 : frameReports, 0, kFrameCount);
}

}  // namespace flash
