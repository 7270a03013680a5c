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
#include "platform/com_port_paths.h"
#include "platform/event.h"
#include "platform/tcp_socket.h"
#include "settings/comm_settings.h"
#include "tools/flash_options.h"

namespace {

// The Operation page's channel parameters.
constexpr std::int32_t kConnectTimeoutMs = 2000;
constexpr std::uint32_t kTcpReceiveTimeoutMs = 50000;
constexpr std::uint16_t kSerialBaud = 19200;
constexpr std::uint32_t kSerialReadTimeoutMs = 1700;
// A Break repeats its stop request at this pace until the run has ended.
constexpr std::int64_t kStopRepeatMs = 200;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

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

}  // namespace

int main(int argc, char** argv) {
    const flash::FlashCommandLine command = flash::ParseFlashOptions(std::vector<std::string>(argv + 1, argv + argc));
    switch (command.outcome) {
        case tools::ParseOutcome::Run:
            break;
        case tools::ParseOutcome::Help:
            std::fputs(flash::FlashUsageText(), stdout);
            return kExitSuccess;
        case tools::ParseOutcome::Version:
            std::printf("%s\n", tools::VersionLine("vornic-flash").c_str());
            return kExitSuccess;
        case tools::ParseOutcome::UsageError:
            std::fprintf(stderr, "vornic-flash: %s\n\n%s", command.error.c_str(), flash::FlashUsageText());
            return kExitUsage;
    }
    const flash::FlashOptions& options = command.options;
    if (options.configPath) {
        std::printf("%s\n", ConfigFilePath().c_str());
        return kExitSuccess;
    }
    const flash::FlashTarget& target = options.targets.front();

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

    ConsoleContext context(options.file, isatty(STDOUT_FILENO) != 0);
    CCommChannel& channel = context.Channel();
    if (target.tcp) {
        channel.SetTcpParams(platform::HostToNetwork32(target.address), target.port,
                             options.connectTimeoutMs.value_or(kConnectTimeoutMs),
                             options.receiveTimeoutMs.value_or(kTcpReceiveTimeoutMs));
        channel.SetWay(kWayTcp);
    } else {
        if (!target.devicePath.empty()) platform::SetComPortPath(target.port, target.devicePath);
        channel.SetSerialParams(target.port, kSerialBaud, options.receiveTimeoutMs.value_or(kSerialReadTimeoutMs));
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
