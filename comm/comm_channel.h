#pragma once
// The one object through which the tool talks to the display controller:
// a serial port or a TCP connection behind the same Open, Send, Receive and
// Close. Failures are results (false, or a count of 0) and a LastErrorText;
// nothing here throws or shows anything.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "comm/serial_port.h"
#include "platform/event.h"
#include "platform/tcp_socket.h"

inline constexpr std::int16_t kWaySerial = 0;
inline constexpr std::int16_t kWayTcp = 1;

class CCommChannel {
public:
    CCommChannel();
    virtual ~CCommChannel();
    CCommChannel(const CCommChannel&) = delete;
    CCommChannel& operator=(const CCommChannel&) = delete;

    void SetWay(std::int16_t way);
    void SetSerialParams(std::uint16_t port, std::uint16_t baud, std::uint32_t receiveTimeout);
    // address in network byte order; the connect time-out comes first.
    void SetTcpParams(std::uint32_t address, std::uint16_t port, std::int32_t connectTimeout,
                      std::uint32_t receiveTimeout);

    bool Open();
    bool Send(const std::uint8_t* data, std::int32_t length);
    std::int32_t Receive(std::uint8_t* buffer, std::int16_t count);
    void Close();

    std::int16_t Way() const { return m_nWay; }
    bool IsConnected() const { return m_bConnected.load() != 0; }
    platform::SocketHandle Socket() const { return m_hSocket; }
    CSerialPort& SerialPort() { return m_serial; }

    std::string LastErrorText;

private:
    static void ConnectThread(CCommChannel* channel);
    void CloseSocket();
    void DropReplyTail(bool shortBeforeLast, bool lastShort);

    std::int16_t m_nWay = kWaySerial;
    std::uint32_t m_dwAddress = 0xFFFFFFFFu;  // invalid until SetTcpParams
    std::uint16_t m_nPort = 1;
    std::uint16_t m_nBaud = 19200;
    std::uint32_t m_nReceiveTimeout = 2000;
    std::int32_t m_nConnectTimeout = 2000;
    platform::SocketHandle m_hSocket = platform::kInvalidSocket;
    std::atomic<std::uint8_t> m_bConnected{0};
    // Set once a reply on this connection has come in pieces.
    bool m_bRepliesInPieces = false;
    std::unique_ptr<platform::Event> m_hConnectDone;
    CSerialPort m_serial;
};
