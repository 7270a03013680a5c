#pragma once
// The simulator's command line.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/controller_sim/controller_session.h"

namespace sim {

enum class Transport { Tcp, SerialPty, SerialDevice };

inline constexpr std::uint16_t kDefaultPort = 10001;  // the tool's default PortNo
inline constexpr std::size_t kTcpReplyLength = 24;    // eight receives of up to 3 bytes
inline constexpr std::size_t kSerialReplyLength = 8;  // the count the tool reads
inline constexpr int kDefaultDripMs = 2;
inline constexpr int kMaxControllers = 256;

struct Options {
    Transport transport = Transport::Tcp;
    std::string host = "127.0.0.1";
    std::uint16_t port = kDefaultPort;
    std::string devicePath;  // --serial-device
    std::string imagePath;
    std::size_t replyLength = 0;  // 0: the transport's default
    SessionConfig session;
    int delayMs = 0;
    int dripMs = -1;  // -1: each reply in one write
    bool mute = false;
    int sessions = 0;  // 0: until stopped
    int count = 1;     // controllers played at once
    std::string targetsPath;  // where vornic-flash's targets file for them goes
    bool verbose = false;
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name. False with a reason in
// *error for a usage error; --help and --version are no error.
bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);

// The options of every controller of a --count run: those before the first
// "--for K" apply to all, those after it to controller K (1-based) as well.
// With several controllers, a fixed --port is the first of consecutive
// ports, and --image PATH becomes PATH.K. --help and --version give one.
bool ParseControllers(const std::vector<std::string>& args, std::vector<Options>* controllers, std::string* error);

std::string HelpText();

}  // namespace sim
