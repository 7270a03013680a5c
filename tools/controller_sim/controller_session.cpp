#include "tools/controller_sim/controller_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace sim {

namespace {
constexpr std::uint8_t kHeader[4] = {kFrameMagic0, kFrameMagic1, kFrameLengthByte, kFrameMagic3};

// Worked out here rather than borrowed from the tool, so that a fault in the
// tool's checksum cannot hide behind the same fault in the controller.
std::uint8_t XorOf(const std::uint8_t* data, std::size_t length) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum ^= data[i];
    return sum;
}

std::string Hex(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}
}  // namespace

ControllerSession::ControllerSession(SessionConfig config) : m_config(std::move(config)) {
    m_config.replyLength = std::clamp<std::size_t>(m_config.replyLength, 1, kMaxReplyLength);
}

void ControllerSession::Reset() {
    m_filled = 0;
    m_nextFrame = 0;
    ++m_sessions;
}

bool ControllerSession::FaultsPlay() const {
    return m_config.faultySessions == 0 || m_sessions <= m_config.faultySessions;
}

std::vector<std::uint8_t> ControllerSession::Reply(std::uint8_t first) const {
    std::vector<std::uint8_t> bytes(m_config.replyLength, m_config.replyFill);
    bytes[0] = first;
    return bytes;
}

void ControllerSession::Feed(const std::uint8_t* data, std::size_t length,
                             const std::function<bool(const FrameOutcome&)>& sink) {
    while (length > 0) {
        const std::size_t take = std::min(length, kFrameSize - m_filled);
        std::memcpy(m_buffer.data() + m_filled, data, take);
        m_filled += take;
        data += take;
        length -= take;
        if (m_filled < kFrameSize) return;
        m_filled = 0;
        if (!sink(Judge(m_buffer.data()))) return;
    }
}

FrameOutcome ControllerSession::FlushPartial() {
    FrameOutcome outcome;
    outcome.frame = m_nextFrame;
    outcome.problem = "short frame of " + std::to_string(m_filled) + " bytes";
    outcome.replyBytes = Reply(kReplyEchoError);
    m_filled = 0;
    return outcome;
}

FrameOutcome ControllerSession::Judge(const std::uint8_t* frame) {
    FrameOutcome outcome;
    const std::uint8_t* data = frame + kOffsetData;
    const std::uint8_t expectedBlock = static_cast<std::uint8_t>(m_nextFrame % kBlocksPerHalf);

    if (std::memcmp(frame, kHeader, sizeof kHeader) != 0) {
        outcome.problem = "bad header";
    } else if (frame[kOffsetCommand] != kFrameCommand) {
        outcome.problem = "command " + Hex(frame[kOffsetCommand]);
    } else if (frame[kOffsetChecksum] != XorOf(data, kFrameDataSize)) {
        outcome.problem = "checksum " + Hex(frame[kOffsetChecksum]) + ", data gives " +
                          Hex(XorOf(data, kFrameDataSize));
    } else if (frame[kOffsetReserved] != 0x00) {
        outcome.problem = "reserved byte " + Hex(frame[kOffsetReserved]);
    } else if (frame[kOffsetBlock] != expectedBlock) {
        // The tool starts every download at block 0; if the end of its last
        // one went unnoticed (a serial hang-up missed), this is a new image.
        if (frame[kOffsetBlock] == 0 && m_nextFrame != 0) {
            outcome.restarted = true;
            m_nextFrame = 0;
        } else {
            outcome.problem = "block " + std::to_string(frame[kOffsetBlock]) + ", expected " +
                              std::to_string(expectedBlock);
        }
    }
    outcome.valid = outcome.problem.empty();
    outcome.frame = m_nextFrame;
    if (m_nextFrame == 0 && outcome.valid) m_attemptComplete = false;

    const auto fault = m_config.faults.find(m_nextFrame);
    if (fault != m_config.faults.end() && FaultsPlay()) {
        // A fault answers in the controller's place; the frame is not taken.
        switch (fault->second.kind) {
        case FaultKind::Reply: outcome.replyBytes = Reply(fault->second.byte); break;
        case FaultKind::Silent: outcome.reply = ReplyKind::Silent; break;
        case FaultKind::Close: outcome.reply = ReplyKind::Close; break;
        }
        m_attemptComplete = false;
        return outcome;
    }
    if (!outcome.valid) {
        outcome.replyBytes = Reply(kReplyEchoError);
        m_attemptComplete = false;
        return outcome;
    }

    std::memcpy(m_image.data() + static_cast<std::size_t>(m_nextFrame) * kFrameDataSize, data,
                kFrameDataSize);
    outcome.replyBytes = Reply(kReplyOk);
    if (++m_nextFrame == kFrameCount) {
        m_lastImage = m_image;
        m_attemptComplete = true;
        outcome.imageComplete = true;
        m_nextFrame = 0;
    }
    return outcome;
}

}  // namespace sim
