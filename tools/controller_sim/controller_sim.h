#pragma once
// The controller simulator: serves the download protocol over a loopback TCP
// listener, a pseudo-terminal or a serial device. Runs as a program or on a
// thread of a test. Its system calls live in platform/ (tcp_listener.h,
// pseudo_terminal.h, byte_stream.h).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/byte_stream.h"
#include "platform/event.h"
#include "platform/tcp_listener.h"
#include "tools/controller_sim/controller_session.h"
#include "tools/controller_sim/sim_options.h"

namespace sim {

struct Summary {
    int frames = 0;    // frames received, good or bad
    int bad = 0;       // frames refused as invalid
    int images = 0;    // whole images received
    bool complete = false;  // the latest image arrived whole and in order
    int sessions = 0;  // sessions ended

    std::string Line() const;
};

class ControllerSim {
public:
    explicit ControllerSim(Options options);
    ~ControllerSim();
    ControllerSim(const ControllerSim&) = delete;
    ControllerSim& operator=(const ControllerSim&) = delete;

    // Binds the listener, or creates or opens the serial end. False with a
    // reason when it cannot.
    bool Start(std::string* error);

    // After Start: "listening 127.0.0.1:PORT" or "serial PATH".
    std::string Banner() const;
    std::uint16_t Port() const { return m_port; }
    const std::string& SerialPath() const { return m_serialPath; }

    // Serves sessions until the session count is reached, a serial hang-up
    // fault ends the line, or Stop. Returns 0 when the latest image arrived
    // whole and in order, 1 otherwise.
    int Run();

    // From any thread: only signals an event that every wait includes.
    void Stop();

    Summary GetSummary() const;
    // Waits until `count` sessions have ended; false on time-out.
    bool WaitForSessions(int count, std::chrono::milliseconds timeout) const;
    // The latest whole image, if any arrived.
    std::optional<Image> LastImage() const;

private:
    enum class SessionEnd { PeerClosed, Hangup, Stopped, FaultClosed, Failed };

    void RunTcp();
    void RunSerial();
    SessionEnd Serve(platform::ByteStream& stream);
    void Record(const FrameOutcome& outcome);
    bool Perform(platform::ByteStream& stream, const FrameOutcome& outcome);
    bool SaveImage(const Image& image);
    // Sleeps unless stopped first; false when stopped.
    bool Pause(int ms);
    bool StopRequested() const;
    bool SessionsDone() const;
    void EndSession();
    void Log(const std::string& line) const;

    Options m_options;
    ControllerSession m_session;
    // Manual-reset: once stopped, every wait sees it.
    platform::Event m_stop{platform::ResetMode::Manual, false};
    platform::TcpListener m_listener;
    platform::ByteStream m_serial;
    std::uint16_t m_port = 0;
    std::string m_serialPath;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    Summary m_summary;
    std::optional<Image> m_lastImage;
};

}  // namespace sim
