#include "comm/serial_port.h"

// Interim port: every open fails, so the channel's serial way is complete and
// reports a failed open until the termios port replaces this file.

CSerialPort::CSerialPort() = default;
CSerialPort::~CSerialPort() { Close(); }

bool CSerialPort::Open(std::uint16_t port, std::int32_t baud, char, std::uint8_t, float) {
    Close();
    m_nPort = port;
    m_nBaud = baud;
    LastErrorText = "Can't open com handle!";
    return false;
}

void CSerialPort::Close() { m_hComm = -1; }

bool CSerialPort::WritePort(const std::uint8_t* data, std::uint32_t length, std::uint32_t*) {
    if (data == nullptr) {
        LastErrorText = "invalid buff pointer";
        return false;
    }
    if (!IsOpen() || length == 0) {
        LastErrorText = "Port handle valid or no data to send!";
        return false;
    }
    return false;
}

std::int32_t CSerialPort::ReadPort(std::uint8_t* buffer, std::uint16_t) {
    if (buffer == nullptr) {
        LastErrorText = "Read buffer is invalid!";
        return 0;
    }
    if (!IsOpen()) LastErrorText = "Invalid com handle";
    return 0;
}
