// The serial device's front, alike on every OS: each step asks the test seam
// first, then makes the OS's calls (serial_device_os.h), and a failure is told
// apart here, by the OS's code for a rejected parameter, the same way on
// every OS.

#include <array>
#include <atomic>
#include <mutex>

#include "platform/serial_device_os.h"
#include "platform/serial_faults.h"
#include "platform/system_error.h"

namespace platform {

namespace {

constexpr std::size_t kSerialCallCount = static_cast<std::size_t>(SerialCall::WaitSent) + 1;
std::array<std::atomic<int>, kSerialCallCount> g_faults{};

// The steps a test asked to see. The reader thread adds to them while the
// test's thread reads the port, hence the lock.
std::atomic<std::uint8_t> g_recording{0};
std::mutex g_recordedLock;
std::vector<SerialCall>& Recorded() {
    static std::vector<SerialCall> calls;
    return calls;
}

bool IsInvalidParameter() { return LastError() == kSerialErrorInvalidParameter; }

}  // namespace

bool InjectedSerialFailure(SerialCall call) {
    if (g_recording.load() != 0) {
        std::lock_guard<std::mutex> lock(g_recordedLock);
        Recorded().push_back(call);
    }
    const int error = g_faults[static_cast<std::size_t>(call)].exchange(0);
    if (error == 0) return false;
    SetLastError(error);
    return true;
}

void FailNextSerialCall(SerialCall call, int error) {
    g_faults[static_cast<std::size_t>(call)].store(error);
}

void ClearSerialFaults() {
    for (auto& fault : g_faults) fault.store(0);
    g_recording.store(0);
    std::lock_guard<std::mutex> lock(g_recordedLock);
    Recorded().clear();
}

void RecordSerialCalls() {
    {
        std::lock_guard<std::mutex> lock(g_recordedLock);
        Recorded().clear();
    }
    g_recording.store(1);
}

std::vector<SerialCall> RecordedSerialCalls() {
    std::lock_guard<std::mutex> lock(g_recordedLock);
    return Recorded();
}

std::chrono::milliseconds WriteTimeLimit(const CommTimeouts& timeouts, std::uint32_t length) {
    return std::chrono::milliseconds(timeouts.WriteTotalTimeoutConstant) +
           std::chrono::milliseconds(timeouts.WriteTotalTimeoutMultiplier) * static_cast<std::int64_t>(length);
}

ComHandle OpenComDevice(const std::string& path) {
    if (InjectedSerialFailure(SerialCall::Open)) return kInvalidComHandle;
    return os::OpenComDevice(path);
}

void CloseComDevice(ComHandle h) {
    if (IsOpenComHandle(h)) os::CloseComDevice(h);
}

bool GetCommState(ComHandle h, DeviceControlBlock* dcb) {
    if (InjectedSerialFailure(SerialCall::GetAttributes)) return false;
    return os::GetCommState(h, dcb);
}

bool BuildCommDCB(const std::string& mode, DeviceControlBlock* dcb) { return os::BuildCommDCB(mode, dcb); }

bool SetCommState(ComHandle h, const DeviceControlBlock& dcb) {
    if (InjectedSerialFailure(SerialCall::SetAttributes)) return false;
    return os::SetCommState(h, dcb);
}

bool SetCommTimeouts(ComHandle h, const CommTimeouts& timeouts) {
    if (InjectedSerialFailure(SerialCall::SetTimeouts)) return false;
    return os::SetCommTimeouts(h, timeouts);
}

bool PurgeComm(ComHandle h) {
    if (InjectedSerialFailure(SerialCall::Purge)) return false;
    return os::PurgeComm(h);
}

bool SetCommMask(ComHandle h, std::uint32_t mask) {
    if (InjectedSerialFailure(SerialCall::SetMask)) return false;
    return os::SetCommMask(h, mask);
}

bool BytesWaiting(ComHandle h, std::uint32_t* count) {
    *count = 0;
    if (InjectedSerialFailure(SerialCall::BytesWaiting)) return false;
    return os::BytesWaiting(h, count);
}

CommWaitStart StartCommEventWait(ComHandle h, Event& readEvent, bool* hungUp) {
    readEvent.Reset();
    if (!InjectedSerialFailure(SerialCall::PollReceived)) {
        switch (os::StartCommEventWait(h, readEvent, hungUp)) {
            case os::Start::Completed: return CommWaitStart::Completed;
            case os::Start::Pending: return CommWaitStart::Pending;
            case os::Start::Failed: break;
        }
    }
    return IsInvalidParameter() ? CommWaitStart::InvalidParameter : CommWaitStart::Failed;
}

int WaitCommEventOrInterrupt(ComHandle h, bool watchDevice, Event& readEvent, Event& interrupt,
                             bool* hungUp) {
    if (InjectedSerialFailure(SerialCall::WaitReceived)) return kWaitFailed;
    const int which = os::WaitCommEventOrInterrupt(h, watchDevice, readEvent, interrupt, hungUp);
    if (which != 1 || !watchDevice) return which;
    // The interrupt was taken first; a device that is ready as well wins, and
    // the interrupt is given back for the reader's next look.
    const bool ask = !InjectedSerialFailure(SerialCall::EndWait);
    bool ready = false;
    os::EndCommEventWait(h, ask, &ready, hungUp);
    if (!ready) return 1;
    readEvent.Set();
    interrupt.Set();
    return 0;
}

ByteRead ReadOneByte(ComHandle h, std::uint8_t* byte) {
    if (InjectedSerialFailure(SerialCall::Read)) return ByteRead::Failed;
    return os::ReadOneByte(h, byte);
}

WriteStart StartWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length,
                      std::uint32_t* moved) {
    *moved = 0;
    if (!InjectedSerialFailure(SerialCall::Write)) {
        switch (os::StartWrite(h, data, length, moved)) {
            case os::Start::Completed: return WriteStart::Completed;
            case os::Start::Pending: return WriteStart::Pending;
            case os::Start::Failed: break;
        }
    }
    return IsInvalidParameter() ? WriteStart::InvalidParameter : WriteStart::Failed;
}

bool FinishWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length,
                 std::uint32_t* moved, std::chrono::steady_clock::time_point deadline) {
    if (InjectedSerialFailure(SerialCall::WaitWritable)) {
        const int error = LastError();
        os::AbandonWrite(h, moved);
        SetLastError(error);
        return error == kSerialErrorTimedOut;
    }
    return os::FinishWrite(h, data, length, moved, deadline);
}

void WaitUntilSent(ComHandle h, std::uint32_t length, std::uint32_t* unsent,
                   std::chrono::steady_clock::time_point deadline) {
    *unsent = 0;
    if (InjectedSerialFailure(SerialCall::WaitSent)) {
        if (LastError() == kSerialErrorTimedOut) {
            *unsent = length;
            os::DiscardOutput(h);
        }
        return;
    }
    os::WaitUntilSent(h, length, unsent, deadline);
}

}  // namespace platform
