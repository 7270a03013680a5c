// vornic-flash: firmware downloads from the command line, through the same
// worker and channel as the Operation page, with the page's parameters: one
// target in this process, or a fleet of them, each in a process of its own.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "comm/com_port_numbering.h"
#include "comm/comm_channel.h"
#include "download/download_context.h"
#include "download/download_thread.h"
#include "download/stop_wait.h"
#include "platform/event.h"
#include "platform/interrupt_signals.h"
#include "platform/program_arguments.h"
#include "platform/tcp_socket.h"
#include "platform/terminal.h"
#include "settings/comm_settings.h"
#include "tools/flash_context.h"
#include "tools/flash_options.h"
#include "tools/fleet_child.h"
#include "tools/fleet_run.h"
#include "tools/port_table.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

class ConsoleContext : public flash::FlashContext {
public:
    ConsoleContext(std::string path, bool terminal) : FlashContext(std::move(path)), m_terminal(terminal) {}

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
    bool m_terminal;
    int m_lastPercent = -1;
    bool m_lineOpen = false;
    bool m_ended = false;
    bool m_succeeded = false;
};

}  // namespace

int main(int argc, char** argv) {
    platform::PrepareStandardOutput();
    const flash::FlashCommandLine command = flash::ParseFlashOptions(platform::ProgramArguments(argc, argv));
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
    if (options.listPorts) {
        LoadComPortOverrides(ConfigFilePath());
        std::fputs(flash::PortTableText(RefreshComPorts()).c_str(), stdout);
        return kExitSuccess;
    }

    // Ctrl-C arrives as data that the main thread waits on together with the
    // idle event or the children; blocked before any thread starts, so the
    // worker and the channel's threads never see it.
    platform::InterruptSignals signals;
    if (!signals.IsValid()) {
        std::perror("vornic-flash: signalfd");
        return kExitFailure;
    }
    if (options.parentId != 0) return flash::RunFleetChild(options, signals);
    if (options.fleet) return flash::RunFleet(options, signals);

    ConsoleContext context(options.file, platform::StandardOutputIsTerminal());
    flash::SetUpTargetChannel(context.Channel(), options.targets.front(), options);

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
