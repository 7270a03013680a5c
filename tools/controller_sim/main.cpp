// vornic-controller-sim: plays the display controller for the tool, or
// several controllers at once.

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "platform/interrupt_signals.h"
#include "platform/program_arguments.h"
#include "platform/terminal.h"
#include "tools/controller_sim/controller_sim.h"
#include "tools/controller_sim/sim_options.h"
#include "tools/command_line.h"

namespace {

// A line of vornic-flash's targets file for each controller.
bool WriteTargets(const std::string& path, const std::vector<std::unique_ptr<sim::ControllerSim>>& controllers,
                  const std::vector<sim::Options>& options) {
    // The same bytes on every OS: lines end in LF.
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::size_t k = 0; k < controllers.size(); ++k) {
        if (options[k].transport == sim::Transport::Tcp)
            out << "tcp " << options[k].host << ":" << controllers[k]->Port();
        else
            out << "serial " << controllers[k]->SerialPath();
        out << " sim-" << k + 1 << "\n";
    }
    return static_cast<bool>(out.flush());
}

sim::Summary Sum(const std::vector<sim::Summary>& each) {
    sim::Summary total;
    total.complete = true;
    for (const auto& s : each) {
        total.frames += s.frames;
        total.bad += s.bad;
        total.images += s.images;
        total.complete = total.complete && s.complete;
        total.sessions += s.sessions;
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    platform::PrepareStandardOutput();
    const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
    std::vector<sim::Options> options;
    std::string error;
    if (!sim::ParseControllers(args, &options, &error)) {
        std::fputs(tools::UsageErrorText("vornic-controller-sim", error).c_str(), stderr);
        return tools::kExitUsage;
    }
    if (options.front().help) {
        std::fputs(sim::HelpText().c_str(), stdout);
        return tools::kExitSuccess;
    }
    if (options.front().version) {
        std::printf("%s\n", tools::VersionLine("vornic-controller-sim").c_str());
        return tools::kExitSuccess;
    }

    // Ctrl-C and termination requests are taken as data by a thread of their
    // own, set up before any other thread exists, so that no handler runs in
    // the middle of the serving loop.
    platform::InterruptSignals signals;
    if (!signals.IsValid()) {
        std::fprintf(stderr, "vornic-controller-sim: Ctrl-C cannot be taken as a request\n");
        return tools::kExitFailure;
    }
    platform::FailWritesToClosedPipes();

    std::vector<std::unique_ptr<sim::ControllerSim>> controllers;
    for (const auto& o : options) {
        controllers.push_back(std::make_unique<sim::ControllerSim>(o));
        if (!controllers.back()->Start(&error)) {
            std::fprintf(stderr, "vornic-controller-sim: %s\n", error.c_str());
            return tools::kExitFailure;
        }
    }
    const std::string& targetsPath = options.front().targetsPath;
    if (!targetsPath.empty() && !WriteTargets(targetsPath, controllers, options)) {
        std::fprintf(stderr, "vornic-controller-sim: cannot write %s\n", targetsPath.c_str());
        return tools::kExitFailure;
    }
    for (const auto& c : controllers) std::printf("%s\n", c->Banner().c_str());
    std::fflush(stdout);

    platform::Event served(platform::ResetMode::Manual, false);
    std::thread signalWaiter([&] {
        platform::Event* const ends[] = {&served};
        if (signals.WaitForAnyOrInterrupt(ends, platform::kInfinite) == 1)
            for (const auto& c : controllers) c->Stop();
    });
    std::vector<int> codes(controllers.size(), tools::kExitFailure);
    std::vector<std::thread> runners;
    for (std::size_t k = 1; k < controllers.size(); ++k)
        runners.emplace_back([&, k] { codes[k] = controllers[k]->Run(); });
    codes[0] = controllers[0]->Run();
    for (auto& r : runners) r.join();
    served.Set();  // ends the waiter's wait
    signalWaiter.join();

    std::vector<sim::Summary> summaries;
    for (const auto& c : controllers) summaries.push_back(c->GetSummary());
    if (summaries.size() > 1)
        for (std::size_t k = 0; k < summaries.size(); ++k)
            std::printf("summary %zu: %s\n", k + 1, summaries[k].Line().substr(9).c_str());
    std::printf("%s\n", Sum(summaries).Line().c_str());
    std::fflush(stdout);
    for (const int code : codes)
        if (code != tools::kExitSuccess) return code;
    return tools::kExitSuccess;
}
