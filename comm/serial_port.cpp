#include "comm/serial_port.h"

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>

#include "comm/com_port_name.h"
#include "comm/my_exception.h"
#include "platform/system_error.h"
#include "platform/thread.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t EV_RXCHAR = platform::kCommEventReceived;
constexpr std::uint32_t kComTimeoutMs = 1000;
constexpr std::chrono::milliseconds kReadSlice = 40ms;
constexpr std::int64_t kInterruptLookMs = 20;

constexpr const char* kInvalidParameterWrite = "非法参数!AT:WritePort";
constexpr const char* kInvalidParameterWait = "非法参数\n";
constexpr const char* kOtherWaitError = "OTHER ERROR\n";
constexpr const char* kReadWaitFailed = "GetOverlappedResult is failed!";
constexpr const char* kReadFailed = "Read serialPort error!";
constexpr const char* kReadBusy = "Another read is in progress!";
constexpr const char* kReadEventFailed = "Create read event failed";

// The record of the one read in progress in the whole process: its read event
// exists only while a reader runs. A reader claims the record before it
// touches it, so a second read running at the same time (which callers must
// not start) is refused instead of corrupting the first.
struct OverlappedRead {
    std::uint32_t Offset = 0;
    std::uint32_t OffsetHigh = 0;
    std::unique_ptr<platform::Event> hEvent;
};
OverlappedRead g_ovRead;
std::atomic<std::uint8_t> g_readInProgress{0};

}  // namespace

CSerialPort::CSerialPort() {
    m_ovWrite.hEvent = std::make_unique<platform::Event>(platform::ResetMode::Manual, false);
    m_hInterruptEvent = std::make_unique<platform::Event>(platform::ResetMode::Auto, false);
    m_hExitEvent = std::make_unique<platform::Event>(platform::ResetMode::Auto, false);
    if (!m_ovWrite.hEvent->IsValid() || !m_hInterruptEvent->IsValid() || !m_hExitEvent->IsValid()) {
        LastErrorText = "Create overlapped event failed";
        throw CMyException("");
    }
}

CSerialPort::~CSerialPort() {
    Close();
    m_ovWrite.hEvent.reset();
    m_hExitEvent.reset();
    m_hInterruptEvent.reset();
}

// Linux has no older family of systems whose one-byte reads end otherwise: a
// read here either completes or fails, as on the NT family.
bool CSerialPort::IsNT() { return true; }

void CSerialPort::SystemErrorText(std::string& text) {
    text = platform::SystemErrorText(platform::LastError());
}

std::string CSerialPort::ModeText(std::int32_t baud, char parity, std::uint8_t dataBits,
                                  float stopBits) {
    char text[80];
    if (stopBits == 1.5f) {
        std::snprintf(text, sizeof text, "baud=%d parity=%c data=%d stop=1.5", baud, parity,
                      dataBits);
    } else {
        // Truncated toward zero; a value no int can hold becomes 0, which no
        // device accepts.
        const bool fits = std::isfinite(stopBits) && stopBits > -2147483648.0f &&
                          stopBits < 2147483648.0f;
        const int stop = fits ? static_cast<int>(stopBits) : 0;
        std::snprintf(text, sizeof text, "baud=%d parity=%c data=%d stop=%d", baud, parity,
                      dataBits, stop);
    }
    return text;
}

bool CSerialPort::Open(std::uint16_t port, std::int32_t baud, char parity, std::uint8_t dataBits,
                       float stopBits) {
    if (IsOpen()) {
        platform::CloseComDevice(m_hComm);
        m_hComm = platform::kNullComHandle;
    }
    m_nPort = port;
    m_nBaud = baud;

    const std::string device = comm::ResolveComDevice(comm::ComDeviceName(m_nPort));
    m_hComm = platform::OpenComDevice(device);
    if (!IsOpen()) {
        m_hComm = platform::kInvalidComHandle;
        LastErrorText = "Can't open com handle!";
        return false;
    }

    auto fail = [](const char* label) {
        std::string text;
        SystemErrorText(text);
        throw CMyException(text + label);
    };
    try {
        platform::DeviceControlBlock dcb;
        if (!platform::GetCommState(m_hComm, &dcb)) fail("Error AT:BuildCommDCB");

        dcb.fOutxCtsFlow = false;
        dcb.fOutxDsrFlow = false;
        dcb.fDtrControl = platform::LineControl::Disable;
        dcb.fDsrSensitivity = false;
        dcb.fRtsControl = platform::LineControl::Disable;

        const std::string mode = ModeText(m_nBaud, parity, dataBits, stopBits);
        if (!platform::BuildCommDCB(mode, &dcb)) fail("Error AT:BuildCommDCB");
        if (!platform::SetCommState(m_hComm, dcb)) fail("Error AT:SetCommState");

        platform::CommTimeouts timeouts;
        timeouts.ReadIntervalTimeout = kComTimeoutMs;
        timeouts.ReadTotalTimeoutMultiplier = kComTimeoutMs;
        timeouts.ReadTotalTimeoutConstant = kComTimeoutMs;
        timeouts.WriteTotalTimeoutMultiplier = kComTimeoutMs;
        timeouts.WriteTotalTimeoutConstant = kComTimeoutMs;
        if (!platform::SetCommTimeouts(m_hComm, timeouts)) fail("Error AT:SetCommTimeouts");
        m_commTimeouts = timeouts;

        platform::PurgeComm(m_hComm);
        return true;
    } catch (const CMyException& e) {
        LastErrorText = e.Message();
    } catch (...) {
        LastErrorText = "(Unknow error!) AT:Open";
    }
    Close();
    return false;
}

void CSerialPort::Close() {
    if (IsOpen()) {
        platform::CloseComDevice(m_hComm);
        m_hComm = platform::kNullComHandle;
    }
}

bool CSerialPort::WritePort(const std::uint8_t* data, std::uint32_t length,
                            std::uint32_t* written) {
    if (data == nullptr) {
        LastErrorText = "invalid buff pointer";
        return false;
    }
    if (!IsOpen() || length == 0) {
        LastErrorText = "Port handle valid or no data to send!";
        return false;
    }
    if (!m_bNoPurge) platform::PurgeComm(m_hComm);
    std::uint32_t waiting = 0;
    if (!platform::BytesWaiting(m_hComm, &waiting)) {
        LastErrorText = "ClearCommError";
        return false;
    }

    try {
        m_ovWrite.Offset = 0;
        m_ovWrite.OffsetHigh = 0;
        m_ovWrite.hEvent->Reset();
        std::uint32_t count = 0;
        // Every write ends within the device's write time-out: a line that
        // stops taking bytes yields a short count, never a hang.
        const auto deadline = std::chrono::steady_clock::now() +
                              platform::WriteTimeLimit(m_commTimeouts, length);
        switch (platform::StartWrite(m_hComm, data, length, &count)) {
            case platform::WriteStart::Completed:
                break;
            case platform::WriteStart::InvalidParameter:
                LastErrorText = kInvalidParameterWrite;
                return false;
            case platform::WriteStart::Pending:
                if (!platform::FinishWrite(m_hComm, data, length, &count, deadline)) {
                    SystemErrorText(LastErrorText);
                    return false;
                }
                break;
            case platform::WriteStart::Failed:
                return false;
        }
        // The write is complete once its bytes have left, not when the driver
        // has queued them: the caller's stop test and reply time-out start here.
        std::uint32_t unsent = 0;
        platform::WaitUntilSent(m_hComm, count, &unsent, deadline);
        count -= unsent;
        m_ovWrite.InternalHigh = count;
        m_ovWrite.hEvent->Set();

        if (written != nullptr) *written = count;
        if (m_bWriteAll && count != length) {
            char text[64];
            std::snprintf(text, sizeof text, "Not all chars been send!(%d/%d)",
                          static_cast<int>(count), static_cast<int>(length));
            LastErrorText = text;
            return false;
        }
        return true;
    } catch (...) {
        SystemErrorText(LastErrorText);
        return false;
    }
}

std::int32_t CSerialPort::ReadPort(std::uint8_t* buffer, std::uint16_t count) {
    if (buffer == nullptr) {
        LastErrorText = "Read buffer is invalid!";
        return 0;
    }
    // Before the reader starts: a driver records a character only while the
    // mask holds it, and a reply may come the moment the frame is out.
    m_dwCommMask = EV_RXCHAR;
    if (IsOpen()) platform::SetCommMask(m_hComm, m_dwCommMask);

    ReadRequest request{count, buffer, 0, this};
    m_hInterruptEvent->Reset();
    if (!platform::StartDetachedThread([&request] { ReaderThread(&request); })) return 0;

    // Kept in 64 bits: a time-out near the top of its range must not wrap
    // round to almost nothing.
    const std::uint64_t slices = (static_cast<std::uint64_t>(m_nReadTimeout) + 39) / 40;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = 0;; ++i) {
        if (i >= slices) m_hInterruptEvent->Set();
        // Slices end on a fixed schedule, so a busy machine doesn't stretch
        // the time-out slice by slice.
        const auto sliceEnd = start + kReadSlice * static_cast<std::int64_t>(i + 1);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            sliceEnd - std::chrono::steady_clock::now());
        if (m_hExitEvent->Wait(std::max<std::int64_t>(left.count(), 0))) break;
    }
    m_hInterruptEvent->Reset();
    return static_cast<std::int32_t>(request.nReceived);
}

// One read on the reader thread. Its story: claim the process's one read
// record, a first look for the interrupt, then slices until the buffer is
// full, the interrupt comes or the device fails. A slice takes what is
// queued already, or else starts the wait for a character, waits for it or
// for the interrupt (a device that is ready as the interrupt comes wins, and
// the interrupt is given back for the next look) and reads what is queued;
// it ends with another look for the interrupt.
class CSerialPort::Reader {
public:
    explicit Reader(ReadRequest& request)
        : m_request(request),
          m_port(*request.pPort),
          m_interrupt(*m_port.m_hInterruptEvent),
          m_exitEvent(*m_port.m_hExitEvent),
          m_hComm(m_port.m_hComm) {}

    int Run() {
        if (!Claim()) return -1;
        if (!g_ovRead.hEvent->IsValid()) return Fail(kReadEventFailed);
        if (InterruptCame()) return End(0);
        for (;;) {
            switch (Slice()) {
                case SliceEnd::Again: break;
                case SliceEnd::Done: return End(0);
                case SliceEnd::Failed: return End(-1);
            }
            if (InterruptCame()) return End(0);
        }
    }

private:
    enum class SliceEnd : std::uint8_t { Again, Done, Failed };  // Failed: the text is set

    // A read that cannot start ends at once, with the exit event.
    bool Claim() {
        m_exitEvent.Reset();
        if (!m_port.IsOpen()) {
            m_port.LastErrorText = "Invalid com handle";
            m_exitEvent.Set();
            return false;
        }
        if (m_request.nWanted == 0) {
            m_exitEvent.Set();
            return false;
        }
        if (g_readInProgress.exchange(1, std::memory_order_acquire) != 0) {
            m_port.LastErrorText = kReadBusy;
            m_exitEvent.Set();
            return false;
        }
        g_ovRead.hEvent = std::make_unique<platform::Event>(platform::ResetMode::Manual, false);
        return true;
    }

    bool InterruptCame() { return m_interrupt.Wait(kInterruptLookMs); }

    SliceEnd Slice() {
        // Bytes that came before the wait started may have left no event to
        // wait for: a driver forgets what it recorded when the mask changes.
        if (QueuedCount() != 0) {
            if ((m_port.m_dwCommMask & EV_RXCHAR) && !TakeQueued()) return SliceEnd::Failed;
            return Full() ? SliceEnd::Done : SliceEnd::Again;
        }
        platform::Event& readEvent = *g_ovRead.hEvent;
        bool hungUp = false;
        bool watchDevice = true;
        switch (platform::StartCommEventWait(m_hComm, readEvent, &hungUp)) {
            case platform::CommWaitStart::Completed:
                if (QueuedCount() == 0 && !hungUp) {
                    // Ready with nothing queued: no wait this time, only the looks.
                    return InterruptCame() ? SliceEnd::Done : SliceEnd::Again;
                }
                break;
            case platform::CommWaitStart::Pending:
                break;
            case platform::CommWaitStart::InvalidParameter:
                m_port.LastErrorText = kInvalidParameterWait;
                watchDevice = false;
                break;
            case platform::CommWaitStart::Failed:
                m_port.LastErrorText = kOtherWaitError;
                watchDevice = false;
                break;
        }

        const int which =
            platform::WaitCommEventOrInterrupt(m_hComm, watchDevice, readEvent, m_interrupt, &hungUp);
        if (which == 1) return SliceEnd::Done;
        if (which == 0) {
            if ((m_port.m_dwCommMask & EV_RXCHAR) && !TakeQueued()) return SliceEnd::Failed;
            // A device that has gone ends the read at once, with what came
            // before; waiting on it would only see the hang-up again.
            if (hungUp && !Full()) {
                m_port.LastErrorText = kReadWaitFailed;
                return SliceEnd::Failed;
            }
        }
        return Full() ? SliceEnd::Done : SliceEnd::Again;
    }

    // Byte by byte until the queue is empty or the buffer full.
    bool TakeQueued() {
        for (std::uint32_t inQueue = QueuedCount(); inQueue != 0; inQueue = QueuedCount()) {
            std::uint8_t byte = 0;
            const platform::ByteRead got = platform::ReadOneByte(m_hComm, &byte);
            if (got == platform::ByteRead::Failed) {
                m_port.LastErrorText = IsNT() ? kReadWaitFailed : kReadFailed;
                return false;
            }
            if (got == platform::ByteRead::NoByte) break;
            m_request.pBuffer[m_request.nReceived++] = byte;
            if (Full()) break;
        }
        return true;
    }

    std::uint32_t QueuedCount() const {
        std::uint32_t inQueue = 0;
        platform::BytesWaiting(m_hComm, &inQueue);
        return inQueue;
    }

    bool Full() const { return m_request.nReceived == m_request.nWanted; }

    int Fail(const char* text) {
        m_port.LastErrorText = text;
        return End(-1);
    }

    // Every way out of a claimed read: the read event goes, the record is
    // given back, and the exit event is the reader's last touch of the port.
    int End(int result) {
        g_ovRead.hEvent.reset();
        g_readInProgress.store(0, std::memory_order_release);
        m_exitEvent.Set();
        return result;
    }

    ReadRequest& m_request;
    CSerialPort& m_port;
    platform::Event& m_interrupt;
    platform::Event& m_exitEvent;
    const platform::ComHandle m_hComm;
};

int CSerialPort::ReaderThread(ReadRequest* request) { return Reader(*request).Run(); }
