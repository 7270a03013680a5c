#pragma once
// Private to platform/: Winsock is started once per process, by the first
// file of this folder that needs a socket.

namespace platform {

// True once WSAStartup has succeeded; it is called at most once.
bool StartWinsock();

}  // namespace platform
