#pragma once
// The serial transport of the channel: a COM port opened by number, written
// whole, and read within a time-out on a short-lived reader thread while the
// calling thread keeps the time.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/serial_device.h"

class CSerialPort {
public:
    // Throws CMyException (without text) when its events can't be created.
    CSerialPort();
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    bool Open(std::uint16_t port, std::int32_t baud, char parity, std::uint8_t dataBits,
              float stopBits);
    void Close();
    // `written` may be null.
    bool WritePort(const std::uint8_t* data, std::uint32_t length, std::uint32_t* written);
    std::int32_t ReadPort(std::uint8_t* buffer, std::uint16_t count);
    bool IsOpen() const { return platform::IsOpenComHandle(m_hComm); }

    // "baud=19200 parity=N data=8 stop=1", or "... stop=1.5" for exactly 1.5.
    static std::string ModeText(std::int32_t baud, char parity, std::uint8_t dataBits,
                                float stopBits);

    // What ReadPort hands to its reader; it lives on the caller's stack.
    struct ReadRequest {
        std::uint32_t nWanted;
        std::uint8_t* pBuffer;
        std::uint32_t nReceived;
        CSerialPort* pPort;
    };

private:
    // The record of a write in progress: its byte count and the write event,
    // signalled when the write has completed.
    struct OverlappedWrite {
        std::uint32_t InternalHigh = 0;
        std::uint32_t Offset = 0;
        std::uint32_t OffsetHigh = 0;
        std::unique_ptr<platform::Event> hEvent;
    };

    class Reader;
    static int ReaderThread(ReadRequest* request);
    static bool IsNT();
    static void SystemErrorText(std::string& text);

public:
    std::string LastErrorText;
    std::uint16_t m_nPort = 1;
    std::int32_t m_nBaud = 19200;
    std::uint32_t m_nReadTimeout = 2000;

private:
    // Private to this object: a second running tool gets events of its own, so
    // reads on two ports never disturb each other.
    std::unique_ptr<platform::Event> m_hInterruptEvent;
    std::unique_ptr<platform::Event> m_hExitEvent;
    platform::ComHandle m_hComm = platform::kInvalidComHandle;
    OverlappedWrite m_ovWrite;
    bool m_bNoPurge = false;
    bool m_bWriteAll = true;
    // The device's time-outs as Open set them; the write time-out comes from here.
    platform::CommTimeouts m_commTimeouts;
    // The monitored events (EV_RXCHAR once a read has asked for it).
    std::uint32_t m_dwCommMask = 0;
};
