// The serial device on Windows: a COM device opened without sharing for
// overlapped I/O, set up with the communication calls, waited on with
// WaitCommEvent, read one byte at a time and written with one WriteFile each.
//
// Every open port keeps its asynchronous-I/O records here, keyed by its
// handle: an OVERLAPPED must outlive the transfer it started, and the steps
// above see only the handle.

#include "platform/serial_device.h"

#include <windows.h>
// The step of that name is ours; the system's is called by its W name.
#undef BuildCommDCB

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "platform/win32/event_win32.h"
#include "platform/serial_faults.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

const int kSerialErrorInvalidParameter = ERROR_INVALID_PARAMETER;
const int kSerialErrorIo = ERROR_IO_DEVICE;
const int kSerialErrorTimedOut = ERROR_TIMEOUT;

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// The driver's queues: a whole frame and more fits either way.
constexpr DWORD kQueueSize = 4096;

HANDLE Native(ComHandle h) { return reinterpret_cast<HANDLE>(h); }
HANDLE Native(Event& event) { return EventAccess::Handle(event); }

// One manual-reset event without a name, closed with its owner.
class NativeEvent {
public:
    NativeEvent() : m_handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~NativeEvent() {
        if (m_handle != nullptr) ::CloseHandle(m_handle);
    }
    NativeEvent(const NativeEvent&) = delete;
    NativeEvent& operator=(const NativeEvent&) = delete;
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// The records of one open port. The write and the byte reads have events of
// their own; the wait for a character signals the reader's read event.
struct PortRecords {
    NativeEvent writeEvent;
    OVERLAPPED write{};
    NativeEvent readEvent;
    OVERLAPPED read{};
    OVERLAPPED wait{};
    DWORD waitMask = 0;
    bool waitUnderWay = false;
    // The whole block GetCommState read: SetCommState changes only what the
    // caller's block names.
    DCB state{};
    bool haveState = false;
};

std::mutex g_recordsLock;
std::map<ComHandle, std::unique_ptr<PortRecords>>& Records() {
    static std::map<ComHandle, std::unique_ptr<PortRecords>> records;
    return records;
}

// The records of an open port; null for a handle this file did not open.
PortRecords* RecordsOf(ComHandle h) {
    std::lock_guard<std::mutex> lock(g_recordsLock);
    const auto it = Records().find(h);
    return it == Records().end() ? nullptr : it->second.get();
}

// The same, with ERROR_INVALID_HANDLE as the last error when there are none.
PortRecords* RecordsOrError(ComHandle h) {
    PortRecords* records = RecordsOf(h);
    if (records == nullptr) ::SetLastError(ERROR_INVALID_HANDLE);
    return records;
}

// A record ready for the next transfer: from the start, its event reset.
OVERLAPPED* Rearmed(OVERLAPPED* record) {
    record->Offset = 0;
    record->OffsetHigh = 0;
    ::ResetEvent(record->hEvent);
    return record;
}

// Waits for a transfer that was under way and takes its byte count; the
// record is free again afterwards. Keeps the last error of the transfer.
bool Complete(ComHandle h, OVERLAPPED* record, DWORD* moved) {
    *moved = 0;
    return ::GetOverlappedResult(Native(h), record, moved, TRUE) != FALSE;
}

// Ends a transfer that is still under way and waits until the driver has let
// go of its record. What it moved before counts.
DWORD Cancel(ComHandle h, OVERLAPPED* record) {
    ::CancelIoEx(Native(h), record);
    DWORD moved = 0;
    (void)Complete(h, record, &moved);
    return moved;
}

// A port whose device has gone (an adapter pulled out, a line hung up) can no
// longer give its state: ClearCommError fails.
bool DeviceGone(ComHandle h) {
    DWORD errors = 0;
    COMSTAT status{};
    return !::ClearCommError(Native(h), &errors, &status);
}

BYTE NativeParity(ParityMode parity) {
    switch (parity) {
        case ParityMode::Odd: return ODDPARITY;
        case ParityMode::Even: return EVENPARITY;
        case ParityMode::Mark: return MARKPARITY;
        case ParityMode::Space: return SPACEPARITY;
        case ParityMode::None: break;
    }
    return NOPARITY;
}

ParityMode ParityOf(BYTE parity) {
    switch (parity) {
        case ODDPARITY: return ParityMode::Odd;
        case EVENPARITY: return ParityMode::Even;
        case MARKPARITY: return ParityMode::Mark;
        case SPACEPARITY: return ParityMode::Space;
        default: return ParityMode::None;
    }
}

BYTE NativeStopBits(StopBitsMode stop) {
    switch (stop) {
        case StopBitsMode::OneAndHalf: return ONE5STOPBITS;
        case StopBitsMode::Two: return TWOSTOPBITS;
        case StopBitsMode::One: break;
    }
    return ONESTOPBIT;
}

StopBitsMode StopBitsOf(BYTE stop) {
    switch (stop) {
        case ONE5STOPBITS: return StopBitsMode::OneAndHalf;
        case TWOSTOPBITS: return StopBitsMode::Two;
        default: return StopBitsMode::One;
    }
}

DWORD NativeDtr(LineControl control) {
    switch (control) {
        case LineControl::Enable: return DTR_CONTROL_ENABLE;
        case LineControl::Handshake: return DTR_CONTROL_HANDSHAKE;
        case LineControl::Disable: break;
    }
    return DTR_CONTROL_DISABLE;
}

DWORD NativeRts(LineControl control) {
    switch (control) {
        case LineControl::Enable: return RTS_CONTROL_ENABLE;
        case LineControl::Handshake: return RTS_CONTROL_HANDSHAKE;
        case LineControl::Disable: break;
    }
    return RTS_CONTROL_DISABLE;
}

LineControl DtrOf(DWORD control) {
    switch (control) {
        case DTR_CONTROL_ENABLE: return LineControl::Enable;
        case DTR_CONTROL_HANDSHAKE: return LineControl::Handshake;
        default: return LineControl::Disable;
    }
}

// RTS toggling (the line raised while sending) counts as raised.
LineControl RtsOf(DWORD control) {
    switch (control) {
        case RTS_CONTROL_ENABLE:
        case RTS_CONTROL_TOGGLE: return LineControl::Enable;
        case RTS_CONTROL_HANDSHAKE: return LineControl::Handshake;
        default: return LineControl::Disable;
    }
}

void FromNative(const DCB& native, DeviceControlBlock* dcb) {
    dcb->BaudRate = native.BaudRate;
    dcb->Parity = ParityOf(native.Parity);
    dcb->ByteSize = native.ByteSize;
    dcb->StopBits = StopBitsOf(native.StopBits);
    dcb->fOutxCtsFlow = native.fOutxCtsFlow != 0;
    dcb->fOutxDsrFlow = native.fOutxDsrFlow != 0;
    dcb->fDsrSensitivity = native.fDsrSensitivity != 0;
    dcb->fDtrControl = DtrOf(native.fDtrControl);
    dcb->fRtsControl = RtsOf(native.fRtsControl);
}

// The block's members over `native`; what the block doesn't name stays.
void ToNative(const DeviceControlBlock& dcb, DCB* native) {
    native->BaudRate = dcb.BaudRate;
    native->Parity = NativeParity(dcb.Parity);
    native->fParity = dcb.Parity == ParityMode::None ? FALSE : TRUE;
    native->ByteSize = dcb.ByteSize;
    native->StopBits = NativeStopBits(dcb.StopBits);
    native->fOutxCtsFlow = dcb.fOutxCtsFlow ? TRUE : FALSE;
    native->fOutxDsrFlow = dcb.fOutxDsrFlow ? TRUE : FALSE;
    native->fDsrSensitivity = dcb.fDsrSensitivity ? TRUE : FALSE;
    native->fDtrControl = NativeDtr(dcb.fDtrControl) & 0x3u;
    native->fRtsControl = NativeRts(dcb.fRtsControl) & 0x3u;
}

}  // namespace

std::string DefaultComDevicePath(std::uint16_t port) {
    return "\\\\.\\COM" + std::to_string(port);
}

ComHandle OpenComDevice(const std::string& path) {
    if (InjectedSerialFailure(SerialCall::Open)) return kInvalidComHandle;
    const HANDLE device = ::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) return kInvalidComHandle;

    auto records = std::make_unique<PortRecords>();
    // A device that is no COM port (a file, a pipe) has no queues to size;
    // the first GetCommState says so in the caller's words.
    (void)::SetupComm(device, kQueueSize, kQueueSize);
    if (records->writeEvent.Get() == nullptr || records->readEvent.Get() == nullptr) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(device);
        ::SetLastError(error);
        return kInvalidComHandle;
    }
    records->write.hEvent = records->writeEvent.Get();
    records->read.hEvent = records->readEvent.Get();
    const ComHandle h = reinterpret_cast<ComHandle>(device);
    std::lock_guard<std::mutex> lock(g_recordsLock);
    Records()[h] = std::move(records);
    return h;
}

void CloseComDevice(ComHandle h) {
    if (!IsOpenComHandle(h)) return;
    std::unique_ptr<PortRecords> records;
    {
        std::lock_guard<std::mutex> lock(g_recordsLock);
        const auto it = Records().find(h);
        if (it != Records().end()) {
            records = std::move(it->second);
            Records().erase(it);
        }
    }
    // No transfer may outlive its record.
    if (records && records->waitUnderWay) (void)Cancel(h, &records->wait);
    ::CloseHandle(Native(h));
}

bool GetCommState(ComHandle h, DeviceControlBlock* dcb) {
    if (InjectedSerialFailure(SerialCall::GetAttributes)) return false;
    DCB native{};
    native.DCBlength = sizeof native;
    if (!::GetCommState(Native(h), &native)) return false;
    FromNative(native, dcb);
    if (PortRecords* records = RecordsOf(h)) {
        records->state = native;
        records->haveState = true;
    }
    return true;
}

bool BuildCommDCB(const std::string& mode, DeviceControlBlock* dcb) {
    DCB native{};
    native.DCBlength = sizeof native;
    ToNative(*dcb, &native);
    if (!::BuildCommDCBW(Widen(mode).c_str(), &native)) return false;
    FromNative(native, dcb);
    return true;
}

bool SetCommState(ComHandle h, const DeviceControlBlock& dcb) {
    if (InjectedSerialFailure(SerialCall::SetAttributes)) return false;
    DCB native{};
    native.DCBlength = sizeof native;
    PortRecords* records = RecordsOf(h);
    if (records != nullptr && records->haveState) {
        native = records->state;
    } else if (!::GetCommState(Native(h), &native)) {
        return false;
    }
    ToNative(dcb, &native);
    // Frames are binary: no byte may be taken for flow control or dropped.
    native.fBinary = TRUE;
    native.fOutX = FALSE;
    native.fInX = FALSE;
    native.fNull = FALSE;
    native.fAbortOnError = FALSE;
    if (!::SetCommState(Native(h), &native)) return false;
    if (records != nullptr) {
        records->state = native;
        records->haveState = true;
    }
    return true;
}

bool SetCommTimeouts(ComHandle h, const CommTimeouts& timeouts) {
    if (InjectedSerialFailure(SerialCall::SetTimeouts)) return false;
    COMMTIMEOUTS native{};
    native.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    native.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    native.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    native.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    native.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(Native(h), &native) != FALSE;
}

bool PurgeComm(ComHandle h) {
    if (InjectedSerialFailure(SerialCall::Purge)) return false;
    return ::PurgeComm(Native(h), kPurgeAll) != FALSE;
}

bool BytesWaiting(ComHandle h, std::uint32_t* count) {
    *count = 0;
    if (InjectedSerialFailure(SerialCall::BytesWaiting)) return false;
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(Native(h), &errors, &status)) return false;
    *count = status.cbInQue;
    return true;
}

CommWaitStart StartCommEventWait(ComHandle h, Event& readEvent, bool* hungUp) {
    readEvent.Reset();
    if (InjectedSerialFailure(SerialCall::PollReceived)) {
        return ::GetLastError() == ERROR_INVALID_PARAMETER ? CommWaitStart::InvalidParameter
                                                           : CommWaitStart::Failed;
    }
    PortRecords* records = RecordsOrError(h);
    if (records == nullptr) return CommWaitStart::Failed;
    // A wait left under way by an earlier read ends before its record is
    // used again.
    if (records->waitUnderWay) {
        (void)Cancel(h, &records->wait);
        records->waitUnderWay = false;
    }
    (void)::SetCommMask(Native(h), EV_RXCHAR);
    records->wait = OVERLAPPED{};
    records->wait.hEvent = Native(readEvent);
    records->waitMask = 0;
    if (::WaitCommEvent(Native(h), &records->waitMask, &records->wait)) {
        readEvent.Set();
        return CommWaitStart::Completed;
    }
    switch (::GetLastError()) {
        case ERROR_IO_PENDING:
            records->waitUnderWay = true;
            return CommWaitStart::Pending;
        case ERROR_INVALID_PARAMETER:
            return CommWaitStart::InvalidParameter;
        default: {
            // A device that has gone refuses the wait: it has its end to
            // report at once.
            const DWORD error = ::GetLastError();
            if (DeviceGone(h)) {
                *hungUp = true;
                readEvent.Set();
                return CommWaitStart::Completed;
            }
            ::SetLastError(error);
            return CommWaitStart::Failed;
        }
    }
}

int WaitCommEventOrInterrupt(ComHandle h, bool watchDevice, Event& readEvent, Event& interrupt,
                             bool* hungUp) {
    if (InjectedSerialFailure(SerialCall::WaitReceived)) return kWaitFailed;
    PortRecords* records = RecordsOf(h);
    const HANDLE events[] = {Native(readEvent), Native(interrupt)};
    const DWORD which = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
    const bool waitUnderWay = records != nullptr && records->waitUnderWay;
    if (which == WAIT_OBJECT_0) {
        if (waitUnderWay) {
            records->waitUnderWay = false;
            DWORD ignored = 0;
            // However the wait ended, a device that has gone ends the read.
            if (!Complete(h, &records->wait, &ignored) && DeviceGone(h)) *hungUp = true;
        }
        return 0;
    }
    if (which != WAIT_OBJECT_0 + 1) return kWaitFailed;
    if (!waitUnderWay || !watchDevice) return 1;
    // The interrupt was taken first. The device wait ends here; when it had
    // completed with a character, the device wins and the interrupt is given
    // back for the reader's next look.
    records->waitUnderWay = false;
    ::CancelIoEx(Native(h), &records->wait);
    DWORD ignored = 0;
    if (Complete(h, &records->wait, &ignored) && (records->waitMask & EV_RXCHAR) != 0) {
        readEvent.Set();
        interrupt.Set();
        return 0;
    }
    return 1;
}

ByteRead ReadOneByte(ComHandle h, std::uint8_t* byte) {
    if (InjectedSerialFailure(SerialCall::Read)) return ByteRead::Failed;
    PortRecords* records = RecordsOrError(h);
    if (records == nullptr) return ByteRead::Failed;
    DWORD got = 0;
    if (!::ReadFile(Native(h), byte, 1, &got, Rearmed(&records->read))) {
        if (::GetLastError() != ERROR_IO_PENDING) return ByteRead::Failed;
        if (!Complete(h, &records->read, &got)) {
            // The read's own time-out is no failure of the device.
            return ::GetLastError() == ERROR_TIMEOUT ? ByteRead::NoByte : ByteRead::Failed;
        }
    }
    return got == 1 ? ByteRead::One : ByteRead::NoByte;
}

WriteStart StartWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length,
                      std::uint32_t* moved) {
    *moved = 0;
    if (InjectedSerialFailure(SerialCall::Write)) {
        return ::GetLastError() == ERROR_INVALID_PARAMETER ? WriteStart::InvalidParameter
                                                           : WriteStart::Failed;
    }
    PortRecords* records = RecordsOrError(h);
    if (records == nullptr) return WriteStart::Failed;
    DWORD count = 0;
    if (::WriteFile(Native(h), data, length, &count, Rearmed(&records->write))) {
        *moved = count;
        return WriteStart::Completed;
    }
    switch (::GetLastError()) {
        case ERROR_IO_PENDING: return WriteStart::Pending;
        case ERROR_INVALID_PARAMETER: return WriteStart::InvalidParameter;
        default: return WriteStart::Failed;
    }
}

bool FinishWrite(ComHandle h, const std::uint8_t*, std::uint32_t, std::uint32_t* moved,
                 std::chrono::steady_clock::time_point deadline) {
    PortRecords* records = RecordsOrError(h);
    if (records == nullptr) return false;
    if (InjectedSerialFailure(SerialCall::WaitWritable)) {
        const DWORD error = ::GetLastError();
        *moved = Cancel(h, &records->write);
        ::SetLastError(error);
        return error == ERROR_TIMEOUT;
    }
    // The driver keeps the write time-outs; a driver that doesn't still
    // gets its write ended at the same limit.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const DWORD waitMs = static_cast<DWORD>(std::clamp<std::int64_t>(left.count(), 0, INFINITE - 1));
    if (::WaitForSingleObject(records->write.hEvent, waitMs) == WAIT_TIMEOUT) {
        *moved = Cancel(h, &records->write);
        return true;
    }
    DWORD count = 0;
    const bool done = Complete(h, &records->write, &count);
    *moved = count;
    return done;
}

void WaitUntilSent(ComHandle h, std::uint32_t length, std::uint32_t* unsent,
                   std::chrono::steady_clock::time_point) {
    *unsent = 0;
    if (InjectedSerialFailure(SerialCall::WaitSent)) {
        if (::GetLastError() == ERROR_TIMEOUT) {
            *unsent = length;
            (void)::PurgeComm(Native(h), PURGE_TXCLEAR);
        }
    }
}

}  // namespace platform
