#pragma once
// The test seam's side inside platform/: each OS's serial device asks here
// whether a test wants the step it is about to take to fail.

#include "platform/serial_device.h"

namespace platform {

// True, with the OS's last error set to the injected code, when a test asked
// this call to fail; the request is used up.
bool InjectedSerialFailure(SerialCall call);

}  // namespace platform
