// vornic-flash: firmware downloads from the command line, through the same
// worker and channel as the Operation page, with the page's parameters: one
// target in this process, or a fleet of them, each in a process of its own.
// main only dispatches: each way of running lives in a file of its own.

#include <cstdio>

#include "comm/com_port_numbering.h"
#include "platform/interrupt_signals.h"
#include "platform/program_arguments.h"
#include "platform/terminal.h"
#include "settings/comm_settings.h"
#include "tools/command_line.h"
#include "tools/flash/flash_options.h"
#include "tools/flash/fleet_check.h"
#include "tools/flash/fleet_child.h"
#include "tools/flash/fleet_run.h"
#include "tools/flash/port_table.h"
#include "tools/flash/single_run.h"

int main(int argc, char** argv) {
    platform::PrepareStandardOutput();
    const flash::FlashCommandLine command = flash::ParseFlashOptions(platform::ProgramArguments(argc, argv));
    switch (command.outcome) {
        case tools::ParseOutcome::Run:
            break;
        case tools::ParseOutcome::Help:
            std::fputs(flash::FlashUsageText(), stdout);
            return tools::kExitSuccess;
        case tools::ParseOutcome::Version:
            std::printf("%s\n", tools::VersionLine("vornic-flash").c_str());
            return tools::kExitSuccess;
        case tools::ParseOutcome::UsageError:
            std::fputs(tools::UsageErrorText("vornic-flash", command.error).c_str(), stderr);
            return tools::kExitUsage;
    }
    const flash::FlashOptions& options = command.options;
    // Asking where the file is, or which ports there are, creates nothing.
    if (options.configPath) {
        std::printf("%s\n", ConfigFilePath(false).c_str());
        return tools::kExitSuccess;
    }
    if (options.listPorts) {
        LoadComPortOverrides(ConfigFilePath(false));
        const auto ports = flash::SerialChoices(RefreshComPorts());
        std::fputs((options.json ? flash::PortJsonLines(ports) : flash::PortTableText(ports)).c_str(), stdout);
        return tools::kExitSuccess;
    }
    // A reader that has gone (a pipe into head) ends only what is shown,
    // never a download.
    platform::FailWritesToClosedPipes();

    // Ctrl-C arrives as data that the main thread waits on together with the
    // idle event or the children; blocked before any thread starts, so the
    // worker and the channel's threads never see it.
    platform::InterruptSignals signals;
    if (!signals.IsValid()) {
        std::perror("vornic-flash: signalfd");
        return tools::kExitFailure;
    }
    if (options.parentId != 0)
        return options.check ? flash::RunCheckChild(options) : flash::RunFleetChild(options, signals);
    if (options.fleet) return flash::RunFleet(options, signals);

    return flash::RunSingle(options, signals);
}
