#pragma once
// How a download reaches its controller: the channel parameters that the
// Operation page and vornic-flash both use, set in one place.

#include <cstdint>

#include "comm/comm_channel.h"

inline constexpr std::int32_t kTcpConnectTimeoutMs = 2000;
inline constexpr std::uint32_t kTcpReceiveTimeoutMs = 50000;
inline constexpr std::uint16_t kSerialBaud = 19200;
inline constexpr std::uint32_t kSerialReadTimeoutMs = 1700;

struct DownloadLink {
    // As CommWay holds it: 0 the serial port, anything else TCP/IP. Only its
    // low 16 bits reach the channel's SetWay, so a hand-edited value the
    // channel does not know fails when the channel opens.
    std::int32_t way = kWaySerial;
    std::uint16_t com = 1;      // COM number, 1 for COM1
    std::uint32_t address = 0;  // IPv4, host byte order
    std::uint16_t port = 0;     // TCP port
    std::int32_t connectTimeoutMs = kTcpConnectTimeoutMs;
    std::uint32_t tcpReceiveTimeoutMs = kTcpReceiveTimeoutMs;
    std::uint32_t serialReadTimeoutMs = kSerialReadTimeoutMs;
};

// Sets the parameters of the link's transport, then selects its way. The
// other transport's parameters stay as they were.
void SetUpDownloadChannel(CCommChannel& channel, const DownloadLink& link);
