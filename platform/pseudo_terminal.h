#pragma once
// The controller simulator's end of a serial line: a new pseudo-terminal
// whose other end the tool opens, or an existing serial device. Both raw, at
// 19200 baud, and never blocking. Only where the OS offers them: elsewhere
// the calls fail with a reason that says so.

#include <string>

#include "platform/byte_stream.h"

namespace platform {

// Opens a new pseudo-terminal; *path is the name of the end the tool opens.
bool OpenPseudoTerminal(ByteStream* stream, std::string* path, std::string* error);

// Opens an existing serial device (or any other file that reads and writes).
bool OpenSerialEnd(const std::string& path, ByteStream* stream, std::string* error);

}  // namespace platform
