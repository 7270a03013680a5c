#include "tools/flash/single_run.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "download/download_context.h"
#include "download/download_frame.h"
#include "download/download_thread.h"
#include "download/stop_wait.h"
#include "platform/event.h"
#include "platform/terminal.h"
#include "tools/command_line.h"
#include "tools/flash/flash_context.h"
#include "tools/flash/input_file.h"

namespace flash {

namespace {

using tools::kExitFailure;
using tools::kExitSuccess;

class ConsoleContext : public flash::FlashContext {
public:
    ConsoleContext(std::string path, bool terminal, const FlashOptions& options)
        : FlashContext(std::move(path)), m_terminal(terminal), m_quiet(options.quiet), m_verbose(options.verbose) {}

    void SetProgress(int percent) override {
        // The end sequence's return to 0 is for a progress bar, not a log.
        if (m_ended || m_quiet) return;
        if (m_verbose) ReplyLine(percent);
        if (percent == m_lastPercent) return;
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
    // The worker reports each frame as it is sent, and 100 once the last
    // reply came: a report means the frame before it had its reply.
    void ReplyLine(int percent) {
        int frame = 0;
        if (percent < 100 && ++m_framesSent > 1) frame = m_framesSent - 1;
        if (percent == 100) frame = kFrameCount;
        if (frame == 0) return;
        if (m_lineOpen) std::printf("\n");
        m_lineOpen = false;
        std::printf("frame %d: reply ok\n", frame);
    }

    bool m_terminal;
    bool m_quiet;
    bool m_verbose;
    int m_framesSent = 0;
    int m_lastPercent = -1;
    bool m_lineOpen = false;
    bool m_ended = false;
    bool m_succeeded = false;
};

}  // namespace

int RunSingle(const FlashOptions& options, platform::InterruptSignals& signals) {
    // The file is looked at before anything connects: a wrong name is the
    // system's reason, not a link that was opened for nothing.
    std::string note;
    if (const std::string problem = ImageProblem(options.file, &note); !problem.empty()) {
        std::fprintf(stderr, "vornic-flash: %s\n", problem.c_str());
        return kExitFailure;
    }
    if (!note.empty() && !options.quiet) std::fprintf(stderr, "vornic-flash: %s\n", note.c_str());
    ConsoleContext context(options.file, platform::StandardOutputIsTerminal(), options);
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
        std::_Exit(signals.RequestedExitStatus());
    }
    if (end == StopWaitEnd::Failed) {
        std::fprintf(stderr, "vornic-flash: waiting for the download failed\n");
        std::_Exit(kExitFailure);
    }
    if (const int status = signals.RequestedExitStatus(); status != 0) return status;
    return context.Succeeded() ? kExitSuccess : kExitFailure;
}

}  // namespace flash
