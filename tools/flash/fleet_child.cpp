#include "tools/flash/fleet_child.h"

#include <cstdio>

#include "download/download_thread.h"
#include "download/stop_wait.h"
#include "platform/child_process.h"
#include "tools/flash/flash_context.h"
#include "tools/flash/fleet_protocol.h"

namespace flash {

namespace {

void Emit(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

class ChildContext : public FlashContext {
public:
    using FlashContext::FlashContext;

    void SetProgress(int percent) override {
        if (m_ended) return;
        // The worker reports each frame once it is sent, then 100 at the end.
        // Every frame is passed on: should this process end without its
        // result, the parent still knows what the controller was sent.
        if (percent < 100) ++m_frameReports;
        Emit(ProgressLine(percent, m_frameReports));
    }
    void OnDownloadStarted() override {}
    void OnDownloadEnded() override { m_ended = true; }
    void ShowMessage(const std::string& text, MessageStyle style) override {
        m_message = text;
        m_ok = style == MessageStyle::Information && text == download_text::kSuccess;
    }

    // Read after the idle event: the worker is done with the context then.
    bool Succeeded() const { return m_ok; }
    std::string EndOfRun() const { return EndLine(m_ok, FramesAcknowledged(m_frameReports, m_ok, m_message), m_message); }

private:
    int m_frameReports = 0;
    bool m_ended = false;
    bool m_ok = false;
    std::string m_message;
};

}  // namespace

int RunFleetChild(const FlashOptions& options, platform::InterruptSignals& signals) {
    if (!platform::FollowParent(options.parentId)) {
        Emit(EndLine(false, 0, "the fleet run that started this download has ended"));
        return 1;
    }
    ChildContext context(options.file);
    SetUpTargetChannel(context.Channel(), options.targets.front(), options);
    if (!StartDownloadThread(&context)) {
        Emit(EndLine(false, 0, "the download thread could not be started"));
        return 1;
    }

    platform::Event* idle[] = {&context.IdleEvent()};
    const int woke = signals.WaitForAnyOrInterrupt(idle, platform::kInfinite);
    if (woke == 1) {
        context.StopEvent().Set();
        // Each further interrupt is the same Break again.
        while (StopUntilIdle(context.IdleEvent(), context.StopEvent(), &signals) == StopWaitEnd::Interrupted)
            context.StopEvent().Set();
    }
    // Whatever the wait did, the end line waits for the end of the run.
    context.IdleEvent().Wait(platform::kInfinite);
    Emit(context.EndOfRun());
    return context.Succeeded() ? 0 : 1;
}

}  // namespace flash
