// vornic-flash: one firmware download from the command line, through the same
// worker and channel as the Operation page, with the page's parameters.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "comm/comm_channel.h"
#include "download/download_context.h"
#include "download/download_link.h"
#include "download/download_thread.h"
#include "download/stop_wait.h"
#include "platform/com_port_names.h"
#include "platform/event.h"
#include "platform/interrupt_signals.h"
#include "tools/flash_options.h"

namespace {

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
    const flash::FlashTarget& target = options.targets.front();

    // Ctrl-C arrives as data that the main thread waits on together with the
    // idle event; blocked before any thread starts, so the worker and the
    // channel's threads never see it.
    platform::InterruptSignals signals;
    if (!signals.IsValid()) {
        std::perror("vornic-flash: signalfd");
        return kExitFailure;
    }

    ConsoleContext context(options.file, isatty(STDOUT_FILENO) != 0);
    DownloadLink link;
    link.way = target.tcp ? kWayTcp : kWaySerial;
    link.address = target.address;
    link.port = target.port;
    link.com = target.port;
    if (options.connectTimeoutMs) link.connectTimeoutMs = *options.connectTimeoutMs;
    if (options.receiveTimeoutMs) link.tcpReceiveTimeoutMs = link.serialReadTimeoutMs = *options.receiveTimeoutMs;
    if (!target.tcp && !target.devicePath.empty()) platform::SetComPortPath(target.port, target.devicePath);
    SetUpDownloadChannel(context.Channel(), link);

    if (!StartDownloadThread(&context)) {
        std::fprintf(stderr, "vornic-flash: the download thread could not be started\n");
        return kExitFailure;
    }

    platform::Event* idle[] = {&context.IdleEvent()};
    StopWaitEnd end = StopWaitEnd::Idle;
    const int woke = signals.WaitForAnyOrInterrupt(idle, platform::kInfinite);
    if (woke == 1) {
        std::fprintf(stderr, "\nvornic-flash: stopping after the frame in flight\n");
        context.StopEvent().Set();
        end = StopUntilIdle(context.IdleEvent(), context.StopEvent(), &signals);
    } else if (woke != 0) {
        end = StopWaitEnd::Failed;
    }
    if (end == StopWaitEnd::Interrupted) {
        // A second Ctrl-C does not wait for a controller that may take its
        // whole reply time-out to answer.
        std::fprintf(stderr, "vornic-flash: stopped without waiting for the controller\n");
        std::fflush(stdout);
        std::_Exit(kExitFailure);
    }
    if (end == StopWaitEnd::Failed) {
        std::fprintf(stderr, "vornic-flash: waiting for the download failed\n");
        std::_Exit(kExitFailure);
    }
    return context.Succeeded() ? kExitSuccess : kExitFailure;
}
