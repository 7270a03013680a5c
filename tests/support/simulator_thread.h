#pragma once
// The controller simulator on a thread of the test: TCP on a loopback port of
// the system's choosing, or a new pseudo-terminal when the arguments hold
// --serial or --serial-device.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/controller_sim/controller_sim.h"

namespace support {

class SimulatorThread {
public:
    explicit SimulatorThread(std::vector<std::string> args = {}) {
        const bool serial = std::any_of(args.begin(), args.end(), [](const std::string& a) {
            return a == "--serial" || a == "--serial-device";
        });
        if (!serial) args.insert(args.begin(), {"--port", "0"});
        sim::Options options;
        std::string error;
        if (!sim::ParseOptions(args, &options, &error)) {
            ADD_FAILURE() << "simulator options: " << error;
            return;
        }
        m_sim = std::make_unique<sim::ControllerSim>(options);
        if (!m_sim->Start(&error)) {
            ADD_FAILURE() << "simulator: " << error;
            m_sim.reset();
            return;
        }
        m_thread = std::thread([this] { m_sim->Run(); });
    }
    ~SimulatorThread() {
        if (!m_sim) return;
        m_sim->Stop();
        m_thread.join();
    }
    SimulatorThread(const SimulatorThread&) = delete;
    SimulatorThread& operator=(const SimulatorThread&) = delete;

    bool IsRunning() const { return m_sim != nullptr; }
    std::uint16_t Port() const { return m_sim ? m_sim->Port() : 0; }
    std::string SerialPath() const { return m_sim ? m_sim->SerialPath() : std::string(); }
    sim::Summary Summary() const { return m_sim ? m_sim->GetSummary() : sim::Summary{}; }
    std::optional<sim::Image> LastImage() const { return m_sim ? m_sim->LastImage() : std::nullopt; }

    bool WaitForSessions(int count,
                         std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        return m_sim && m_sim->WaitForSessions(count, limit);
    }
    // The summary once `sessions` sessions have ended.
    sim::Summary SummaryAfter(int sessions) const {
        if (!m_sim) return {};
        EXPECT_TRUE(WaitForSessions(sessions))
            << "the simulator saw fewer than " << sessions << " sessions end";
        return m_sim->GetSummary();
    }

private:
    std::unique_ptr<sim::ControllerSim> m_sim;
    std::thread m_thread;
};

}  // namespace support
