#pragma once
// What the settings tests share: the default file, a recording reporter and
// the fixtures whose cases are split between the portable files and the
// POSIX-only ones (a fixture must be one class in every file).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/comm_settings.h"
#include "support/temp_folder.h"

namespace settings_tests {

// The 175 bytes of a new Config.ini, spelled out independently of the code.
inline const std::string kDefaultFile = std::string("[Set]\r\n") +
                                 ";Communication 0=Seriel Port, 1=TCP/IP\r\n" +
                                 "CommWay=0\x09\x09\x09\x09\x09\x20\x20\x20\r\n" +
                                 ";com is zero based index\r\n" + "com=0\r\n" +
                                 "IPAddr=3232235640\r\n" + "PortNo=10001\r\n" +
                                 "\x09\x09\x09\x09\x09\x20\x20\x20;tcpip wait time\r\n" +
                                 "tcpReadTimeO=3000";

class RecordingReporter : public FileErrorReporter {
public:
    void ReportFileError(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

inline bool SameRecord(const CommSettings& a, const CommSettings& b) {
    return a.IPAddr == b.IPAddr && a.PortNo == b.PortNo && a.connectTimeO == b.connectTimeO &&
           a.tcpReadTimeO == b.tcpReadTimeO && a.CommWay == b.CommWay && a.com == b.com;
}

inline CommSettings Unusual() {
    CommSettings s;
    s.IPAddr = 0x7F000001;
    s.PortNo = -25536;
    s.connectTimeO = 123;
    s.tcpReadTimeO = 4464;
    s.CommWay = 1;
    s.com = 19;
    return s;
}

// A Config.ini in a fresh folder, and the reports of its failures.
class SettingsFile : public support::TempFolderTest {
protected:
    std::string ConfigPath() const { return Path("Config.ini"); }

    CommSettings Load(const std::string& text) {
        support::WriteAll(ConfigPath(), text);
        CommSettings s = Unusual();
        EXPECT_TRUE(ExchangeSettingsFile(s, false, ConfigPath(), &m_reporter));
        return s;
    }
    bool Save(CommSettings s) { return ExchangeSettingsFile(s, true, ConfigPath(), &m_reporter); }

    // A failed attempt shows exactly one text: the one given.
    void ExpectOneReport(const std::string& text) {
        ASSERT_EQ(m_reporter.texts.size(), 1u);
        EXPECT_EQ(m_reporter.texts[0], text);
        m_reporter.texts.clear();
    }

    RecordingReporter m_reporter;
};

class ProfileFile : public support::TempFolderTest {};

}  // namespace settings_tests
