#pragma once
// The lines through which a fleet's child process tells its parent how its
// download goes: "progress P F" as each frame F is sent, and one closing
// "end ok|failed FRAMES MESSAGE" with the message's odd bytes escaped, since
// a reply byte inserted into a message may be a line end. A reachability
// check says "connect MS", the time its connect or open took, before its end.

#include <string>
#include <string_view>

namespace flash {

std::string ProgressLine(int percent, int framesSent);
std::string EndLine(bool ok, int frames, const std::string& message);
std::string ConnectLine(long long ms);

struct ChildLine {
    enum class Kind { Progress, End, Connect, Unknown };
    Kind kind = Kind::Unknown;
    int percent = 0;
    long long connectMs = 0;
    int framesSent = 0;  // of a progress line
    bool ok = false;
    int frames = 0;
    std::string message;
};

ChildLine ParseChildLine(std::string_view line);

// The frames the controller accepted in a run that reported the progress of
// `frameReports` frames (each once it was sent, before its reply) and ended
// with `message`: a run that failed on a reply did not get that frame's.
int FramesAcknowledged(int frameReports, bool ok, const std::string& message);

}  // namespace flash
