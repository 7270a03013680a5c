#include "tools/controller_sim/sim_options.h"

#include <cctype>
#include <limits>

namespace sim {

namespace {

// A decimal, 0x-hex or 0-octal number within [low, high].
bool ParseNumber(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty()) return false;
    int base = 10;
    std::size_t i = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    long long result = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            return false;
        if (digit >= base) return false;
        result = result * base + digit;
        if (result > high) return false;
    }
    if (result < low) return false;
    *value = result;
    return true;
}

// A byte as a number (0x41, 65) or as one printable character other than a
// digit (A).
bool ParseByte(const std::string& text, std::uint8_t* byte) {
    long long value;
    if (ParseNumber(text, 0, 255, &value)) {
        *byte = static_cast<std::uint8_t>(value);
        return true;
    }
    if (text.size() == 1 && std::isprint(static_cast<unsigned char>(text[0]))) {
        *byte = static_cast<std::uint8_t>(text[0]);
        return true;
    }
    return false;
}

bool ParseFrame(const std::string& text, int* frame) {
    long long value;
    if (!ParseNumber(text, 0, kFrameCount - 1, &value)) return false;
    *frame = static_cast<int>(value);
    return true;
}

// Only loopback: the simulator is a test peer, never a server on a network.
bool ParseLoopbackAddress(const std::string& text) {
    int parts = 0;
    std::size_t start = 0;
    bool first127 = false;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        const std::string part = text.substr(start, dot == std::string::npos ? dot : dot - start);
        long long value;
        if (part.size() > 3 || !ParseNumber(part, 0, 255, &value) || part.find_first_not_of("0123456789") != std::string::npos)
            return false;
        if (parts == 0) first127 = value == 127;
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts == 4 && first127;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error) {
    Options o;
    bool sawFault = false;
    auto addFault = [&](int frame, Fault fault, const std::string& option) {
        if (!o.session.faults.emplace(frame, fault).second) {
            *error = option + ": frame " + std::to_string(frame) + " already has a fault";
            return false;
        }
        sawFault = true;
        return true;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                *error = arg + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto number = [&](long long low, long long high, long long* out) {
            std::string text;
            if (!value(&text)) return false;
            if (!ParseNumber(text, low, high, out)) {
                *error = arg + ": '" + text + "' is not a number from " + std::to_string(low) +
                         " to " + std::to_string(high);
                return false;
            }
            return true;
        };
        long long n;
        std::string text;

        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--host") {
            if (!value(&text)) return false;
            if (!ParseLoopbackAddress(text)) {
                *error = "--host: '" + text + "' is no loopback address (127.x.y.z)";
                return false;
            }
            o.host = text;
        } else if (arg == "--port") {
            if (!number(0, 65535, &n)) return false;
            o.port = static_cast<std::uint16_t>(n);
        } else if (arg == "--serial") {
            o.transport = Transport::SerialPty;
        } else if (arg == "--serial-device") {
            if (!value(&o.devicePath)) return false;
            o.transport = Transport::SerialDevice;
        } else if (arg == "--image") {
            if (!value(&o.imagePath)) return false;
        } else if (arg == "--reply-len") {
            if (!number(1, kMaxReplyLength, &n)) return false;
            o.replyLength = static_cast<std::size_t>(n);
        } else if (arg == "--reply-fill") {
            if (!value(&text)) return false;
            if (!ParseByte(text, &o.session.replyFill)) {
                *error = "--reply-fill: '" + text + "' is no byte";
                return false;
            }
        } else if (arg == "--fault-reply") {
            if (!value(&text)) return false;
            const std::size_t at = text.rfind('@');
            Fault fault{FaultKind::Reply, 0};
            int frame;
            if (at == std::string::npos || !ParseByte(text.substr(0, at), &fault.byte) ||
                !ParseFrame(text.substr(at + 1), &frame)) {
                *error = "--fault-reply: '" + text + "' is not BYTE@FRAME (for example 0x02@5)";
                return false;
            }
            if (!addFault(frame, fault, arg)) return false;
        } else if (arg == "--fault-silent" || arg == "--fault-close") {
            if (!number(0, kFrameCount - 1, &n)) return false;
            const FaultKind kind = arg == "--fault-silent" ? FaultKind::Silent : FaultKind::Close;
            if (!addFault(static_cast<int>(n), Fault{kind, 0}, arg)) return false;
        } else if (arg == "--delay-ms") {
            if (!number(0, 600000, &n)) return false;
            o.delayMs = static_cast<int>(n);
        } else if (arg == "--drip") {
            if (o.dripMs < 0) o.dripMs = kDefaultDripMs;
        } else if (arg == "--drip-ms") {
            if (!number(0, 10000, &n)) return false;
            o.dripMs = static_cast<int>(n);
        } else if (arg == "--mute") {
            o.mute = true;
        } else if (arg == "--once") {
            o.sessions = 1;
        } else if (arg == "--sessions") {
            if (!number(1, std::numeric_limits<int>::max(), &n)) return false;
            o.sessions = static_cast<int>(n);
        } else if (arg == "--verbose" || arg == "-v") {
            o.verbose = true;
        } else {
            *error = "unknown option '" + arg + "'";
            return false;
        }
    }
    if (o.mute && (sawFault || o.dripMs >= 0 || o.delayMs > 0)) {
        *error = "--mute answers nothing: it takes no fault, delay or drip";
        return false;
    }
    if (o.replyLength == 0)
        o.replyLength = o.transport == Transport::Tcp ? kTcpReplyLength : kSerialReplyLength;
    o.session.replyLength = o.replyLength;
    *options = o;
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

Output:
  --image PATH         write each whole image (65536 bytes) to PATH, before
                       the reply to its last frame goes out
  --verbose, -v        log sessions and refused frames on standard error

Ending:
  --once               end after the first session (same as --sessions 1)
  --sessions N         end after N sessions (TCP: connections; serial: spells
                       of traffic between hang-ups)
  --help, -h           this text

SIGINT or SIGTERM also ends it. At the end it prints
  summary: frames=F bad=B images=I complete=yes|no sessions=S
and exits 0 when the last image arrived whole and in order, 1 when not,
2 on a usage error.
BYTE is a number (0x41, 65) or one printable non-digit character (A).
)";
}

}  // namespace sim
