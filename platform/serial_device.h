#pragma once
// The serial device under CSerialPort: a terminal opened exclusively and set
// up with termios. Each call stands for one step of the port's logic (read the
// settings, build the control block from a mode text, apply it, purge, count
// the waiting bytes, wait for a received character, read one byte, write) and
// reports a failure by its result with errno set, so that the caller can take
// the system's text right after the call.

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/event.h"

namespace platform {

// The OS's device for COM `port` when no override names one: /dev/ttyS<n-1>
// here (COM1 is /dev/ttyS0).
std::string DefaultComDevicePath(std::uint16_t port);

// A device descriptor. Descriptor 0 is a real descriptor, so "closed" needs a
// value of its own besides "could not be opened".
using ComHandle = int;
inline constexpr ComHandle kInvalidComHandle = -1;
inline constexpr ComHandle kNullComHandle = -2;
inline bool IsOpenComHandle(ComHandle h) { return h >= 0; }

// Opens the device for reading and writing, non-blocking, exclusively: TIOCEXCL
// keeps other users off, and an exclusive flock keeps off other instances that
// run as root (root ignores TIOCEXCL). kInvalidComHandle with errno on failure;
// a port held by someone else fails with EWOULDBLOCK or EBUSY.
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

// The current settings of the device (tcgetattr, and the modem lines where the
// device has them).
bool GetCommState(ComHandle h, DeviceControlBlock* dcb);

// Sets baud rate, parity, data bits and stop bits from a mode text such as
// "baud=19200 parity=N data=8 stop=1". Rejects with EINVAL, leaving `dcb` as it
// was, what no device can do: an unknown key, a baud rate termios has no speed
// for, a parity letter other than N, E, O, M, S, data bits outside 5..8, stop
// bits other than 1, 1.5, 2.
bool BuildCommDCB(const std::string& mode, DeviceControlBlock* dcb);

// Applies the block: raw mode, CLOCAL and CREAD, no software flow control,
// hardware flow control only when the block asks for it; then DTR and RTS as
// the block says where the device has modem lines. EINVAL for a combination
// the line can't carry (1.5 stop bits need 5 data bits, 2 stop bits need more
// than 5, DSR handshake, DTR handshake).
bool SetCommState(ComHandle h, const DeviceControlBlock& dcb);

// The device's time-outs, in milliseconds. Only the write time-out applies
// here: WriteTimeLimit gives it for a write of `length` bytes.
struct CommTimeouts {
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;
};
// Checks that the device can take time-outs (it is a terminal); the caller
// keeps the record and applies the write time-out to its writes.
bool SetCommTimeouts(ComHandle h, const CommTimeouts& timeouts);
std::chrono::milliseconds WriteTimeLimit(const CommTimeouts& timeouts, std::uint32_t length);

// Discards both queues (tcflush TCIOFLUSH).
bool PurgeComm(ComHandle h);

// The number of received bytes waiting to be read (FIONREAD).
bool BytesWaiting(ComHandle h, std::uint32_t* count);

// Starting the wait for a received character: a look at the device without
// waiting. The read event is reset first and signalled when the device has
// something to report at once (a character, or a hang-up: *hungUp is then
// true). EINVAL from the look is the rejected-parameter case.
enum class CommWaitStart { Completed, Pending, InvalidParameter, Failed };
CommWaitStart StartCommEventWait(ComHandle h, Event& readEvent, bool* hungUp);

// Waits without limit for the read event, the interrupt event, or (when
// `watchDevice`) the device to report a character or a hang-up, which signals
// the read event. 0 for the read event, 1 for the interrupt event,
// kWaitFailed otherwise. When the device is ready as the interrupt comes, the
// read event wins and the interrupt stays signalled.
int WaitCommEventOrInterrupt(ComHandle h, bool watchDevice, Event& readEvent, Event& interrupt,
                             bool* hungUp);

// One byte. NoByte when nothing could be read without waiting; Failed with
// errno when the device failed or has gone (a read of 0 bytes counts as EIO).
enum class ByteRead { One, NoByte, Failed };
ByteRead ReadOneByte(ComHandle h, std::uint8_t* byte);

// A write in two steps, as an asynchronous write completes: StartWrite makes
// one attempt without waiting and tells whether all went out at once; when it
// is Pending, FinishWrite writes the rest until `deadline`. *moved counts the
// bytes written so far. FinishWrite is true when all bytes went out or the
// deadline passed (the count then tells how far it got), false with errno when
// the device failed or hung up. EINVAL from the first attempt is the
// rejected-parameter case.
enum class WriteStart { Completed, Pending, InvalidParameter, Failed };
WriteStart StartWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length,
                      std::uint32_t* moved);
bool FinishWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length,
                 std::uint32_t* moved, std::chrono::steady_clock::time_point deadline);

// Waits until the bytes written have left the device's output queue
// (TIOCOUTQ at 0), looking again after short sleeps until `deadline`. When
// the deadline passes first, *unsent is what was still queued, at most
// `length`, and those bytes are discarded: the rest of a write that ran out
// of time never goes out later. A queue that cannot be read (a line that
// hung up) ends the wait as sent. A pseudo-terminal hands its bytes to the
// other side at once: its queue always reads 0.
void WaitUntilSent(ComHandle h, std::uint32_t length, std::uint32_t* unsent,
                   std::chrono::steady_clock::time_point deadline);

// Test seam: the next call of the named step fails with `error` before it
// touches the device. ETIMEDOUT on WaitWritable stands for a write deadline
// that has passed; on WaitSent, for a deadline that passed with all the
// bytes still queued (a line that never drains), any other error for a queue
// that cannot be read.
enum class SerialCall {
    Open,
    GetAttributes,
    SetAttributes,
    SetTimeouts,
    Purge,
    BytesWaiting,
    PollReceived,
    WaitReceived,
    Read,
    Write,
    WaitWritable,
    WaitSent,
};
void FailNextSerialCall(SerialCall call, int error);
void ClearSerialFaults();

}  // namespace platform
