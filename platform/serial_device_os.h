#pragma once
// The OS calls under the serial device's steps, one file per OS. The test
// seam, the checks and the classification of a result are serial_device.cpp's;
// a call here reports a failure by its result with the OS's last error set.
// Private to platform/.

#include "platform/serial_device.h"

namespace platform::os {

enum class Start : std::uint8_t { Completed, Pending, Failed };

ComHandle OpenComDevice(const std::string& path);
void CloseComDevice(ComHandle h);
bool GetCommState(ComHandle h, DeviceControlBlock* dcb);
bool BuildCommDCB(const std::string& mode, DeviceControlBlock* dcb);
bool SetCommState(ComHandle h, const DeviceControlBlock& dcb);
bool SetCommTimeouts(ComHandle h, const CommTimeouts& timeouts);
bool PurgeComm(ComHandle h);
// Drops what is still queued for sending.
void DiscardOutput(ComHandle h);
bool SetCommMask(ComHandle h, std::uint32_t mask);
bool BytesWaiting(ComHandle h, std::uint32_t* count);

// The read event is reset already; Completed signals it.
Start StartCommEventWait(ComHandle h, Event& readEvent, bool* hungUp);
// 0 for the read event or the device, 1 for the interrupt, kWaitFailed.
int WaitCommEventOrInterrupt(ComHandle h, bool watchDevice, Event& readEvent, Event& interrupt,
                             bool* hungUp);
// Once the interrupt has won: ends a device wait still under way (asking the
// driver only when `ask`), and tells whether the device had a character or a
// hang-up to report all the same.
void EndCommEventWait(ComHandle h, bool ask, bool* ready, bool* hungUp);

ByteRead ReadOneByte(ComHandle h, std::uint8_t* byte);
Start StartWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length, std::uint32_t* moved);
bool FinishWrite(ComHandle h, const std::uint8_t* data, std::uint32_t length, std::uint32_t* moved,
                 std::chrono::steady_clock::time_point deadline);
// Ends a write still under way where it got to; *moved is what went out.
void AbandonWrite(ComHandle h, std::uint32_t* moved);
void WaitUntilSent(ComHandle h, std::uint32_t length, std::uint32_t* unsent,
                   std::chrono::steady_clock::time_point deadline);

}  // namespace platform::os
