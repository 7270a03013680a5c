// Bad Config.ini files: huge, binary, with enormous lines, values at and past
// every field's range, no section, repeated keys, odd line ends. The tool
// starts with what the reader rule gives, a download with odd values ends
// with its notice, and a Setup afterwards changes the five values it owns
// and not one other byte.

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <random>

#include "hardening_support.h"
#include "platform/tcp_socket.h"
#include "settings/comm_settings.h"

namespace {

using namespace hardening;

class Reporter : public FileErrorReporter {
public:
    void ReportFileError(const std::string& text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

// About 0.2 s for ten megabytes here; a sanitizer build is up to 30 times
// slower.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto kSlowLimit = 30s;
#else
constexpr auto kSlowLimit = 5s;
#endif

class BadSettings : public ::testing::Test {
protected:
    std::string ConfigPath() const { return m_folder.Path("Config.ini"); }

    void Write(const std::string& text) {
        std::ofstream(ConfigPath(), std::ios::binary | std::ios::trunc) << text;
    }
    std::string Read() const {
        std::ifstream in(ConfigPath(), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }

    // Start-up: the record gets its defaults, then the file. The bound is
    // loose: it catches work that grows with the square of the file, not a
    // slow machine.
    CommSettings Load() {
        CommSettings s;
        const auto start = Clock::now();
        EXPECT_TRUE(ExchangeSettingsFile(s, false, ConfigPath(), &m_reporter));
        EXPECT_LT(Clock::now() - start, kSlowLimit) << "loading took too long";
        EXPECT_TRUE(m_reporter.texts.empty());
        return s;
    }

    // Setup with `s`; the file afterwards.
    std::string Save(CommSettings s) {
        const auto start = Clock::now();
        EXPECT_TRUE(ExchangeSettingsFile(s, true, ConfigPath(), &m_reporter));
        EXPECT_LT(Clock::now() - start, kSlowLimit) << "saving took too long";
        EXPECT_TRUE(m_reporter.texts.empty());
        return Read();
    }

    static CommSettings Chosen() {
        CommSettings s;
        s.IPAddr = 0x7F000001;  // 127.0.0.1, written as 2130706433
        s.PortNo = 4242;
        s.CommWay = 1;
        s.com = 3;
        s.tcpReadTimeO = 1234;
        return s;
    }
    static constexpr const char* kChosenLines[] = {"com=3", "IPAddr=2130706433", "PortNo=4242",
                                                   "CommWay=1", "tcpReadTimeO=1234"};

    support::TempFolder m_folder;
    Reporter m_reporter;
};

std::string Garbage(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(generator());
    return bytes;
}

void ExpectDefaults(const CommSettings& s) {
    const CommSettings d;
    EXPECT_EQ(s.IPAddr, d.IPAddr);
    EXPECT_EQ(s.PortNo, d.PortNo);
    EXPECT_EQ(s.connectTimeO, 2000);
    EXPECT_EQ(s.tcpReadTimeO, d.tcpReadTimeO);
    EXPECT_EQ(s.CommWay, d.CommWay);
    EXPECT_EQ(s.com, d.com);
}

TEST_F(BadSettings, TenMegabytesOfOtherLinesLoadQuicklyAndSurviveASave) {
    // The section comes last, after ten megabytes of other sections and
    // comments; a save must find it there and touch nothing else.
    std::string head;
    for (int i = 0; head.size() < 10'000'000; ++i) {
        head += "[Other" + std::to_string(i % 50) + "]\r\n;comment line " + std::to_string(i) +
                "\r\nPortNo=" + std::to_string(i) + "\r\ncom=" + std::to_string(i) + "\r\n";
    }
    Write(head + "[Set]\r\nPortNo=555\r\ncom=4");
    const CommSettings s = Load();
    EXPECT_EQ(s.PortNo, 555);
    EXPECT_EQ(s.com, 4);
    EXPECT_EQ(s.IPAddr, CommSettings{}.IPAddr);

    const std::string saved = Save(Chosen());
    ASSERT_GT(saved.size(), head.size());
    EXPECT_EQ(saved.compare(0, head.size(), head), 0) << "a line the tool does not own changed";
    EXPECT_EQ(saved.substr(head.size()),
              "[Set]\r\nPortNo=4242\r\ncom=3\r\nIPAddr=2130706433\r\nCommWay=1\r\ntcpReadTimeO=1234");
}

TEST_F(BadSettings, BinaryGarbageLoadsAsDefaultsAndIsKeptByteForByteOnSave) {
    const std::string garbage = Garbage(1'000'000, 42);
    Write(garbage);
    ExpectDefaults(Load());

    // The section is added after the garbage; the garbage stays as it was.
    const std::string saved = Save(Chosen());
    ASSERT_GE(saved.size(), garbage.size());
    EXPECT_EQ(saved.compare(0, garbage.size(), garbage), 0);
    const CommSettings back = Load();
    EXPECT_EQ(back.PortNo, 4242);
    EXPECT_EQ(back.IPAddr, 0x7F000001u);
    EXPECT_EQ(back.com, 3);
}

TEST_F(BadSettings, GarbageAroundTheSectionLeavesItsKeysReadable) {
    const std::string before = Garbage(300'000, 7), after = Garbage(300'000, 8);
    // The garbage's last line runs on into whatever follows it: the section
    // starts on a line of its own.
    Write(before + "\n[Set]\nCommWay=1\nPortNo=808\n" + after);
    const CommSettings s = Load();
    EXPECT_EQ(s.CommWay, 1);
    EXPECT_EQ(s.PortNo, 808);
}

TEST_F(BadSettings, MegabyteLinesReadByTheRuleAndStayWhole) {
    const std::string comment = ";" + std::string(1'000'000, 'c');
    const std::string longKey = std::string(1'000'000, 'k') + "=1";
    // 10 to the millionth power is 0 modulo 2 to the 32nd.
    const std::string longValue = "IPAddr=1" + std::string(1'000'000, '0');
    const std::string blanks = "PortNo=123" + std::string(1'000'000, '\t');
    const std::string text =
        "[Set]\r\n" + comment + "\r\n" + longKey + "\r\n" + longValue + "\r\n" + blanks + "\r\ncom=2";
    Write(text);
    const CommSettings s = Load();
    EXPECT_EQ(s.IPAddr, 0u);
    EXPECT_EQ(s.PortNo, 123);
    EXPECT_EQ(s.com, 2);

    const std::string saved = Save(Chosen());
    EXPECT_EQ(saved, "[Set]\r\n" + comment + "\r\n" + longKey + "\r\nIPAddr=2130706433\r\nPortNo=4242" +
                         std::string(1'000'000, '\t') + "\r\ncom=3\r\nCommWay=1\r\ntcpReadTimeO=1234");
}

TEST_F(BadSettings, ValuesAtAndBeyondEachFieldsRangeLoadAsTheirBits) {
    struct Case {
        const char* key;
        const char* value;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"IPAddr", "0", 0},
        {"IPAddr", "4294967295", 0xFFFFFFFF},
        {"IPAddr", "-1", 0xFFFFFFFF},
        {"IPAddr", "4294967296", 0},
        {"IPAddr", "-2147483648", 0x80000000},
        {"PortNo", "-32768", -32768},
        {"PortNo", "65535", -1},  // the bits of port 65535
        {"PortNo", "65536", 0},
        {"PortNo", "70000", 4464},
        {"PortNo", "-1", -1},
        {"CommWay", "2", 2},
        {"CommWay", "-1", -1},
        {"CommWay", "4294967295", -1},
        {"com", "-1", -1},
        {"com", "20", 20},
        {"com", "2147483647", INT32_MAX},
        {"com", "2147483648", INT32_MIN},
        {"tcpReadTimeO", "70000", 4464},
        {"tcpReadTimeO", "-1", -1},
        {"tcpReadTimeO", "32768", -32768},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        Write(std::string("[Set]\r\n") + c.key + "=" + c.value + "\r\n");
        const CommSettings s = Load();
        const std::string key = c.key;
        const std::int64_t got = key == "IPAddr"     ? std::int64_t{s.IPAddr}
                                 : key == "PortNo"   ? std::int64_t{s.PortNo}
                                 : key == "CommWay"  ? std::int64_t{s.CommWay}
                                 : key == "com"      ? std::int64_t{s.com}
                                                     : std::int64_t{s.tcpReadTimeO};
        EXPECT_EQ(got, c.expected);
        // Written back as the same bits, and read back unchanged.
        Save(s);
        const CommSettings back = Load();
        EXPECT_EQ(back.IPAddr, s.IPAddr);
        EXPECT_EQ(back.PortNo, s.PortNo);
        EXPECT_EQ(back.CommWay, s.CommWay);
        EXPECT_EQ(back.com, s.com);
        EXPECT_EQ(back.tcpReadTimeO, s.tcpReadTimeO);
    }
}

TEST_F(BadSettings, OddTransportValuesEndADownloadWithTheCommunicationError) {
    // What the Operation page makes of them: a way that selects no
    // transport, and COM0 (com -1), which names no device.
    support::TempFolder files;
    RecordingContext context(support::WriteBytes(files.Path("image.bin"), ImageBytes(9)));
    for (const std::int16_t way : {std::int16_t{2}, std::int16_t{-1}}) {
        context.Channel().SetWay(way);
        const RunMark mark = MarkOf(context);
        RunToEnd(context, 60s);
        ExpectRunEndedWith(context, mark, "Communication initialization error!", MessageStyle::Warning);
    }
    constexpr std::int32_t com = -1;
    context.Channel().SetSerialParams(static_cast<std::uint16_t>(static_cast<std::uint32_t>(com) + 1u),
                                      19200, 1700);
    context.Channel().SetWay(kWaySerial);
    const RunMark mark = MarkOf(context);
    RunToEnd(context, 60s);
    ExpectRunEndedWith(context, mark, "Communication initialization error!", MessageStyle::Warning);
}

// An address field left empty: the download goes nowhere, not to whatever
// listens on the port on this host.
TEST_F(BadSettings, IPAddrZeroEndsADownloadWithTheCommunicationErrorAndReachesNoLocalService) {
    loopback::Listener local;
    ASSERT_TRUE(local.IsValid());
    Write("[Set]\r\nIPAddr=0\r\nPortNo=" + std::to_string(local.Port()) + "\r\nCommWay=1\r\n");
    const CommSettings s = Load();
    ASSERT_EQ(s.IPAddr, 0u);

    support::TempFolder files;
    RecordingContext context(support::WriteBytes(files.Path("image.bin"), ImageBytes(12)));
    // As the Operation page sets the channel up from the record.
    context.Channel().SetTcpParams(platform::HostToNetwork32(s.IPAddr), static_cast<std::uint16_t>(s.PortNo), 2000,
                                   50000);
    context.Channel().SetWay(static_cast<std::int16_t>(s.CommWay));  // 1, from the file above
    const RunMark mark = MarkOf(context);
    RunToEnd(context, 60s);
    ExpectRunEndedWith(context, mark, "Communication initialization error!", MessageStyle::Warning);
    EXPECT_FALSE(local.Accept(200).IsValid());
}

TEST_F(BadSettings, MissingSectionGivesDefaultsAndASaveAppendsIt) {
    const std::string text = "; settings of another program\r\n[Display]\r\nPortNo=1\r\ncom=9\r\n";
    Write(text);
    ExpectDefaults(Load());
    EXPECT_EQ(Save(Chosen()), text + "[Set]\r\ncom=3\r\nIPAddr=2130706433\r\nPortNo=4242\r\n"
                                     "CommWay=1\r\ntcpReadTimeO=1234\r\n");
}

TEST_F(BadSettings, DuplicateKeysTheFirstWinsAndOnlyItChanges) {
    const std::string text =
        "[Set]\r\nPortNo=111\r\nPortNo=222\r\ncom=5\r\n[Other]\r\ncom=6\r\n[SET]\r\nCommWay=1\r\ncom=7\r\n";
    Write(text);
    const CommSettings s = Load();
    EXPECT_EQ(s.PortNo, 111);
    EXPECT_EQ(s.com, 5);
    EXPECT_EQ(s.CommWay, 1);  // from the repeated section: the first CommWay there is

    EXPECT_EQ(Save(Chosen()),
              "[Set]\r\nPortNo=4242\r\nPortNo=222\r\ncom=3\r\nIPAddr=2130706433\r\ntcpReadTimeO=1234\r\n"
              "[Other]\r\ncom=6\r\n[SET]\r\nCommWay=1\r\ncom=7\r\n");
}

TEST_F(BadSettings, CrOnlyAndLfOnlyFilesReadAlikeAndKeepTheirLineEnds) {
    for (const std::string eol : {"\r", "\n"}) {
        SCOPED_TRACE(eol == "\r" ? "CR" : "LF");
        const std::string text = "; kept" + eol + "[Set]" + eol + "CommWay=1" + eol + "com=4" + eol +
                                 "IPAddr=2130706433" + eol + "; also kept" + eol;
        Write(text);
        const CommSettings s = Load();
        EXPECT_EQ(s.CommWay, 1);
        EXPECT_EQ(s.com, 4);
        EXPECT_EQ(s.IPAddr, 0x7F000001u);
        EXPECT_EQ(s.PortNo, 10001);
        EXPECT_EQ(Save(Chosen()), "; kept" + eol + "[Set]" + eol + "CommWay=1" + eol + "com=3" + eol +
                                      "IPAddr=2130706433" + eol + "PortNo=4242" + eol +
                                      "tcpReadTimeO=1234" + eol + "; also kept" + eol);
    }
}

}  // namespace
