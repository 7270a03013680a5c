#pragma once
// The controller's side of the download protocol, without any I/O: bytes go
// in, one outcome per frame comes out. The simulator's transports drive it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "download/download_frame.h"

namespace sim {

inline constexpr std::size_t kMaxReplyLength = 64;

enum class FaultKind { Reply, Silent, Close };

struct Fault {
    FaultKind kind = FaultKind::Reply;
    std::uint8_t byte = 0;  // the first reply byte of a Reply fault
};

struct SessionConfig {
    std::size_t replyLength = 24;
    std::uint8_t replyFill = kReplyOk;
    std::map<int, Fault> faults;  // by frame number within the image, 0..511
    int faultySessions = 0;       // the faults play in the first N sessions only; 0: in all
};

enum class ReplyKind { Send, Silent, Close };

struct FrameOutcome {
    int frame = 0;               // the frame number it arrived as
    bool valid = false;
    bool restarted = false;      // a block 0 out of turn began a new image
    bool imageComplete = false;  // this frame was the image's last
    ReplyKind reply = ReplyKind::Send;
    std::vector<std::uint8_t> replyBytes;
    std::string problem;         // why an invalid frame was refused
};

using Image = std::array<std::uint8_t, kImageSize>;

class ControllerSession {
public:
    explicit ControllerSession(SessionConfig config);

    // Splits `data` into frames and reports each one's outcome in order. The
    // sink returns false to drop the rest (the transport hangs up).
    void Feed(const std::uint8_t* data, std::size_t length,
              const std::function<bool(const FrameOutcome&)>& sink);

    // Bytes of an unfinished frame are waiting.
    bool HasPartial() const { return m_filled > 0; }
    // The sender fell silent in the middle of a frame: what arrived is judged
    // as one invalid frame, so a stream of garbage cannot wedge the session.
    FrameOutcome FlushPartial();

    // A new connection or attachment: back to frame 0, nothing received.
    void Reset();
    // The faults play in this session.
    bool FaultsPlay() const;

    int NextFrame() const { return m_nextFrame; }
    // The latest image arrived whole and in order (false while it is under way).
    bool AttemptComplete() const { return m_attemptComplete; }
    const Image& LastImage() const { return m_lastImage; }

private:
    FrameOutcome Judge(const std::uint8_t* frame);
    std::vector<std::uint8_t> Reply(std::uint8_t first) const;

    SessionConfig m_config;
    std::array<std::uint8_t, kFrameSize> m_buffer{};
    std::size_t m_filled = 0;
    int m_nextFrame = 0;
    int m_sessions = 0;  // Resets so far
    bool m_attemptComplete = false;
    Image m_image{};
    Image m_lastImage{};
};

}  // namespace sim
