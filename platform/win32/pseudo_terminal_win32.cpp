#include "platform/pseudo_terminal.h"

namespace platform {

// Windows has no pseudo-terminal, and the simulator serves no COM port
// there: a serial test on Windows needs a null-modem pair and a Linux
// simulator on the far end.
bool OpenPseudoTerminal(ByteStream*, std::string*, std::string* error) {
    *error = "--serial: Windows has no pseudo-terminal; serve the tool over TCP (--port), or run the "
             "simulator on Linux for a serial line";
    return false;
}

bool OpenSerialEnd(const std::string&, ByteStream*, std::string* error) {
    *error = "--serial-device: the simulator serves serial lines on Linux only; serve the tool over TCP "
             "(--port) on Windows";
    return false;
}

}  // namespace platform
