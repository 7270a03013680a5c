#pragma once
// The TCP client calls the channel relies on, as thin functions over the
// system's sockets. Sends never raise SIGPIPE: a closed peer is a failed send.

#include <cstddef>
#include <cstdint>

namespace platform {

// Wide enough for a descriptor and for a Windows SOCKET alike; the invalid
// value is -1 on both (INVALID_SOCKET is ~0).
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

std::uint32_t HostToNetwork32(std::uint32_t value);
std::uint32_t NetworkToHost32(std::uint32_t value);

SocketHandle CreateTcpSocket();
bool SetSocketNonBlocking(SocketHandle s, bool nonBlocking);
// Starts a connection to an IPv4 address in network byte order and a port in
// host byte order. The immediate result is returned but callers may ignore it.
int StartConnect(SocketHandle s, std::uint32_t addressNetworkOrder, std::uint16_t port);
// Waits until the socket is writable: >0 writable, 0 time-out, <0 failure
// (a negative time-out fails, as select does).
int SelectWritable(SocketHandle s, long seconds, long microseconds);
// True when the finished connection attempt left no pending error and the
// socket has a peer.
bool ConnectSucceeded(SocketHandle s);
// 0 means no limit; the count is taken as an unsigned 32-bit millisecond value.
bool SetReceiveTimeout(SocketHandle s, std::uint32_t milliseconds);
bool SetSendTimeout(SocketHandle s, std::uint32_t milliseconds);
// One send or one receive; -1 on failure or time-out, 0 from Receive when the
// peer has closed the connection.
long SendBytes(SocketHandle s, const void* data, std::size_t length);
long ReceiveBytes(SocketHandle s, void* buffer, std::size_t length);
// Reads and drops what the peer sends until the connection has been quiet for
// `quietMs` (0: only what is waiting already), at most `limitMs` in all; the
// number of bytes dropped.
std::size_t DiscardIncoming(SocketHandle s, int quietMs, int limitMs);
void CloseSocket(SocketHandle s);

// The two steps DiscardIncoming takes in turn. WaitReadable: >0 something to
// receive (or the end of the connection), 0 time-out, <0 failure.
// ReceiveWaiting takes what is waiting without blocking: the count, 0 when
// the peer has closed or nothing is waiting, -1 on failure.
int WaitReadable(SocketHandle s, int milliseconds);
long ReceiveWaiting(SocketHandle s, void* buffer, std::size_t length);

// Read-backs of what the calls above set, for checks on a connected socket:
// a time-out in milliseconds (0: none) and the bytes waiting to be received;
// -1 when the system does not tell.
std::int64_t ReceiveTimeoutMs(SocketHandle s);
std::int64_t SendTimeoutMs(SocketHandle s);
long BytesWaiting(SocketHandle s);

}  // namespace platform
