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
#include "platform/process_limits.h"
#include "platform/temp_folder.h"
#include "tools/flash/fleet_check.h"
#include "tools/flash/fleet_protocol.h"
#include "tools/flash/fleet_report.h"
#include "tools/flash/fleet_view.h"
#include "tools/flash/rollout.h"
#include "tools/flash/input_file.h"
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

// What the parent keeps open beyond its children's pipes (the standard
// streams, the signals, the image, the report), and what each child takes
// while it starts and runs: its pipe's two ends.
constexpr int kSpareFiles = 8;
constexpr int kFilesPerChild = 2;

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
        // The whole file, in the report beside the bytes sent: the file a
        // technician holds can be checked against either.
        std::vector<std::uint8_t> whole = m_bytes;
        try {
            std::uint8_t chunk[65536];
            while (const std::size_t n = m_file.Read(chunk, sizeof chunk)) whole.insert(whole.end(), chunk, chunk + n);
        } catch (const platform::FileError&) {
            *message = download_text::kReadError;
            return false;
        }
        m_facts.path = path;
        m_facts.size = kImageSize;
        m_facts.sha256 = tools::Sha256Hex(m_bytes.data(), m_bytes.size());
        m_facts.fileSize = whole.size();
        m_facts.fileSha256 = tools::Sha256Hex(whole.data(), whole.size());
        return true;
    }

    void NameOnly(const std::string& path) { m_facts.path = path; }

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
    int framesSent = 0;  // as its progress lines told
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
        m_notBefore.resize(m_statuses.size());
        m_view = MakeFleetView(m_statuses, options.quiet);
    }

    int Run() {
        // Every input is read and checked before anything is opened for
        // writing: a wrong name must not cost the file it names.
        // A check needs no image.
        std::string note, problem;
        if (!m_options.check) {
            problem = ImageProblem(m_options.file, &note);
            if (problem.empty() && !m_image.Load(m_options.file, &problem)) problem = m_options.file + ": " + problem;
            if (!problem.empty()) m_image.NameOnly(m_options.file);
        }
        if (!m_options.reportPath.empty()) {
            std::string error;
            if (!m_report.Open(m_options.reportPath, m_options.reportAppend, &error)) {
                std::fprintf(stderr, "vornic-flash: %s\n", error.c_str());
                return kExitUsage;
            }
        }
        if (problem.empty() && !m_options.check && !MakeCopies(&problem))
            problem = "no private copy of the image: " + problem;
        if (!problem.empty()) {
            // One error for the whole run: no target was started.
            std::fprintf(stderr, "vornic-flash: %s\n", problem.c_str());
            m_imageFailed = true;
            for (std::size_t i = 0; i < m_statuses.size(); ++i) EndWithoutRun(i, problem);
        } else {
            if (!note.empty() && !m_options.quiet) std::fprintf(stderr, "vornic-flash: %s\n", note.c_str());
            SizeJobs();
            Schedule(m_options.check ? AllTargets() : TargetsToLoad());
        }
        m_view->Close();
        const bool onlyCount = m_imageFailed || m_options.quiet;
        const std::string summary = m_options.check ? CheckSummaryText(m_statuses, onlyCount)
                                    : m_rollout && m_rollout->Staged()
                                        ? SummaryText(m_statuses, onlyCount, m_rollout->StageText())
                                        : SummaryText(m_statuses, onlyCount);
        std::fputs(summary.c_str(), stdout);
        std::fflush(stdout);

        std::string reportError;
        const bool reportWritten = m_report.Close(&reportError);
        if (!reportWritten) std::fprintf(stderr, "vornic-flash: %s\n", reportError.c_str());
        if (const int status = m_signals.RequestedExitStatus(); status != 0) return status;
        if (!reportWritten) return tools::kExitReportFailed;
        const bool allOk = std::all_of(m_statuses.begin(), m_statuses.end(), [](const TargetStatus& s) {
            return s.state == TargetState::Ok || s.state == TargetState::AlreadyLoaded;
        });
        const int status = allOk ? kExitSuccess : kExitFailure;
        return m_rollout ? m_rollout->ExitStatus(status) : status;
    }

private:
    bool MakeCopies(std::string* failure) {
        if (!m_copies.Create(failure)) return false;
        for (std::size_t i = 0; i < m_statuses.size(); ++i) {
            if (!m_image.WriteCopy(m_copies.CopyPath(i))) {
                *failure = m_copies.CopyPath(i) + " cannot be written";
                return false;
            }
        }
        return true;
    }

    // As many at once as asked, and no more than the open files allow: a
    // target waits for a free slot rather than fail for want of a pipe.
    void SizeJobs() {
        m_jobs = m_options.jobs > 0 ? static_cast<std::size_t>(m_options.jobs)
                                    : std::min<std::size_t>(m_statuses.size(), kDefaultJobs);
        const int limit = platform::OpenFileLimit();
        if (limit <= 0) return;
        const int room = std::max((limit - platform::OpenFileCount() - kSpareFiles) / kFilesPerChild, 1);
        if (static_cast<std::size_t>(room) >= std::min(m_jobs, m_statuses.size())) return;
        m_jobs = static_cast<std::size_t>(room);
        std::fprintf(stderr, "vornic-flash: at most %d downloads at once: this process may open only %d files (ulimit -n)\n",
                     room, limit);
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
                EndWithoutRun(i, "already loaded", "already loaded", true);
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
            while (!m_stopping && m_running.size() < m_jobs && StartNext()) {
            }
            if (m_running.empty() && (m_stopping || !AnyMayStart())) break;
            WaitAndCollect();
            m_view->Tick();
        }
        const std::string reason = m_rollout->StopReason();
        for (const std::size_t i : m_waiting) {
            if (reason.empty())
                EndWithoutRun(i, fleet_text::kNotStarted, "the run was broken off");
            else
                EndWithoutRun(i, "not started (" + reason + ")", reason);
        }
        m_waiting.clear();
    }

    // A target the rollout lets start now, or once its retry delay has passed.
    bool MayStart(std::size_t index) const { return m_rollout->MayStart(index); }
    bool AnyMayStart() const {
        return std::any_of(m_waiting.begin(), m_waiting.end(), [&](std::size_t i) { return MayStart(i); });
    }

    // Starts the first waiting target whose retry delay has passed.
    bool StartNext() {
        const auto now = SteadyClock::now();
        // A canary's retry may stand behind targets that must wait.
        const auto ready = std::find_if(m_waiting.begin(), m_waiting.end(),
                                        [&](std::size_t i) { return MayStart(i) && m_notBefore[i] <= now; });
        if (ready == m_waiting.end()) return false;
        const std::size_t next = *ready;
        m_waiting.erase(ready);
        return Start(next);
    }

    // How long the wait may last: until the view's next tick or the next
    // retry that comes due.
    std::int64_t WaitMs() const {
        std::int64_t ms = m_view->TickMs();
        if (m_stopping || m_running.size() >= m_jobs) return ms;
        const auto now = SteadyClock::now();
        for (const std::size_t i : m_waiting) {
            if (!MayStart(i)) continue;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_notBefore[i] - now).count();
            ms = ms < 0 ? std::max<std::int64_t>(left, 0) : std::min<std::int64_t>(ms, std::max<std::int64_t>(left, 0));
        }
        return ms;
    }

    bool Start(std::size_t index) {
        TargetStatus& status = m_statuses[index];
        auto run = std::make_unique<Running>();
        run->index = index;
        run->attempt.number = status.attempts + 1;
        run->attempt.start = SystemClock::now();
        run->started = SteadyClock::now();
        std::string error;
        const auto args = ChildArguments(m_options, *status.target, m_copies.CopyPath(index));
        if (!run->child.Start(args, &error)) {
            if (!m_running.empty()) {
                // Most likely out of descriptors: fewer at once from now on,
                // and this target waits for the next free slot.
                m_jobs = m_running.size();
                m_waiting.push_front(index);
                return false;
            }
            ++status.attempts;
            run->end.message = "the download process could not be started: " + error;
            Finish(*run);
            return true;
        }
        ++status.attempts;
        status.state = TargetState::Connecting;
        status.percent = 0;
        m_view->Changed(status, status.attempts > 1 ? "connecting (attempt " + std::to_string(status.attempts) + ")"
                                                    : "connecting");
        m_running.push_back(std::move(run));
        return true;
    }

    void WaitAndCollect() {
        if (m_running.empty()) {
            // Only retries that are not due yet: wait for them or a Break.
            if (m_signals.WaitForAnyOrInterrupt({}, WaitMs()) == 0) Interrupted();
            return;
        }
        std::vector<platform::ChildProcess*> children;
        for (const auto& r : m_running) children.push_back(&r->child);
        std::vector<std::size_t> ready;
        bool interrupted = false;
        if (!platform::WaitForChildren(children, &m_signals, WaitMs(), &ready, &interrupted)) {
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
        std::sort(ended.begin(), ended.end());
        for (auto i = ended.rbegin(); i != ended.rend(); ++i) {
            Running& run = *m_running[*i];
            const platform::ChildEnd end = run.child.Wait();
            if (run.end.kind != ChildLine::Kind::End) {
                run.end.message = NoResultText(end);
                // The frame in flight may not have had its reply.
                run.end.frames = std::max(run.framesSent - 1, 0);
            }
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
                if (m_options.verbose) ReplyLines(run, line);
                run.framesSent = line.framesSent;
                const int before = status.percent;
                const bool first = status.state != TargetState::Sending;
                if (!first && line.percent == before) continue;
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

    // A frame sent means the one before it had its reply; 100 percent means
    // the last one had.
    void ReplyLines(const Running& run, const ChildLine& line) {
        const auto acknowledged = [](int sent, int percent) { return percent == 100 ? sent : std::max(sent - 1, 0); };
        const int before = run.framesSent == 0 ? 0 : acknowledged(run.framesSent, 0);
        for (int frame = before + 1; frame <= acknowledged(line.framesSent, line.percent); ++frame)
            m_view->Changed(m_statuses[run.index], "frame " + std::to_string(frame) + ": reply ok");
    }

    void Finish(Running& run) {
        TargetStatus& status = m_statuses[run.index];
        Attempt& attempt = run.attempt;
        attempt.end = SystemClock::now();
        attempt.seconds = std::chrono::duration<double>(SteadyClock::now() - run.started).count();
        attempt.ok = run.end.kind == ChildLine::Kind::End && run.end.ok;
        attempt.state = attempt.ok ? kStateOk : kStateFailed;
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
            // turn and the retry delay has passed.
            status.state = TargetState::Waiting;
            m_view->Changed(status, "failed: " + attempt.message + " (will try again)");
            m_notBefore[run.index] = SteadyClock::now() + std::chrono::milliseconds(m_options.retryDelayMs);
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
        attempt.state = attempt.ok ? kStateReachable : kStateUnreachable;
        attempt.connectMs = run.connectMs;
        m_report.Write(*status.target, attempt, {});
        status.message = attempt.message;
        status.endText = run.connectMs ? CheckResultText(attempt.ok, attempt.message, *run.connectMs) : attempt.message;
        status.state = attempt.ok ? TargetState::Ok : TargetState::Failed;
        status.percent = attempt.ok ? 100 : 0;
        m_view->Changed(status, attempt.ok ? status.endText : "unreachable: " + status.endText);
    }

    // A target that never got a process: the image failed, a Break came
    // first, the rollout stopped, or it holds the image already (`loaded`).
    // A target that had attempts keeps its last one's end.
    void EndWithoutRun(std::size_t index, const std::string& message, const std::string& reason = {},
                       bool loaded = false) {
        TargetStatus& status = m_statuses[index];
        if (status.attempts > 0) {
            status.state = TargetState::Failed;
            m_view->Changed(status, "");
            return;
        }
        Attempt attempt;
        attempt.number = 0;
        attempt.start = attempt.end = SystemClock::now();
        attempt.message = message;
        attempt.ok = loaded;
        attempt.state = loaded ? kStateAlreadyLoaded : kStateNotStarted;
        // The stage it would have run in.
        if (!loaded && m_rollout) attempt.stage = m_options.check ? "check" : m_rollout->TargetStage(index);
        attempt.reason = reason;
        m_report.Write(*status.target, attempt, m_image.Facts());
        status.state = loaded ? TargetState::AlreadyLoaded : TargetState::NotStarted;
        status.message = message;
        m_view->Changed(status, m_imageFailed ? "" : message);
    }

    const FlashOptions& m_options;
    platform::InterruptSignals& m_signals;
    std::vector<TargetStatus> m_statuses;
    std::vector<SteadyClock::time_point> m_notBefore;  // by target: no retry before
    std::unique_ptr<FleetView> m_view;
    FleetReport m_report;
    FleetImage m_image;
    CopyFolder m_copies;
    std::optional<Rollout> m_rollout;
    std::deque<std::size_t> m_waiting;
    std::vector<std::unique_ptr<Running>> m_running;
    std::size_t m_jobs = 1;
    bool m_stopping = false;
    bool m_abandoned = false;
    bool m_imageFailed = false;
};

}  // namespace

int RunFleet(const FlashOptions& options, platform::InterruptSignals& signals) {
    return Fleet(options, signals).Run();
}

}  // namespace flash
