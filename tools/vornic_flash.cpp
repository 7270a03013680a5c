// vornic-flash: one firmware download from the command line, through the same
// worker and channel as the Operation page, with the page's parameters.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "comm/comm_channel.h"
#include "download/download_context.h"
#include "download/download_thread.h"
#include "platform/com_port_names.h"
#include "platform/event.h"
#include "platform/tcp_socket.h"
#include "settings/comm_settings.h"

namespace {

// The Operation page's channel parameters.
constexpr std::int32_t kConnectTimeoutMs = 2000;
constexpr std::uint32_t kTcpReceiveTimeoutMs = 50000;
constexpr std::uint16_t kSerialBaud = 19200;
constexpr std::uint32_t kSerialReadTimeoutMs = 1700;
constexpr std::uint16_t kHighestComPort = 20;
// A Break repeats its stop request at this pace until the run has ended.
constexpr std::int64_t kStopRepeatMs = 200;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: vornic-flash --tcp HOST:PORT [options] FILE\n"
    "       vornic-flash --serial PORT [options] FILE\n"
    "\n"
    "Downloads the first 65536 bytes of FILE into the display controller.\n"
    "  --tcp HOST:PORT         HOST a dotted IPv4 address (127.0.0.1), PORT 1..65535\n"
    "  --serial PORT           COM1..COM20, or a serial device path (used as COM1)\n"
    "  --receive-timeout MS    reply time-out (default 50000 on TCP, 1700 serial)\n"
    "  --connect-timeout MS    TCP connect time-out (default 2000)\n"
    "  --config-path           print the path of the window's Config.ini and exit\n"
    "  --help                  this text\n"
    "\n"
    "Ctrl-C breaks the download off. Exit status: 0 after\n"
    "\"Download firmware successfully!\", 1 after any other message, 2 on a\n"
    "usage error.\n";

class ConsoleContext : public DownloadContext {
public:
    ConsoleContext(std::string path, bool terminal) : m_path(std::move(path)), m_terminal(terminal) {}

    std::string FirmwarePath() const override { return m_path; }
    CCommChannel& Channel() override { return m_channel; }
    platform::Event& StopEvent() override { return m_stop; }
    platform::Event& IdleEvent() override { return m_idle; }
    std::atomic<std::uint8_t>& BusyFlag() override { return m_busy; }

    void SetProgress(int percent) override {
        // The end sequence's return to 0 is for a progress bar, not a log.
        if (m_ended || percent == m_lastPercent) return;
        m_lastPercent = percent;
        if (m_terminal) {
            std::printf("\r%3d%%", percent);
            m_lineOpen = true;
        } else {
            std::printf("progress %d%%\n", percent);
        }
        std::fflush(stdout);
    }
    void OnDownloadStarted() override {}
    void OnDownloadEnded() override { m_ended = true; }
    void ShowMessage(const std::string& text, MessageStyle style) override {
        if (m_lineOpen) std::printf("\n");
        m_lineOpen = false;
        std::fflush(stdout);
        std::fprintf(style == MessageStyle::Information ? stdout : stderr, "%s\n", text.c_str());
        std::fflush(style == MessageStyle::Information ? stdout : stderr);
        m_succeeded = text == download_text::kSuccess && style == MessageStyle::Information;
    }

    // Read after the idle event: the worker is done with the context then.
    bool Succeeded() const { return m_succeeded; }

private:
    std::string m_path;
    bool m_terminal;
    CCommChannel m_channel;
    platform::Event m_stop{platform::ResetMode::Auto, false};
    platform::Event m_idle{platform::ResetMode::Manual, true};
    std::atomic<std::uint8_t> m_busy{0};
    int m_lastPercent = -1;
    bool m_lineOpen = false;
    bool m_ended = false;
    bool m_succeeded = false;
};

bool ParseUnsigned(const std::string& text, unsigned long long high, unsigned long long* value) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::stoull(text);
    return *value <= high;
}

// Four decimal parts of 0..255, in host byte order. Names are refused: the
// tool has never resolved names, and a lookup could reach beyond the link.
bool ParseDottedQuad(const std::string& text, std::uint32_t* address) {
    std::uint32_t result = 0;
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.', start);
        if ((part < 3) != (dot != std::string::npos)) return false;
        const std::string piece = text.substr(start, dot == std::string::npos ? dot : dot - start);
        unsigned long long value;
        if (piece.size() > 3 || !ParseUnsigned(piece, 255, &value)) return false;
        result = (result << 8) | static_cast<std::uint32_t>(value);
        start = dot + 1;
    }
    *address = result;
    return true;
}

struct Command {
    bool help = false;
    bool configPath = false;
    bool tcp = false;
    std::uint32_t address = 0;  // host byte order
    std::uint16_t port = 0;     // TCP port or COM number
    std::string devicePath;
    std::int32_t connectTimeout = kConnectTimeoutMs;
    long long receiveTimeout = -1;
    std::string file;
};

bool ParseCommand(const std::vector<std::string>& args, Command* command, std::string* error) {
    bool transport = false;
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
        std::string text;
        unsigned long long n;
        if (arg == "--help" || arg == "-h") {
            command->help = true;
        } else if (arg == "--config-path") {
            command->configPath = true;
        } else if (arg == "--tcp" || arg == "--serial") {
            if (transport) {
                *error = "give one of --tcp and --serial";
                return false;
            }
            transport = true;
            if (!value(&text)) return false;
            if (arg == "--tcp") {
                command->tcp = true;
                const std::size_t colon = text.rfind(':');
                if (colon == std::string::npos || !ParseDottedQuad(text.substr(0, colon), &command->address) ||
                    !ParseUnsigned(text.substr(colon + 1), 65535, &n) || n == 0) {
                    *error = "--tcp: '" + text + "' is not HOST:PORT with a dotted IPv4 address";
                    return false;
                }
                command->port = static_cast<std::uint16_t>(n);
            } else {
                const std::uint16_t com = platform::ComNumberFromName(text);
                if (com >= 1 && com <= kHighestComPort) {
                    command->port = com;
                } else if (text.find('/') != std::string::npos) {
                    command->port = 1;
                    command->devicePath = text;
                } else {
                    *error = "--serial: '" + text + "' is neither COM1..COM20 nor a device path";
                    return false;
                }
            }
        } else if (arg == "--receive-timeout" || arg == "--connect-timeout") {
            if (!value(&text)) return false;
            if (!ParseUnsigned(text, 0x7fffffff, &n)) {
                *error = arg + ": '" + text + "' is not a count of milliseconds";
                return false;
            }
            if (arg == "--receive-timeout")
                command->receiveTimeout = static_cast<long long>(n);
            else
                command->connectTimeout = static_cast<std::int32_t>(n);
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            *error = "unknown option '" + arg + "'";
            return false;
        } else if (command->file.empty()) {
            command->file = arg;
        } else {
            *error = "one firmware file only";
            return false;
        }
    }
    if (command->help || command->configPath) return true;
    if (!transport) {
        *error = "give --tcp HOST:PORT or --serial PORT";
        return false;
    }
    if (command->file.empty()) {
        *error = "no firmware file given";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Command command;
    std::string error;
    if (!ParseCommand(std::vector<std::string>(argv + 1, argv + argc), &command, &error)) {
        std::fprintf(stderr, "vornic-flash: %s\n\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (command.help) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    if (command.configPath) {
        std::printf("%s\n", ConfigFilePath().c_str());
        return kExitSuccess;
    }

    // Ctrl-C arrives as data on a descriptor that the main thread waits on
    // together with the idle event; blocked before any thread starts, so the
    // worker and the channel's threads never see it.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("vornic-flash: signalfd");
        return kExitFailure;
    }

    ConsoleContext context(command.file, isatty(STDOUT_FILENO) != 0);
    CCommChannel& channel = context.Channel();
    if (command.tcp) {
        const auto timeout = command.receiveTimeout >= 0 ? static_cast<std::uint32_t>(command.receiveTimeout)
                                                         : kTcpReceiveTimeoutMs;
        channel.SetTcpParams(platform::HostToNetwork32(command.address), command.port,
                             command.connectTimeout, timeout);
        channel.SetWay(kWayTcp);
    } else {
        if (!command.devicePath.empty()) platform::SetComPortPath(command.port, command.devicePath);
        const auto timeout = command.receiveTimeout >= 0 ? static_cast<std::uint32_t>(command.receiveTimeout)
                                                         : kSerialReadTimeoutMs;
        channel.SetSerialParams(command.port, kSerialBaud, timeout);
        channel.SetWay(kWaySerial);
    }

    if (!StartDownloadThread(&context)) {
        std::fprintf(stderr, "vornic-flash: the download thread could not be started\n");
        return kExitFailure;
    }

    platform::Event* idle[] = {&context.IdleEvent()};
    bool stopping = false;
    for (;;) {
        short revents = 0;
        const int woke = platform::WaitForAnyOrDescriptor(idle, signalFd, POLLIN,
                                                          stopping ? kStopRepeatMs : platform::kInfinite,
                                                          &revents);
        if (woke == 0) break;
        if (woke == 1) {
            signalfd_siginfo info;
            if (read(signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
            if (stopping) {
                // A second Ctrl-C does not wait for a controller that may
                // take its whole reply time-out to answer.
                std::fprintf(stderr, "vornic-flash: stopped without waiting for the controller\n");
                std::fflush(stdout);
                std::_Exit(kExitFailure);
            }
            stopping = true;
            std::fprintf(stderr, "\nvornic-flash: stopping after the frame in flight\n");
            context.StopEvent().Set();
        } else if (woke == platform::kWaitTimeout) {
            context.StopEvent().Set();
        } else {
            std::fprintf(stderr, "vornic-flash: waiting for the download failed\n");
            std::_Exit(kExitFailure);
        }
    }
    close(signalFd);
    return context.Succeeded() ? kExitSuccess : kExitFailure;
}
