// The serial device on Windows: a COM device opened without sharing for
// overlapped I/O, set up with the communication calls, waited on with
// WaitCommEvent, read one byte at a time and written with one WriteFile each.
//
// Every open port keeps its asynchronous-I/O records here, keyed by its
// handle: an OVERLAPPED must outlive the transfer it started, and the steps
// above see only the handle.

#include "platform/serial_device_os.h"

#include <windows.h>
// The step of that name is ours; the system's is called by its W name.
#undef BuildCommDCB

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/win32/event_win32.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

const int kSerialErrorInvalidParameter = ERROR_INVALID_PARAMETER;
const int kSerialErrorIo = ERROR_IO_DEVICE;
const int kSerialErrorTimedOut = ERROR_TIMEOUT;

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// The driver's queues: a whole frame and more fits either way.
constexpr DWORD kQueueSize = 4096;
// How long each request to end a device wait is given: a driver completes the
// wait at once, so only a driver that ignores the request waits this long.
constexpr DWORD kWaitEndLimitMs = 200;
static_assert(kCommEventReceived == EV_RXCHAR);

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

// The records of one open port. The write, the byte reads and the wait for a
// character each have an event of their own: a wait may outlive the read
// that started it, and with it the reader's events.
struct PortRecords {
    NativeEvent writeEvent;
    OVERLAPPED write{};
    NativeEvent readEvent;
    OVERLAPPED read{};
    NativeEvent waitEvent;
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

bool Signalled(HANDLE event, DWORD waitMs) { return ::WaitForSingleObject(event, waitMs) == WAIT_OBJECT_0; }

// Ends the wait for a character that is under way, asking the driver only
// when `ask`: setting the mask again completes a pending wait in every
// driver, a cancel is the fallback, and neither is waited for without limit.
// *events is what the wait reported. False when the wait is still under way;
// its record must then stay.
bool EndWait(ComHandle h, PortRecords& records, bool ask, DWORD* events) {
    const HANDLE ended = records.waitEvent.Get();
    if (!Signalled(ended, 0)) {
        if (ask) (void)::SetCommMask(Native(h), EV_RXCHAR);
        if (!Signalled(ended, kWaitEndLimitMs)) {
            if (ask) (void)::CancelIoEx(Native(h), &records.wait);
            if (!Signalled(ended, kWaitEndLimitMs)) return false;
        }
    }
    DWORD ignored = 0;
    *events = ::GetOverlappedResult(Native(h), &records.wait, &ignored, FALSE) ? records.waitMask : 0;
    records.waitUnderWay = false;
    return true;
}

// Settings and their native values, the first row of each standing for a
// value the other side doesn't know.
constexpr std::pair<ParityMode, BYTE> kParities[] = {
    {ParityMode::None, NOPARITY},   {ParityMode::Odd, ODDPARITY},     {ParityMode::Even, EVENPARITY},
    {ParityMode::Mark, MARKPARITY}, {ParityMode::Space, SPACEPARITY},
};
constexpr std::pair<StopBitsMode, BYTE> kStopBits[] = {
    {StopBitsMode::One, ONESTOPBIT},
    {StopBitsMode::OneAndHalf, ONE5STOPBITS},
    {StopBitsMode::Two, TWOSTOPBITS},
};
constexpr std::pair<LineControl, DWORD> kDtrControls[] = {
    {LineControl::Disable, DTR_CONTROL_DISABLE},
    {LineControl::Enable, DTR_CONTROL_ENABLE},
    {LineControl::Handshake, DTR_CONTROL_HANDSHAKE},
};
// RTS toggling (the line raised while sending) counts as raised; a block
// never asks for it.
constexpr std::pair<LineControl, DWORD> kRtsControls[] = {
    {LineControl::Disable, RTS_CONTROL_DISABLE},
    {LineControl::Enable, RTS_CONTROL_ENABLE},
    {LineControl::Handshake, RTS_CONTROL_HANDSHAKE},
    {LineControl::Enable, RTS_CONTROL_TOGGLE},
};

template <typename Setting, typename Native, std::size_t N>
Native NativeOf(const std::pair<Setting, Native> (&table)[N], Setting setting) {
    for (const auto& [known, native] : table) {
        if (known == setting) return native;
    }
    return table[0].second;
}

template <typename Setting, typename Native, std::size_t N>
Setting SettingOf(const std::pair<Setting, Native> (&table)[N], Native native) {
    for (const auto& [setting, known] : table) {
        if (known == native) return setting;
    }
    return table[0].first;
}

void FromNative(const DCB& native, DeviceControlBlock* dcb) {
    dcb->BaudRate = native.BaudRate;
    dcb->Parity = SettingOf(kParities, native.Parity);
    dcb->ByteSize = native.ByteSize;
    dcb->StopBits = SettingOf(kStopBits, native.StopBits);
    dcb->fOutxCtsFlow = native.fOutxCtsFlow != 0;
    dcb->fOutxDsrFlow = native.fOutxDsrFlow != 0;
    dcb->fDsrSensitivity = native.fDsrSensitivity != 0;
    dcb->fDtrControl = SettingOf(kDtrControls, static_cast<DWORD>(native.fDtrControl));
    dcb->fRtsControl = SettingOf(kRtsControls, static_cast<DWORD>(native.fRtsControl));
}

// The block's members over `native`; what the block doesn't name stays.
void ToNative(const DeviceControlBlock& dcb, DCB* native) {
    native->BaudRate = dcb.BaudRate;
    native->Parity = NativeOf(kParities, dcb.Parity);
    native->fParity = dcb.Parity == ParityMode::None ? FALSE : TRUE;
    native->ByteSize = dcb.ByteSize;
    native->StopBits = NativeOf(kStopBits, dcb.StopBits);
    native->fOutxCtsFlow = dcb.fOutxCtsFlow ? TRUE : FALSE;
    native->fOutxDsrFlow = dcb.fOutxDsrFlow ? TRUE : FALSE;
    native->fDsrSensitivity = dcb.fDsrSensitivity ? TRUE : FALSE;
    native->fDtrControl = NativeOf(kDtrControls, dcb.fDtrControl) & 0x3u;
    native->fRtsControl = NativeOf(kRtsControls, dcb.fRtsControl) & 0x3u;
}

}  // namespace

std::string DefaultComDevicePath(std::uint16_t port) {
    return "\\\\.\\COM" + std::to_string(port);
}

namespace os {

ComHandle OpenComDevice(const std::string& path) {
    const HANDLE device = ::CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) return kInvalidComHandle;

    auto records = std::make_unique<PortRecords>();
    // A device that is no COM port (a file, a pipe) has no queues to size;
    // the first GetCommState says so in the caller's words.
    (void)::SetupComm(device, kQueueSize, kQueueSize);
    if (records->writeEvent.Get() == nullptr || records->readEvent.Get() == nullptr ||
        records->waitEvent.Get() == nullptr) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(device);
        ::SetLastError(error);
        return kInvalidComHandle;
    }
    records->write.hEvent = records->writeEvent.Get();
    records->read.hEvent = records->readEvent.Get();
    records->wait.hEvent = records->waitEvent.Get();
    const ComHandle h = reinterpret_cast<ComHandle>(device);
    std::lock_guard<std::mutex> lock(g_recordsLock);
    Records()[h] = std::move(records);
    return h;
}

void CloseComDevice(ComHandle h) {
    std::unique_ptr<PortRecords> records;
    {
        std::lock_guard<std::mutex> lock(g_recordsLock);
        const auto it = Records().find(h);
        if (it != Records().end()) {
            records = std::move(it->second);
            Records().erase(it);
        }
    }
    // No transfer may outlive its record: the record of a wait that its
    // driver never ends is kept for good.
    DWORD ignored = 0;
    if (records && records->waitUnderWay && !EndWait(h, *records, true, &ignored)) (void)records.release();
    ::CloseHandle(Native(h));
}

bool GetCommState(ComHandle h, DeviceControlBlock* dcb) {
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
    COMMTIMEOUTS native{};
    native.ReadIntervalTimeout = timeouts.ReadIntervalTimeout;
    native.ReadTotalTimeoutMultiplier = timeouts.ReadTotalTimeoutMultiplier;
    native.ReadTotalTimeoutConstant = timeouts.ReadTotalTimeoutConstant;
    native.WriteTotalTimeoutMultiplier = timeouts.WriteTotalTimeoutMultiplier;
    native.WriteTotalTimeoutConstant = timeouts.WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(Native(h), &native) != FALSE;
}

bool PurgeComm(ComHandle h) { return ::PurgeComm(Native(h), kPurgeAll) != FALSE; }

void DiscardOutput(ComHandle h) { (void)::PurgeComm(Native(h), PURGE_TXCLEAR); }

bool SetCommMask(ComHandle h, std::uint32_t mask) { return ::SetCommMask(Native(h), mask) != FALSE; }

bool BytesWaiting(ComHandle h, std::uint32_t* count) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(Native(h), &errors, &status)) return false;
    *count = status.cbInQue;
    return true;
}

Start StartCommEventWait(ComHandle h, Event& readEvent, bool* hungUp) {
    PortRecords* records = RecordsOrError(h);
    if (records == nullptr) return Start::Failed;
    if (records->waitUnderWay) {
        // An earlier read left a wait under way that its driver would not
        // end: it still watches for a character.
        if (!Signalled(records->waitEvent.Get(), 0)) return Start::Pending;
        records->waitUnderWay = false;
    }
    records->waitMask = 0;
    if (::WaitCommEvent(Native(h), &records->waitMask, Rearmed(&records->wait))) {
        readEvent.Set();
        return Start::Completed;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        records->waitUnderWay = true;
        return Start::Pending;
    }
    // A device that has gone refuses the wait: it has its end to report at
    // once.
    if (error != ERROR_INVALID_PARAMETER && DeviceGone(h)) {
        *hungUp = true;
        readEvent.Set();
        return Start::Completed;
    }
    ::SetLastError(error);
    return Start::Failed;
}

int WaitCommEventOrInterrupt(ComHandle h, bool watchDevice, Event& readEvent, Event& interrupt,
                             bool* hungUp) {
    PortRecords* records = RecordsOf(h);
    const bool device = watchDevice && records != nullptr && records->waitUnderWay;
    // The read event first and the device next: either wins over an
    // interrupt that comes at the same time.
    HANDLE events[3] = {Native(readEvent), Native(interrupt), nullptr};
    DWORD count = 2;
    if (device) {
        events[1] = records->waitEvent.Get();
        events[2] = Native(interrupt);
        count = 3;
    }
    const DWORD which = ::WaitForMultipleObjects(count, events, FALSE, INFINITE);
    if (which == WAIT_OBJECT_0) return 0;
    if (which == WAIT_OBJECT_0 + count - 1) return 1;
    if (which != WAIT_OBJECT_0 + 1) return kWaitFailed;
    records->waitUnderWay = false;
    DWORD ignored = 0;
    // However the wait ended, a device that has gone ends the read.
    if (!::GetOverlappedResult(Native(h), &records->wait, &ignored, FALSE) && DeviceGone(h)) *hungUp = true;
    readEvent.Set();
    return 0;
}

void EndCommEventWait(ComHandle h, bool ask, bool* ready, bool*) {
    PortRecords* records = RecordsOf(h);
    DWORD events = 0;
    // A wait still under way after that is the next start's to take on.
    if (records != nullptr && records->waitUnderWay && EndWait(h, *records, ask, &events))
        *ready = (events & EV_RXCHAR) != 0;
}

ByteRead ReadOneByte(ComHandle h, std::uint8_t* byte) {
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

Start StartWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length, std::uint32_t* moved) {
    PortRecords* records = RecordsOrError(h);
    if (records == nullptr) return Start::Failed;
    DWORD count = 0;
    if (::WriteFile(Native(h), data, length, &count, Rearmed(&records->write))) {
        *moved = count;
        return Start::Completed;
    }
    return ::GetLastError() == ERROR_IO_PENDING ? Start::Pending : Start::Failed;
}

bool FinishWrite(ComHandle h, const std::uint8_t*, std::uint32_t, std::uint32_t* moved,
                 std::chrono::steady_clock::time_point deadline) {
    PortRecords* records = RecordsOrError(h);
    if (records == nullptr) return false;
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

void AbandonWrite(ComHandle h, std::uint32_t* moved) {
    if (PortRecords* records = RecordsOf(h)) *moved = Cancel(h, &records->write);
}

// A write has completed only once the driver has sent it: nothing is left
// to wait for.
void WaitUntilSent(ComHandle, std::uint32_t, std::uint32_t*, std::chrono::steady_clock::time_point) {}

}  // namespace os

}  // namespace platform
