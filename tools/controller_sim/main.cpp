// vornic-controller-sim: plays the display controller for the tool.

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

#include "tools/controller_sim/controller_sim.h"
#include "tools/controller_sim/sim_options.h"
#include "tools/command_line.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    sim::Options options;
    std::string error;
    if (!sim::ParseOptions(args, &options, &error)) {
        std::fprintf(stderr, "vornic-controller-sim: %s\n(--help lists the options)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(sim::HelpText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s\n", tools::VersionLine("vornic-controller-sim").c_str());
        return 0;
    }

    // The signals are taken by a thread of their own, before any other thread
    // exists, so that no handler runs in the middle of the serving loop.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    sim::ControllerSim controller(options);
    if (!controller.Start(&error)) {
        std::fprintf(stderr, "vornic-controller-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", controller.Banner().c_str());
    std::fflush(stdout);

    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&signals, &signal);
        controller.Stop();
    });
    const int code = controller.Run();
    pthread_kill(signalWaiter.native_handle(), SIGTERM);  // ends the waiter's sigwait
    signalWaiter.join();

    std::printf("%s\n", controller.GetSummary().Line().c_str());
    std::fflush(stdout);
    return code;
}
