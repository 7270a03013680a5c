// Loads the settings the way the application does at start-up, from
// Config.ini beside this program, and prints the record on one line.

#include <cstdio>

#include "settings/comm_settings.h"

namespace {
class PrintingReporter : public FileErrorReporter {
public:
    void ReportFileError(const std::string& text) override {
        std::fprintf(stderr, "file error: %s\n", text.c_str());
    }
};
}  // namespace

int main() {
    CommSettings s;
    PrintingReporter reporter;
    const bool ok = ExchangeSettingsFile(s, false, ConfigFilePath(), &reporter);
    std::printf("%s %u %d %d %d %d %d\n", ok ? "ok" : "failed", static_cast<unsigned>(s.IPAddr),
                s.PortNo, s.connectTimeO, s.tcpReadTimeO, s.CommWay, s.com);
    return ok ? 0 : 1;
}
