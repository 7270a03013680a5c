#include "tools/controller_sim/sim_options.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <limits>
#include <map>

#include "tools/command_line.h"

namespace sim {

namespace {

// A decimal or 0x-hex number within [low, high].
template <typename T>
std::optional<T> ParseNumber(std::string_view text, T low, T high) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return tools::ParseNumber(text.substr(2), low, high, 16);
    return tools::ParseNumber(text, low, high);
}

// A byte as a number (0x41, 65) or as one printable character other than a
// digit (A).
std::optional<std::uint8_t> ParseByte(std::string_view text) {
    if (const auto byte = ParseNumber<std::uint8_t>(text, 0, 255)) return byte;
    if (text.size() == 1 && std::isprint(static_cast<unsigned char>(text[0])))
        return static_cast<std::uint8_t>(text[0]);
    return std::nullopt;
}

// Only loopback: the simulator is a test peer, never a server on a network.
bool IsLoopbackAddress(const std::string& text) {
    const auto address = tools::ParseDottedQuad(text);
    return address && (*address >> 24) == 127;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
    Options o;
    bool sawFault = false;
    CLI::App app;

    auto addFault = [&](int frame, Fault fault, const std::string& option) {
        if (!o.session.faults.emplace(frame, fault).second)
            tools::RefuseValue(option, "frame " + std::to_string(frame) + " already has a fault");
        sawFault = true;
    };
    // An option that takes a number from low to high.
    auto numberOption = [&](const std::string& option, int low, int high, std::function<void(int)> take) {
        tools::AddValueOption(app, option, [=](const std::string& text) {
            const auto n = ParseNumber(text, low, high);
            if (!n)
                tools::RefuseValue(option, "'" + text + "' is not a number from " + std::to_string(low) + " to " +
                                               std::to_string(high));
            take(*n);
        });
    };

    // Transport.
    tools::AddValueOption(app, "--host", [&](const std::string& text) {
        if (!IsLoopbackAddress(text)) tools::RefuseValue("--host", "'" + text + "' is no loopback address (127.x.y.z)");
        o.host = text;
    });
    numberOption("--port", 0, 65535, [&](int n) { o.port = static_cast<std::uint16_t>(n); });
    tools::AddFlagOption(app, "--serial", [&] { o.transport = Transport::SerialPty; });
    tools::AddValueOption(app, "--serial-device", [&](const std::string& text) {
        o.devicePath = text;
        o.transport = Transport::SerialDevice;
    });

    // Replies.
    numberOption("--reply-len", 1, static_cast<int>(kMaxReplyLength),
                 [&](int n) { o.replyLength = static_cast<std::size_t>(n); });
    tools::AddValueOption(app, "--reply-fill", [&](const std::string& text) {
        const auto byte = ParseByte(text);
        if (!byte) tools::RefuseValue("--reply-fill", "'" + text + "' is no byte");
        o.session.replyFill = *byte;
    });
    numberOption("--delay-ms", 0, 600000, [&](int n) { o.delayMs = n; });
    tools::AddFlagOption(app, "--drip", [&] {
        if (o.dripMs < 0) o.dripMs = kDefaultDripMs;
    });
    numberOption("--drip-ms", 0, 10000, [&](int n) { o.dripMs = n; });

    // Faults.
    tools::AddValueOption(app, "--fault-reply", [&](const std::string& text) {
        const std::size_t at = text.rfind('@');
        std::optional<std::uint8_t> byte;
        std::optional<int> frame;
        if (at != std::string::npos) {
            byte = ParseByte(std::string_view(text).substr(0, at));
            frame = ParseNumber(std::string_view(text).substr(at + 1), 0, kFrameCount - 1);
        }
        if (!byte || !frame)
            tools::RefuseValue("--fault-reply", "'" + text + "' is not BYTE@FRAME (for example 0x02@5)");
        addFault(*frame, Fault{FaultKind::Reply, *byte}, "--fault-reply");
    });
    numberOption("--fault-silent", 0, kFrameCount - 1,
                 [&](int frame) { addFault(frame, Fault{FaultKind::Silent, 0}, "--fault-silent"); });
    numberOption("--fault-close", 0, kFrameCount - 1,
                 [&](int frame) { addFault(frame, Fault{FaultKind::Close, 0}, "--fault-close"); });
    tools::AddFlagOption(app, "--mute", [&] { o.mute = true; });
    numberOption("--faulty-sessions", 1, std::numeric_limits<int>::max(),
                 [&](int n) { o.session.faultySessions = n; });

    // Output and ending.
    tools::AddValueOption(app, "--image", [&](const std::string& text) { o.imagePath = text; });
    tools::AddFlagOption(app, "-v,--verbose", [&] { o.verbose = true; });
    tools::AddFlagOption(app, "--once", [&] { o.sessions = 1; });
    numberOption("--sessions", 1, std::numeric_limits<int>::max(), [&](int n) { o.sessions = n; });

    // Several controllers.
    numberOption("--count", 1, kMaxControllers, [&](int n) { o.count = n; });
    tools::AddValueOption(app, "--write-targets", [&](const std::string& text) { o.targetsPath = text; });

    switch (tools::ParseCommandLine(app, args, error)) {
        case tools::ParseOutcome::UsageError:
            return false;
        case tools::ParseOutcome::Help:
            o.help = true;
            break;
        case tools::ParseOutcome::Version:
            o.version = true;
            break;
        case tools::ParseOutcome::Run:
            if (o.mute && (sawFault || o.dripMs >= 0 || o.delayMs > 0)) {
                *error = "--mute answers nothing: it takes no fault, delay or drip";
                return false;
            }
            break;
    }
    if (o.replyLength == 0)
        o.replyLength = o.transport == Transport::Tcp ? kTcpReplyLength : kSerialReplyLength;
    o.session.replyLength = o.replyLength;
    *options = o;
    return true;
}

bool ParseControllers(const std::vector<std::string>& args, std::vector<Options>* controllers, std::string* error) {
    std::vector<std::string> common;
    std::map<int, std::vector<std::string>> own;
    std::vector<std::string>* into = &common;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--for") {
            if (into != &common && (args[i].starts_with("--count") || args[i].starts_with("--write-targets"))) {
                *error = args[i] + ": give it before the first --for";
                return false;
            }
            into->push_back(args[i]);
            continue;
        }
        const auto k = i + 1 < args.size() ? ParseNumber(args[i + 1], 1, kMaxControllers) : std::nullopt;
        if (!k) {
            *error = "--for: give the number of a controller, 1 to " + std::to_string(kMaxControllers);
            return false;
        }
        into = &own[*k];
        ++i;
    }
    Options base;
    if (!ParseOptions(common, &base, error)) return false;
    controllers->clear();
    if (base.help || base.version) {
        controllers->push_back(base);
        return true;
    }
    if (base.count > 1 && base.transport == Transport::SerialDevice) {
        *error = "--count: one --serial-device serves one controller";
        return false;
    }
    if (!own.empty() && own.rbegin()->first > base.count) {
        *error = "--for " + std::to_string(own.rbegin()->first) + ": there are " + std::to_string(base.count) +
                 " controllers";
        return false;
    }
    for (int k = 1; k <= base.count; ++k) {
        Options o = base;
        if (const auto group = own.find(k); group != own.end()) {
            std::vector<std::string> mine = common;
            mine.insert(mine.end(), group->second.begin(), group->second.end());
            if (!ParseOptions(mine, &o, error)) {
                *error = "--for " + std::to_string(k) + ": " + *error;
                return false;
            }
        }
        if (base.count > 1) {
            if (o.port != 0 && o.port + base.count - 1 > 65535) {
                *error = "--port " + std::to_string(o.port) + " leaves no room for " + std::to_string(base.count) +
                         " consecutive ports";
                return false;
            }
            if (o.port != 0) o.port = static_cast<std::uint16_t>(o.port + k - 1);
            if (!o.imagePath.empty()) o.imagePath += "." + std::to_string(k);
        }
        controllers->push_back(o);
    }
    return true;
}

std::string HelpText() {
    return R"(Usage: vornic-controller-sim [options]

Plays the display controller for firmware downloads: checks every 136-byte
frame (header 5A A5 88 FF, block index 0..255 twice in order, 0x46, XOR
checksum of the 128 data bytes, 0x00) and answers 0x12 for a good frame and
0x02 for a bad one. Frames are numbered 0..511 within the image.

Transport (TCP unless told otherwise):
  --host ADDR          listen address, a loopback dotted quad (default 127.0.0.1)
  --port N             TCP port, 0 picks a free one (default 10001)
                       First line of output: "listening ADDR:PORT"
  --serial             serve a new pseudo-terminal; first line "serial PATH",
                       the path the tool opens (COM name mapped to it)
  --serial-device PATH serve an existing serial device; first line "serial PATH"

Replies:
  --reply-len N        reply length, 1..64 bytes (default 24 on TCP, 8 serial)
  --reply-fill BYTE    the bytes after the first one (default 0x12)
  --delay-ms MS        wait MS before each reply
  --drip               send replies one byte per write, 2 ms apart
  --drip-ms MS         the same with MS between the bytes

Faults, at frame N (0..511) of every image; a frame has at most one:
  --fault-reply BYTE@N answer frame N with BYTE first (0x02@5, A@5, 0@5)
  --fault-silent N     do not answer frame N; keep the connection
  --fault-close N      hang up at frame N (serial: the pseudo-terminal or
                       device is closed and the simulator ends)
  --mute               accept connections but neither read nor answer
  --faulty-sessions N  the faults play in the first N sessions only, so that
                       a tool that tries again succeeds

Output:
  --image PATH         write each whole image (65536 bytes) to PATH, before
                       the reply to its last frame goes out
  --verbose, -v        log sessions and refused frames on standard error

Ending:
  --once               end after the first session (same as --sessions 1)
  --sessions N         end after N sessions (TCP: connections; serial: spells
                       of traffic between hang-ups)

Several controllers:
  --count N            play N controllers at once (1..256): N listeners (on
                       free ports with --port 0, else on consecutive ports)
                       or N pseudo-terminals; one first line each. --image
                       PATH becomes PATH.1, PATH.2, ...
  --for K OPTIONS...   the options after it apply to controller K only (its
                       own faults, delay...), up to the next --for
  --write-targets FILE write a vornic-flash targets file naming each
                       controller (sim-1, sim-2, ...)
  --help, -h           this text
  --version            the program's version

SIGINT or SIGTERM also ends it. At the end it prints
  summary: frames=F bad=B images=I complete=yes|no sessions=S
(with several controllers, first one "summary K: ..." line for each, then
their sum) and exits 0 when the last image arrived whole and in order (at
every controller), 1 when not, 2 on a usage error.
BYTE is a number (0x41, 65) or one printable non-digit character (A).
)";
}

}  // namespace sim
