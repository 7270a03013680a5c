#include <cstdio>
#include <cstring>

#include "app/updater_app.h"

CUpdaterApp theApp;

namespace {

const char kUsage[] =
    "Usage: vornic-updater [--version | --help]\n"
    "\n"
    "Opens the window that loads firmware into an LED display controller over a\n"
    "serial port or TCP/IP. The communication settings live in Config.ini, beside\n"
    "the program when its folder is writable or already holds one, otherwise in\n"
    "$XDG_CONFIG_HOME/vornic-updater (~/.config/vornic-updater); vornic-flash\n"
    "--config-path names the file.\n"
    "  --version    the version, then exit\n"
    "  --help       this text, then exit\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that neither needs a display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("vornic-updater %s\n", VORNIC_VERSION);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return theApp.Run(argc, argv);
}
