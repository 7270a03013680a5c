#include "tools/flash/fleet_run.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

#include "download/download_frame.h"
#include "download/download_thread.h"
#include "platform/child_process.h"
#include "platform/file_error.h"
#include "platform/module_path.h"
#include "platform/read_only_file.h"
#include "platform/temp_folder.h"
#include "tools/flash/fleet_check.h"
#include "tools/flash/fleet_protocol.h"
#include "tools/flash/fleet_report.h"
#include "tools/flash/fleet_view.h"
#include "tools/flash/rollout.h"
#include "tools/flash/sha256.h"

namespace flash {

namespace {

using tools::kExitFailure;
using tools::kExitSuccess;
using tools::kExitUsage;

// The plain lines mark every tenth percent.
constexpr int kPlainProgressStep = 10;

using SystemClock = std::chrono::system_clock;
using SteadyClock = std::chrono::steady_clock;

// The image as the window would read it, held open for the whole run so that
// nobody rewrites it meanwhile. On failure, the message every target gets.
class FleetImage {
public:
    bool Load(const std::string& path, std::string* message) {
        platform::FileErrorCause cause = platform::FileErrorCause::None;
        if (!m_file.Open(path, &cause)) {
            *message = platform::FileErrorText(cause, path);
            return false;
        }
        try {
            if (m_file.Length() < kImageSize) {
                *message = download_text::kFileTooShort;
                return false;
            }
            m_bytes.resize(kImageSize);
            if (m_file.Read(m_bytes.data(), kImageSize) < kImageSize || m_file.ChangedSinceOpen()) {
                *message = download_text::kReadError;
                return false;
            }
        } catch (const platform::FileError&) {
            *message = download_text::kUnexpected;
            return false;
        }
        m_facts = {kImageSize, tools::Sha256Hex(m_bytes.data(), m_bytes.size())};
        return true;
    }

    // Writes the bytes that are sent, and only those, to `path`.
    bool WriteCopy(const std::string& path) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(m_bytes.data()), static_cast<std::streamsize>(m_bytes.size()));
        return static_cast<bool>(out.flush());
    }

    const ImageFacts& Facts() const { return m_facts; }

private:
    platform::ReadOnlyFile m_file;
    std::vector<std::uint8_t> m_bytes;
    ImageFacts m_facts;
};

// The private folder of the copies, removed with everything in it.
class CopyFolder {
public:
    bool Create(std::string* error) {
        m_path = platform::MakePrivateTempFolder("vornic-flash-", error);
        return !m_path.empty();
    }
    ~CopyFolder() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    std::string CopyPath(std::size_t index) const { return m_path + "/target-" + std::to_string(index + 1) + ".bin"; }

private:
    std::string m_path;
};

// One attempt under way: its process and what it has said so far.
struct Running {
    std::size_t index = 0;
    platform::ChildProcess child;
    std::string output;
    ChildLine end;
    std::optional<long long> connectMs;
    Attempt attempt;
    SteadyClock::time_point started;
};

bool Retryable(const std::string& message) {
    return message == download_text::kCommInitError || message == download_text::kNothingRead ||
           message == download_text::kSendOrStop;
}

std::vector<std::string> ChildArguments(const FlashOptions& options, const FlashTarget& target,
                                        const std::string& copy) {
    std::vector<std::string> args = {platform::ExecutablePath(), "--fleet-child",
                                     std::to_string(platform::ProcessId())};
    if (target.tcp)
        args.insert(args.end(), {"--tcp", target.text});
    else
        args.insert(args.end(), {"--serial", target.devicePath.empty() ? target.text : target.devicePath});
    if (options.connectTimeoutMs) args.insert(args.end(), {"--connect-timeout", std::to_string(*options.connectTimeoutMs)});
    if (options.receiveTimeoutMs) args.insert(args.end(), {"--receive-timeout", std::to_string(*options.receiveTimeoutMs)});
    if (options.check)
        args.push_back("--check");
    else
        args.insert(args.end(), {"--", copy});
    return args;
}

class Fleet {
public:
    Fleet(const FlashOptions& options, platform::InterruptSignals& signals)
        : m_options(options), m_signals(signals) {
        for (const auto& t : options.targets) {
            TargetStatus status;
            status.target = &t;
            m_statuses.push_back(status);
        }
        m_view = MakeFleetView(m_statuses);
    }

    int Run() {
        if (!m_options.reportPath.empty()) {
            std::string error;
            if (!m_report.Open(m_options.reportPath, &error)) {
                std::fprintf(stderr, "vornic-flash: %s\n", error.c_str());
                return kExitUsage;
            }
        }
        std::string failure;
        if (m_options.check) {
            Schedule(AllTargets());
        } else if (!m_image.Load(m_options.file, &failure) || !MakeCopies(&failure)) {
            for (std::size_t i = 0; i < m_statuses.size(); ++i) EndWithoutRun(i, failure);
        } else {
            Schedule(TargetsToLoad());
        }
        m_view->Close();
        const std::string summary = m_options.check ? CheckSummaryText(m_statuses)
                                    : m_rollout && m_rollout->Staged() ? SummaryText(m_statuses, m_rollout->StageText())
                                                                       : SummaryText(m_statuses);
        std::fputs(summary.c_str(), stdout);
        std::fflush(stdout);
        const bool allOk = std::all_of(m_statuses.begin(), m_statuses.end(), [](const TargetStatus& s) {
            return s.state == TargetState::Ok || s.state == TargetState::AlreadyLoaded;
        });
        const int status = allOk ? kExitSuccess : kExitFailure;
        return m_rollout ? m_rollout->ExitStatus(status) : status;
    }

private:
    bool MakeCopies(std::string* failure) {
        std::string error;
        if (!m_copies.Create(&error)) {
            *failure = "no private copy of the image: " + error;
            return false;
        }
        for (std::size_t i = 0; i < m_statuses.size(); ++i) {
            if (!m_image.WriteCopy(m_copies.CopyPath(i))) {
                *failure = "no private copy of the image: " + m_copies.CopyPath(i) + " cannot be written";
                return false;
            }
        }
        return true;
    }

    std::size_t Jobs() const {
        if (m_options.jobs > 0) return static_cast<std::size_t>(m_options.jobs);
        return std::min<std::size_t>(m_statuses.size(), kDefaultJobs);
    }

    std::vector<std::size_t> AllTargets() const {
        std::vector<std::size_t> all(m_statuses.size());
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
        return all;
    }

    // Every target but those that an earlier report shows loaded with this
    // very image; those are reported as such and left alone.
    std::vector<std::size_t> TargetsToLoad() {
        std::vector<std::size_t> toLoad;
        for (std::size_t i = 0; i < m_statuses.size(); ++i) {
            const auto loaded = m_options.loadedImages.find(m_statuses[i].target->text);
            if (m_options.resume && loaded != m_options.loadedImages.end() && loaded->second == m_image.Facts().sha256)
                EndNotStarted(i, TargetState::AlreadyLoaded, "already loaded");
            else
                toLoad.push_back(i);
        }
        return toLoad;
    }

    void Schedule(const std::vector<std::size_t>& targets) {
        m_rollout.emplace(m_options, targets);
        if (m_rollout->Staged()) m_view->Stage(m_rollout->StageText());
        m_waiting.assign(targets.begin(), targets.end());
        for (;;) {
            while (!m_stopping && m_running.size() < Jobs()) {
                // A canary's retry may stand behind targets that must wait.
                const auto next = std::find_if(m_waiting.begin(), m_waiting.end(),
                                               [&](std::size_t i) { return m_rollout->MayStart(i); });
                if (next == m_waiting.end()) break;
                const std::size_t index = *next;
                m_waiting.erase(next);
                Start(index);
            }
            if (m_running.empty()) break;
            WaitAndCollect();
            m_view->Tick();
        }
        for (const std::size_t i : m_waiting) {
            TargetStatus& status = m_statuses[i];
            if (status.attempts > 0) {
                // Its retry never came: it ends with its last failure.
                status.state = TargetState::Failed;
                m_view->Changed(status, "failed: " + status.message);
            } else if (const std::string reason = m_rollout->StopReason(); !reason.empty()) {
                EndNotStarted(i, TargetState::NotStarted, reason);
            } else {
                EndWithoutRun(i, fleet_text::kNotStarted);
            }
        }
        m_waiting.clear();
    }

    void Start(std::size_t index) {
        TargetStatus& status = m_statuses[index];
        auto run = std::make_unique<Running>();
        run->index = index;
        run->attempt.number = ++status.attempts;
        run->attempt.start = SystemClock::now();
        run->started = SteadyClock::now();
        std::string error;
        const auto args = ChildArguments(m_options, *status.target, m_copies.CopyPath(index));
        if (!run->child.Start(args, &error)) {
            run->end.message = "the download process could not be started: " + error;
            Finish(*run);
            return;
        }
        status.state = TargetState::Connecting;
        status.percent = 0;
        m_view->Changed(status, status.attempts > 1 ? "connecting (attempt " + std::to_string(status.attempts) + ")"
                                                    : "connecting");
        m_running.push_back(std::move(run));
    }

    void WaitAndCollect() {
        std::vector<platform::ChildProcess*> children;
        for (const auto& r : m_running) children.push_back(&r->child);
        std::vector<std::size_t> ready;
        bool interrupted = false;
        if (!platform::WaitForChildren(children, &m_signals, m_view->TickMs(), &ready, &interrupted)) {
            // Nothing can be watched any more: no child may go on unwatched.
            Abandon();
            ready.resize(m_running.size());
            for (std::size_t i = 0; i < ready.size(); ++i) ready[i] = i;
        }
        if (interrupted && m_signals.Take()) Interrupted();

        std::vector<std::size_t> ended;
        for (const std::size_t i : ready) {
            Running& run = *m_running[i];
            const bool open = run.child.ReadOutput(&run.output);
            TakeLines(run);
            if (!open) ended.push_back(i);
        }
        // Last first, so that the indices still to erase stay right.
        for (auto i = ended.rbegin(); i != ended.rend(); ++i) {
            Running& run = *m_running[*i];
            const platform::ChildEnd end = run.child.Wait();
            if (run.end.kind != ChildLine::Kind::End) run.end.message = NoResultText(end);
            Finish(run);
            m_running.erase(m_running.begin() + static_cast<std::ptrdiff_t>(*i));
        }
    }

    std::string NoResultText(const platform::ChildEnd& end) const {
        if (m_abandoned) return fleet_text::kAbandoned;
        if (end.exited) return std::string(fleet_text::kNoResult) + " (exit status " + std::to_string(end.code) + ")";
        return std::string(fleet_text::kNoResult) + " (signal " + std::to_string(end.signal) + ")";
    }

    void Interrupted() {
        if (!m_stopping) {
            // Each child ends its run after the frame in flight, with its
            // own message; no new one starts.
            m_stopping = true;
            if (m_rollout && m_rollout->Staged()) {
                m_rollout->BreakOff();
                m_view->Stage(m_rollout->StageText());
            }
            for (const auto& r : m_running) r->child.Interrupt();
            m_view->Note("stopping every download after the frame in flight (Ctrl-C again: stop at once)");
        } else {
            Abandon();
        }
    }

    // A second Ctrl-C does not wait for controllers that may take their
    // whole reply time-out to answer.
    void Abandon() {
        if (m_abandoned) return;
        m_stopping = m_abandoned = true;
        for (const auto& r : m_running) r->child.Kill();
        m_view->Note(fleet_text::kAbandoned);
    }

    void TakeLines(Running& run) {
        for (std::size_t newline; (newline = run.output.find('\n')) != std::string::npos;) {
            // A child's C runtime may end its lines in CR LF (Windows text mode).
            std::string_view text = std::string_view(run.output).substr(0, newline);
            if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
            const ChildLine line = ParseChildLine(text);
            run.output.erase(0, newline + 1);
            TargetStatus& status = m_statuses[run.index];
            if (line.kind == ChildLine::Kind::End) {
                run.end = line;
            } else if (line.kind == ChildLine::Kind::Connect) {
                run.connectMs = line.connectMs;
            } else if (line.kind == ChildLine::Kind::Progress) {
                const int before = status.percent;
                const bool first = status.state != TargetState::Sending;
                status.state = TargetState::Sending;
                status.percent = line.percent;
                std::string event;
                if (first)
                    event = "sending";
                else if (line.percent / kPlainProgressStep != before / kPlainProgressStep)
                    event = std::to_string(line.percent) + "%";
                m_view->Changed(status, event);
            }
        }
    }

    void Finish(Running& run) {
        TargetStatus& status = m_statuses[run.index];
        Attempt& attempt = run.attempt;
        attempt.end = SystemClock::now();
        attempt.seconds = std::chrono::duration<double>(SteadyClock::now() - run.started).count();
        attempt.ok = run.end.kind == ChildLine::Kind::End && run.end.ok;
        attempt.frames = run.end.frames;
        attempt.message = run.end.message;
        if (m_options.check) return FinishCheck(run);
        attempt.stage = m_rollout->TargetStage(run.index);
        m_report.Write(*status.target, attempt, m_image.Facts());

        status.message = attempt.message;
        if (attempt.ok) {
            status.state = TargetState::Ok;
            status.percent = 100;
            m_view->Changed(status, "ok");
        } else if (!m_stopping && status.attempts <= m_options.retries && Retryable(attempt.message)) {
            // Tried again from frame 0 once the rest of its wave has had its
            // turn.
            status.state = TargetState::Waiting;
            m_view->Changed(status, "failed: " + attempt.message + " (will try again)");
            m_waiting.push_back(run.index);
        } else {
            status.state = TargetState::Failed;
            m_view->Changed(status, "failed: " + attempt.message);
        }
        if (status.state != TargetState::Waiting && m_rollout->Ended(run.index, attempt.ok, m_waiting.size()))
            m_view->Stage(m_rollout->StageText());
    }

    void FinishCheck(Running& run) {
        TargetStatus& status = m_statuses[run.index];
        Attempt& attempt = run.attempt;
        attempt.stage = "check";
        attempt.state = attempt.ok ? "reachable" : "unreachable";
        attempt.connectMs = run.connectMs;
        m_report.Write(*status.target, attempt, {});
        status.message = attempt.message;
        status.endText = run.connectMs ? CheckResultText(attempt.ok, attempt.message, *run.connectMs) : attempt.message;
        status.state = attempt.ok ? TargetState::Ok : TargetState::Failed;
        status.percent = attempt.ok ? 100 : 0;
        m_view->Changed(status, attempt.ok ? status.endText : "unreachable: " + status.endText);
    }

    // A target that is not loaded in this run: the report says why.
    void EndNotStarted(std::size_t index, TargetState state, const std::string& reason) {
        TargetStatus& status = m_statuses[index];
        const bool loaded = state == TargetState::AlreadyLoaded;
        Attempt attempt;
        attempt.number = 0;
        attempt.start = attempt.end = SystemClock::now();
        attempt.ok = loaded;
        attempt.message = loaded ? reason : "not started (" + reason + ")";
        attempt.state = loaded ? "already loaded" : "not started";
        if (!loaded) attempt.stage = m_rollout->TargetStage(index);
        attempt.reason = reason;
        m_report.Write(*status.target, attempt, m_image.Facts());
        status.state = state;
        status.message = attempt.message;
        m_view->Changed(status, attempt.message);
    }

    // A target that never got a process: the image failed, or a Break came
    // first. It has an attempt in the report only when the image failed.
    void EndWithoutRun(std::size_t index, const std::string& message) {
        TargetStatus& status = m_statuses[index];
        if (message != fleet_text::kNotStarted) {
            Attempt attempt;
            attempt.number = ++status.attempts;
            attempt.start = attempt.end = SystemClock::now();
            attempt.message = message;
            m_report.Write(*status.target, attempt, m_image.Facts());
        }
        status.state = TargetState::Failed;
        status.message = message;
        m_view->Changed(status, "failed: " + message);
    }

    const FlashOptions& m_options;
    platform::InterruptSignals& m_signals;
    std::vector<TargetStatus> m_statuses;
    std::unique_ptr<FleetView> m_view;
    FleetReport m_report;
    FleetImage m_image;
    CopyFolder m_copies;
    std::optional<Rollout> m_rollout;
    std::deque<std::size_t> m_waiting;
    std::vector<std::unique_ptr<Running>> m_running;
    bool m_stopping = false;
    bool m_abandoned = false;
};

}  // namespace

int RunFleet(const FlashOptions& options, platform::InterruptSignals& signals) {
    return Fleet(options, signals).Run();
}

}  // namespace flash
