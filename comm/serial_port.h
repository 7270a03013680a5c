#pragma once
// The serial transport of the channel: a COM port opened by number, written
// whole, and read within a time-out on a short-lived reader thread.

#include <cstdint>
#include <string>

class CSerialPort {
public:
    CSerialPort();
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    bool Open(std::uint16_t port, std::int32_t baud, char parity, std::uint8_t dataBits,
              float stopBits);
    void Close();
    bool WritePort(const std::uint8_t* data, std::uint32_t length, std::uint32_t* written);
    std::int32_t ReadPort(std::uint8_t* buffer, std::uint16_t count);
    bool IsOpen() const { return m_hComm >= 0; }

    std::string LastErrorText;
    std::uint16_t m_nPort = 1;
    std::int32_t m_nBaud = 19200;
    std::uint32_t m_nReadTimeout = 2000;

private:
    int m_hComm = -1;
};
