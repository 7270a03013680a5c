#pragma once
// The serial device under CSerialPort: a terminal opened exclusively and set
// up with termios, or a COM device opened for overlapped I/O and set up with
// the communication calls. Each call stands for one step of the port's logic
// (read the settings, build the control block from a mode text, apply it,
// purge, watch for characters, count the waiting bytes, wait for a received
// character, read one byte, write) and reports a failure by its result with
// the OS's last error set (platform::LastError), so that the caller can take
// the system's text right after the call. serial_device.cpp checks and
// classifies; the per-OS files below it only call the OS.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/event.h"

namespace platform {

// The OS's device for COM `port` when no override names one: /dev/ttyS<n-1>
// on Linux (COM1 is /dev/ttyS0), "\\.\COMn" on Windows (the only form that
// reaches COM10 and above).
std::string DefaultComDevicePath(std::uint16_t port);

// A device descriptor or a device handle, whichever the OS gives. Descriptor 0
// is a real descriptor, so "closed" needs a value of its own besides "could
// not be opened"; -1 is also the invalid-handle value of Windows.
using ComHandle = std::intptr_t;
inline constexpr ComHandle kInvalidComHandle = -1;
inline constexpr ComHandle kNullComHandle = -2;
inline bool IsOpenComHandle(ComHandle h) { return h >= 0; }

// Opens the device for reading and writing, without blocking, exclusively.
// Linux: TIOCEXCL keeps other users off, and an exclusive flock keeps off
// other instances that run as root (root ignores TIOCEXCL); a port held by
// someone else fails with EWOULDBLOCK or EBUSY. Windows: no sharing, and
// overlapped I/O; a held port fails with ERROR_ACCESS_DENIED.
// kInvalidComHandle with the last error set on failure.
ComHandle OpenComDevice(const std::string& path);
void CloseComDevice(ComHandle h);

enum class ParityMode : std::uint8_t { None, Odd, Even, Mark, Space };
enum class StopBitsMode : std::uint8_t { One, OneAndHalf, Two };
enum class LineControl : std::uint8_t { Disable, Enable, Handshake };

// The settings of a port. Software flow control is not a member: an applied
// block always leaves it off.
struct DeviceControlBlock {
    std::uint32_t BaudRate = 0;
    ParityMode Parity = ParityMode::None;
    std::uint8_t ByteSize = 8;
    StopBitsMode StopBits = StopBitsMode::One;
    bool fOutxCtsFlow = false;
    bool fOutxDsrFlow = false;
    bool fDsrSensitivity = false;
    LineControl fDtrControl = LineControl::Disable;
    LineControl fRtsControl = LineControl::Disable;
};

// The current settings of the device (Linux: tcgetattr, and the modem lines
// where the device has them; Windows: GetCommState, whose whole block is kept
// for the SetCommState that follows).
bool GetCommState(ComHandle h, DeviceControlBlock* dcb);

// Sets baud rate, parity, data bits and stop bits from a mode text such as
// "baud=19200 parity=N data=8 stop=1". Rejects with the rejected-parameter
// code, leaving `dcb` as it was, what no device can do: an unknown key, a
// parity letter other than N, E, O, M, S, data bits outside 5..8, stop bits
// other than 1, 1.5, 2; on Linux also a baud rate termios has no speed for
// (Windows leaves the rate to the driver's SetCommState).
bool BuildCommDCB(const std::string& mode, DeviceControlBlock* dcb);

// Applies the block: raw binary mode, no software flow control, hardware flow
// control only when the block asks for it, DTR and RTS as the block says.
// Linux: CLOCAL and CREAD, modem lines where the device has them; the
// rejected-parameter code for a combination the line can't carry (1.5 stop
// bits need 5 data bits, 2 stop bits need more than 5, DSR handshake, DTR
// handshake). Windows: the rest of the block as GetCommState read it; the
// driver refuses what it can't carry.
bool SetCommState(ComHandle h, const DeviceControlBlock& dcb);

// The device's time-outs, in milliseconds. On Linux only the write time-out
// applies: WriteTimeLimit gives it for a write of `length` bytes. Windows
// applies them all in the driver; a write still ends by WriteTimeLimit.
struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};
// Linux: checks that the device can take time-outs (it is a terminal); the
// caller keeps the record and applies the write time-out to its writes.
// Windows: SetCommTimeouts.
bool SetCommTimeouts(ComHandle h, const CommTimeouts& timeouts);
std::chrono::milliseconds WriteTimeLimit(const CommTimeouts& timeouts, std::uint32_t length);

// Ends pending transfers and discards both queues (tcflush TCIOFLUSH,
// PurgeComm with all four flags).
bool PurgeComm(ComHandle h);

// The events the device watches for the waits below: a received character
// (EV_RXCHAR) is the only one. Windows records an event only while the mask
// holds it and forgets what it recorded when the mask changes, so the mask is
// set before the bytes it waits for can come; Linux watches always.
inline constexpr std::uint32_t kCommEventReceived = 0x0001;
bool SetCommMask(ComHandle h, std::uint32_t mask);

// The number of received bytes waiting to be read (FIONREAD; ClearCommError's
// cbInQue, which also clears the device's error state).
bool BytesWaiting(ComHandle h, std::uint32_t* count);

// Starting the wait for a received character (Linux: a look at the device
// without waiting; Windows: an overlapped WaitCommEvent with a record and
// event of the port's own, which stays under way when Pending; a wait an
// earlier read could not end is waited on again). The read event is reset
// first and signalled when the device has something to report at once (a
// character, or a hang-up: *hungUp is then true). The rejected-parameter code
// gives InvalidParameter. Only one wait may be under way in the process.
enum class CommWaitStart { Completed, Pending, InvalidParameter, Failed };
CommWaitStart StartCommEventWait(ComHandle h, Event& readEvent, bool* hungUp);

// Waits without limit for the read event, the interrupt event, or (when
// `watchDevice`) the device to report a character or a hang-up, which signals
// the read event. 0 for the read event, 1 for the interrupt event,
// kWaitFailed otherwise. When the device is ready as the interrupt comes, the
// read event wins and the interrupt stays signalled. A device wait still under
// way when the interrupt wins is ended here, within a bound: Windows sets the
// mask again (every driver completes a pending wait then) and cancels only
// when that fails; a wait that outlives both stays with the port and the
// next start of a wait takes it on.
int WaitCommEventOrInterrupt(ComHandle h, bool watchDevice, Event& readEvent, Event& interrupt,
                             bool* hungUp);

// One byte. NoByte when nothing could be read (Windows: the read's time-out
// passed); Failed with the last error set when the device failed or has gone
// (on Linux a read of 0 bytes counts as EIO).
enum class ByteRead { One, NoByte, Failed };
ByteRead ReadOneByte(ComHandle h, std::uint8_t* byte);

// A write in two steps, as an asynchronous write completes: StartWrite makes
// one attempt without waiting (Windows: starts the overlapped WriteFile) and
// tells whether it is complete at once; when it is Pending, FinishWrite
// writes the rest (waits for the write) until `deadline`. *moved counts the
// bytes written so far. FinishWrite is true when all bytes went out or the
// deadline passed (the count then tells how far it got; Windows ends the
// write there), false with the last error set when the device failed or hung
// up. The rejected-parameter code from the first attempt gives
// InvalidParameter.
enum class WriteStart { Completed, Pending, InvalidParameter, Failed };
WriteStart StartWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length,
                      std::uint32_t* moved);
bool FinishWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length,
                 std::uint32_t* moved, std::chrono::steady_clock::time_point deadline);

// Waits until the bytes written have left the device's output queue
// (TIOCOUTQ at 0), looking again after short sleeps until `deadline`. On
// Windows a write has completed only once the driver has sent it: nothing is
// left to wait for. When
// the deadline passes first, *unsent is what was still queued, at most
// `length`, and those bytes are discarded: the rest of a write that ran out
// of time never goes out later. A queue that cannot be read (a line that
// hung up) ends the wait as sent. A pseudo-terminal hands its bytes to the
// other side at once: its queue always reads 0.
void WaitUntilSent(ComHandle h, std::uint32_t length, std::uint32_t* unsent,
                   std::chrono::steady_clock::time_point deadline);

// The OS's codes for the failures the steps tell apart, for tests that inject
// them and look for their texts: a rejected parameter (EINVAL,
// ERROR_INVALID_PARAMETER), a device that fails (EIO, ERROR_IO_DEVICE), a time
// limit that passed (ETIMEDOUT, ERROR_TIMEOUT).
extern const int kSerialErrorInvalidParameter;
extern const int kSerialErrorIo;
extern const int kSerialErrorTimedOut;

// Test seam: the next call of the named step fails with `error` before it
// touches the device. kSerialErrorTimedOut on WaitWritable stands for a write
// deadline that has passed; on WaitSent, for a deadline that passed with all
// the bytes still queued (a line that never drains), any other error for a
// queue that cannot be read. Any error on EndWait stands for a driver that
// completes a device wait neither when the mask is set again nor when it is
// cancelled: the port is not asked to end it, and the wait for its end runs
// into its bound.
enum class SerialCall : std::uint8_t {
    Open,
    GetAttributes,
    SetAttributes,
    SetTimeouts,
    Purge,
    SetMask,
    BytesWaiting,
    PollReceived,
    WaitReceived,
    EndWait,
    Read,
    Write,
    WaitWritable,
    WaitSent,
};
void FailNextSerialCall(SerialCall call, int error);
// Also ends a recording.
void ClearSerialFaults();
// Test seam: every step taken from now on, on any thread, in order.
void RecordSerialCalls();
std::vector<SerialCall> RecordedSerialCalls();

}  // namespace platform
