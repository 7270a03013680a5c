// Loads the settings the way the application does at start-up, from the
// Config.ini the rule picks for this program, and prints the record on one
// line and the file's path on the next.

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
    const std::string path = ConfigFilePath();
    const bool ok = ExchangeSettingsFile(s, false, path, &reporter);
    std::printf("%s %u %d %d %d %d %d\n%s\n", ok ? "ok" : "failed", static_cast<unsigned>(s.IPAddr),
                s.PortNo, s.connectTimeO, s.tcpReadTimeO, s.CommWay, s.com, path.c_str());
    return ok ? 0 : 1;
}
