#include "comm/comm_channel.h"

#include <algorithm>
#include <cstring>

#include "platform/thread.h"

namespace {
constexpr std::int64_t kConnectWaitSliceMs = 50;
constexpr std::uint32_t kSendTimeoutMs = 2000;
constexpr std::size_t kReceiveChunk = 3;
constexpr std::uint32_t kInvalidAddress = 0xFFFFFFFFu;
// 0.0.0.0 is the same in both byte orders. It names no controller, yet Linux
// would connect it to a service of this host.
constexpr std::uint32_t kNoAddress = 0;
constexpr const char* kTimedOutText = "连接超时";
// A reply that trickles in is over once the line has been quiet this long;
// a peer that never stops sending is cut off after the limit.
constexpr int kReplyTailQuietMs = 50;
constexpr int kReplyTailLimitMs = 1000;
}  // namespace

CCommChannel::CCommChannel()
    : m_hConnectDone(std::make_unique<platform::Event>(platform::ResetMode::Auto, false)) {
    if (!m_hConnectDone->IsValid()) m_hConnectDone.reset();
}

CCommChannel::~CCommChannel() {
    m_hConnectDone.reset();
    CloseSocket();
    m_serial.Close();
}

void CCommChannel::CloseSocket() {
    if (m_hSocket != platform::kInvalidSocket) {
        platform::CloseSocket(m_hSocket);
        m_hSocket = platform::kInvalidSocket;
    }
    // The next connection may lead to another controller.
    m_bRepliesInPieces = false;
}

void CCommChannel::SetWay(std::int16_t way) {
    Close();
    m_nWay = way;
}

void CCommChannel::SetSerialParams(std::uint16_t port, std::uint16_t baud,
                                   std::uint32_t receiveTimeout) {
    m_nPort = port;
    m_nBaud = baud;
    m_nReceiveTimeout = receiveTimeout;
}

void CCommChannel::SetTcpParams(std::uint32_t address, std::uint16_t port,
                                std::int32_t connectTimeout, std::uint32_t receiveTimeout) {
    m_dwAddress = address;
    m_nPort = port;
    m_nConnectTimeout = connectTimeout;
    m_nReceiveTimeout = receiveTimeout;
}

bool CCommChannel::Open() {
    if (m_nWay == kWaySerial) {
        Close();
        return m_serial.Open(m_nPort, m_nBaud, 'N', 8, 1.0f);
    }
    if (m_nWay != kWayTcp) return false;

    CloseSocket();
    m_bConnected.store(0);
    if (!m_hConnectDone) {
        LastErrorText = "connect event create failed";
        return false;
    }
    m_hConnectDone->Reset();
    if (!platform::StartDetachedThread([this] { ConnectThread(this); })) return false;
    // The connect thread always signals, at the latest about one connect
    // time-out after it starts; the slices only keep each wait short.
    while (!m_hConnectDone->Wait(kConnectWaitSliceMs)) {
    }
    return m_bConnected.load() != 0;
}

void CCommChannel::ConnectThread(CCommChannel* channel) {
    // Every write to the channel happens before the signal; after it, the
    // channel may already be gone.
    auto fail = [channel](platform::SocketHandle s, const char* text) {
        platform::CloseSocket(s);
        channel->LastErrorText = text;
        channel->m_hConnectDone->Set();
    };

    const platform::SocketHandle s = platform::CreateTcpSocket();
    if (s == platform::kInvalidSocket) {
        channel->LastErrorText = "socket create failed";
        channel->m_hConnectDone->Set();
        return;
    }
    if (!platform::SetSocketNonBlocking(s, true)) return fail(s, "set unblock state failed");
    if (channel->m_dwAddress == kInvalidAddress) return fail(s, "invalid ip address");
    // Refused as the kernel refuses an address it cannot connect to.
    if (channel->m_dwAddress == kNoAddress) return fail(s, kTimedOutText);

    platform::StartConnect(s, channel->m_dwAddress, channel->m_nPort);

    const std::int32_t timeout = channel->m_nConnectTimeout;
    const long seconds = timeout / 1000;
    const long microseconds = (timeout % 1000) * 1000;
    // A refused attempt shows up as writable here; its pending error still
    // makes it a failed attempt.
    if (platform::SelectWritable(s, seconds, microseconds) <= 0 || !platform::ConnectSucceeded(s))
        return fail(s, kTimedOutText);

    if (!platform::SetSocketNonBlocking(s, false)) return fail(s, "set block state failed");

    platform::SetReceiveTimeout(s, channel->m_nReceiveTimeout);
    platform::SetSendTimeout(s, kSendTimeoutMs);

    channel->m_hSocket = s;
    channel->m_bConnected.store(1);
    channel->m_hConnectDone->Set();
}

bool CCommChannel::Send(const std::uint8_t* data, std::int32_t length) {
    if (m_nWay == kWaySerial) {
        std::uint32_t written = 0;
        // A negative length must not reach the port as a huge unsigned one.
        if (length < 0) return false;
        return m_serial.WritePort(data, static_cast<std::uint32_t>(length), &written);
    }
    if (m_nWay != kWayTcp) return false;

    if (m_bConnected.load() == 0) {
        LastErrorText = "connection not established!";
        return false;
    }
    if (length < 0 || (data == nullptr && length > 0) ||
        platform::SendBytes(m_hSocket, data, static_cast<std::size_t>(length)) != length) {
        LastErrorText = "send failed or not all data has send out!";
        return false;
    }
    return true;
}

std::int32_t CCommChannel::Receive(std::uint8_t* buffer, std::int16_t count) {
    if (m_nWay == kWaySerial) {
        m_serial.m_nReadTimeout = m_nReceiveTimeout;
        // A negative count must not reach the port as a huge unsigned one.
        if (count < 0) return 0;
        return m_serial.ReadPort(buffer, static_cast<std::uint16_t>(count));
    }
    if (m_nWay != kWayTcp) return 0;

    if (m_hSocket == platform::kInvalidSocket || count <= 0 || buffer == nullptr) return 0;
    const auto capacity = static_cast<std::size_t>(count);
    std::size_t total = 0;
    bool shortBeforeLast = false;
    bool lastShort = false;
    bool peerClosed = false;
    // `count` receives of up to three bytes each, as the controller expects to
    // be read; only the first `count` bytes are kept, the surplus is dropped.
    for (std::int16_t i = 0; i < count; ++i) {
        std::uint8_t chunk[kReceiveChunk];
        const long n = platform::ReceiveBytes(m_hSocket, chunk, sizeof chunk);
        if (n < 0) return 0;
        if (n == 0) peerClosed = true;
        const bool isShort = n > 0 && n < static_cast<long>(kReceiveChunk);
        if (i + 1 < count)
            shortBeforeLast = shortBeforeLast || isShort;
        else
            lastShort = isShort;
        const std::size_t kept = std::min(static_cast<std::size_t>(n), capacity - total);
        std::memcpy(buffer + total, chunk, kept);
        total += kept;
    }
    if (!peerClosed) DropReplyTail(shortBeforeLast, lastShort);
    return static_cast<std::int32_t>(total);
}

// The rest of a reply must not pass for the next frame's reply: a controller
// that sends its reply a byte at a time is still sending when the receives
// are done, so such a reply is over only once the line has been quiet. A
// whole reply of 22 or 23 bytes also ends in a short receive, the last one,
// and must not pay for the quiet line: a short last receive counts as a
// piece only when more of the reply is waiting right after it, or when this
// connection's replies have come in pieces before.
void CCommChannel::DropReplyTail(bool shortBeforeLast, bool lastShort) {
    bool inPieces = shortBeforeLast || (lastShort && m_bRepliesInPieces);
    if (!inPieces) {
        const std::size_t waiting = platform::DiscardIncoming(m_hSocket, 0, kReplyTailLimitMs);
        inPieces = lastShort && waiting > 0;
    }
    if (!inPieces) return;
    m_bRepliesInPieces = true;
    platform::DiscardIncoming(m_hSocket, kReplyTailQuietMs, kReplyTailLimitMs);
}

void CCommChannel::Close() {
    if (m_hConnectDone) m_hConnectDone->Reset();
    if (m_nWay == kWaySerial) {
        m_serial.Close();
    } else if (m_nWay == kWayTcp) {
        CloseSocket();
        m_bConnected.store(0);
    }
    LastErrorText.clear();
}
