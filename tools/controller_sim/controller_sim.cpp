#include "tools/controller_sim/controller_sim.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/pseudo_terminal.h"

namespace sim {

namespace {

// A frame cut short and followed by this much silence is judged as it stands.
constexpr int kPartialFrameGapMs = 200;
// How often a serial line without a tool on its far end is looked at again.
constexpr int kDetachedPollMs = 20;
// A peer that takes none of a reply within this time is given up.
constexpr int kWriteStallMs = 2000;
// Connections that wait to be accepted while one is served.
constexpr int kListenBacklog = 8;
// A moment's rest when the system has no descriptor for a connection.
constexpr int kOutOfResourcesPauseMs = 50;

}  // namespace

std::string Summary::Line() const {
    return "summary: frames=" + std::to_string(frames) + " bad=" + std::to_string(bad) +
           " images=" + std::to_string(images) + " complete=" + (complete ? "yes" : "no") +
           " sessions=" + std::to_string(sessions);
}

ControllerSim::ControllerSim(Options options)
    : m_options(std::move(options)), m_session(m_options.session) {}

ControllerSim::~ControllerSim() = default;

bool ControllerSim::Start(std::string* error) {
    if (!m_stop.IsValid()) {
        *error = "the stop event could not be created";
        return false;
    }
    switch (m_options.transport) {
    case Transport::Tcp:
        if (!m_listener.Listen(m_options.host, m_options.port, kListenBacklog, error)) return false;
        m_port = m_listener.Port();
        return true;
    case Transport::SerialPty:
        return platform::OpenPseudoTerminal(&m_serial, &m_serialPath, error);
    case Transport::SerialDevice:
        m_serialPath = m_options.devicePath;
        return platform::OpenSerialEnd(m_serialPath, &m_serial, error);
    }
    return false;
}

std::string ControllerSim::Banner() const {
    if (m_options.transport == Transport::Tcp)
        return "listening " + m_options.host + ":" + std::to_string(m_port);
    return "serial " + m_serialPath;
}

void ControllerSim::Stop() { m_stop.Set(); }

bool ControllerSim::StopRequested() const { return m_stop.IsSignalled(); }

bool ControllerSim::Pause(int ms) { return !m_stop.Wait(ms); }

Summary ControllerSim::GetSummary() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_summary;
}

bool ControllerSim::WaitForSessions(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return m_summary.sessions >= count; });
}

std::optional<Image> ControllerSim::LastImage() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lastImage;
}

void ControllerSim::Log(const std::string& line) const {
    if (m_options.verbose) std::fprintf(stderr, "sim: %s\n", line.c_str());
}

void ControllerSim::EndSession() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_summary.sessions;
    }
    m_changed.notify_all();
}

int ControllerSim::Run() {
    if (m_options.transport == Transport::Tcp)
        RunTcp();
    else
        RunSerial();
    return GetSummary().complete ? 0 : 1;
}

bool ControllerSim::SessionsDone() const {
    return m_options.sessions > 0 && GetSummary().sessions >= m_options.sessions;
}

void ControllerSim::RunTcp() {
    while (!SessionsDone()) {
        platform::ByteStream connection;
        switch (m_listener.Accept(m_stop, &connection)) {
        case platform::AcceptEnd::Accepted: break;
        case platform::AcceptEnd::Stopped:
        case platform::AcceptEnd::Failed: return;
        case platform::AcceptEnd::OutOfResources:
            // Out of descriptors: give the system a moment rather than spin.
            if (!Pause(kOutOfResourcesPauseMs)) return;
            continue;
        case platform::AcceptEnd::Retry:
        case platform::AcceptEnd::Timeout: continue;
        }
        Log("connection accepted");
        SessionEnd end = SessionEnd::PeerClosed;
        if (m_options.mute)
            connection.HoldUntilClosed(m_stop);
        else
            end = Serve(connection);
        connection.Close();
        Log("connection closed");
        EndSession();
        if (end == SessionEnd::Stopped || StopRequested()) return;
    }
}

void ControllerSim::RunSerial() {
    if (m_options.mute) {
        m_stop.Wait(platform::kInfinite);
        return;
    }
    while (!SessionsDone()) {
        switch (m_serial.WaitReadable(m_stop, platform::kInfinite)) {
        case platform::StreamReady::Data: {
            Log("traffic on " + m_serialPath);
            const SessionEnd end = Serve(m_serial);
            EndSession();
            Log("line quiet again");
            if (end == SessionEnd::Stopped) return;
            if (end == SessionEnd::FaultClosed || end == SessionEnd::Failed) {
                m_serial.Close();
                return;
            }
            break;
        }
        case platform::StreamReady::HungUp:
            // Hung up: no tool holds the far end open right now. The state
            // lasts until one does, so look again a little later.
            if (!Pause(kDetachedPollMs)) return;
            break;
        default:
            return;
        }
    }
}

ControllerSim::SessionEnd ControllerSim::Serve(platform::ByteStream& stream) {
    m_session.Reset();
    std::uint8_t buffer[4096];
    for (;;) {
        const platform::StreamReady ready =
            stream.WaitReadable(m_stop, m_session.HasPartial() ? kPartialFrameGapMs : platform::kInfinite);
        if (ready == platform::StreamReady::Failed) return SessionEnd::Failed;
        if (ready == platform::StreamReady::Stopped) return SessionEnd::Stopped;
        if (ready == platform::StreamReady::Timeout) {
            const FrameOutcome outcome = m_session.FlushPartial();
            Record(outcome);
            if (!Perform(stream, outcome)) return StopRequested() ? SessionEnd::Stopped : SessionEnd::Failed;
            continue;
        }
        if (ready != platform::StreamReady::Data) return SessionEnd::Hangup;
        const long got = stream.Read(buffer, sizeof buffer);
        if (got == 0) return SessionEnd::PeerClosed;
        if (got == platform::kReadAgain) continue;
        if (got == platform::kReadHungUp) return SessionEnd::Hangup;  // the far end of the pty closed
        if (got == platform::kReadReset) return SessionEnd::PeerClosed;
        if (got < 0) return SessionEnd::Failed;
        bool closeNow = false;
        bool failed = false;
        m_session.Feed(buffer, static_cast<std::size_t>(got), [&](const FrameOutcome& outcome) {
            Record(outcome);
            if (outcome.reply == ReplyKind::Close) {
                closeNow = true;
                return false;
            }
            if (!Perform(stream, outcome)) {
                failed = true;
                return false;
            }
            return true;
        });
        if (closeNow) {
            Log("hanging up at frame " + std::to_string(m_session.NextFrame()));
            return SessionEnd::FaultClosed;
        }
        if (failed) return StopRequested() ? SessionEnd::Stopped : SessionEnd::Failed;
    }
}

void ControllerSim::Record(const FrameOutcome& outcome) {
    if (!outcome.valid)
        Log("frame " + std::to_string(outcome.frame) + " refused: " + outcome.problem);
    if (outcome.restarted) Log("block 0 out of turn: a new image begins");
    if (outcome.imageComplete) {
        // On disk before the last reply goes out: once the tool reports
        // success, the image is there to compare.
        if (!SaveImage(m_session.LastImage())) Log("cannot write " + m_options.imagePath);
        Log("image complete");
    }
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_summary.frames;
    if (!outcome.valid) ++m_summary.bad;
    if (outcome.imageComplete) {
        ++m_summary.images;
        m_lastImage = m_session.LastImage();
    }
    m_summary.complete = m_session.AttemptComplete();
}

bool ControllerSim::SaveImage(const Image& image) {
    if (m_options.imagePath.empty()) return true;
    // Written aside and renamed, so that nobody reads half an image.
    const std::string part = m_options.imagePath + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        if (!out) return false;
    }
    std::error_code ec;
    std::filesystem::rename(part, m_options.imagePath, ec);
    return !ec;
}

bool ControllerSim::Perform(platform::ByteStream& stream, const FrameOutcome& outcome) {
    if (outcome.reply != ReplyKind::Send) return true;
    if (m_options.delayMs > 0 && !Pause(m_options.delayMs)) return false;
    if (m_options.dripMs < 0)
        return stream.WriteAll(outcome.replyBytes.data(), outcome.replyBytes.size(), m_stop, kWriteStallMs);
    for (std::size_t i = 0; i < outcome.replyBytes.size(); ++i) {
        if (i > 0 && !Pause(m_options.dripMs)) return false;
        if (!stream.WriteAll(&outcome.replyBytes[i], 1, m_stop, kWriteStallMs)) return false;
    }
    return true;
}

}  // namespace sim
