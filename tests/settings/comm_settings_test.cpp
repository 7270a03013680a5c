#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>

#include "comm/com_port_name.h"
#include "platform/com_port_paths.h"
#include "platform/module_path.h"
#include "platform/text_file.h"
#include "settings/comm_settings.h"
#include "support/subprocess.h"
#include "support/temp_folder.h"

using support::ReadAll;
using support::TempFolderTest;
using support::WriteAll;

namespace {

// Loose: the probe only loads its settings, but a sanitizer's start is slow.
constexpr int kProbeMs = 60000;

// The 175 bytes of a new Config.ini, spelled out independently of the code.
const std::string kDefaultFile = std::string("[Set]\r\n") +
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

bool SameRecord(const CommSettings& a, const CommSettings& b) {
    return a.IPAddr == b.IPAddr && a.PortNo == b.PortNo && a.connectTimeO == b.connectTimeO &&
           a.tcpReadTimeO == b.tcpReadTimeO && a.CommWay == b.CommWay && a.com == b.com;
}

CommSettings Unusual() {
    CommSettings s;
    s.IPAddr = 0x7F000001;
    s.PortNo = -25536;
    s.connectTimeO = 123;
    s.tcpReadTimeO = 4464;
    s.CommWay = 1;
    s.com = 19;
    return s;
}

class SettingsFile : public TempFolderTest {
protected:
    std::string ConfigPath() const { return Path("Config.ini"); }

    CommSettings Load(const std::string& text) {
        WriteAll(ConfigPath(), text);
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

}  // namespace

TEST_F(SettingsFile, LoadInAnEmptyFolderCreatesTheExact175ByteFileAndKeepsTheDefaults) {
    ASSERT_EQ(kDefaultFile.size(), 175u);
    CommSettings s;
    EXPECT_TRUE(ExchangeSettingsFile(s, false, ConfigPath(), &m_reporter));
    EXPECT_EQ(ReadAll(ConfigPath()), kDefaultFile);
    EXPECT_TRUE(SameRecord(s, CommSettings{}));
    EXPECT_EQ(s.IPAddr, 0xC0A80078u);
    EXPECT_EQ(s.PortNo, 10001);
    EXPECT_EQ(s.tcpReadTimeO, 3000);
    EXPECT_EQ(s.connectTimeO, 2000);
    EXPECT_TRUE(m_reporter.texts.empty());
    EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"});
}

TEST_F(SettingsFile, LoadReadsEveryKeyOfTheDefaultTextTrailingTabsIncluded) {
    // A value other than the default proves the padded CommWay line is read.
    std::string text = kDefaultFile;
    text.replace(text.find("CommWay=0"), 9, "CommWay=1");
    text.replace(text.find("com=0"), 5, "com=4");
    const CommSettings s = Load(text);
    EXPECT_EQ(s.CommWay, 1);
    EXPECT_EQ(s.com, 4);
    EXPECT_EQ(s.IPAddr, 0xC0A80078u);
    EXPECT_EQ(s.PortNo, 10001);
    EXPECT_EQ(s.tcpReadTimeO, 3000);
    EXPECT_EQ(s.connectTimeO, 123) << "connectTimeO is never read";
    EXPECT_EQ(Load(kDefaultFile).CommWay, 0);
}

TEST_F(SettingsFile, MissingKeysOrSectionLoadAsTheirDefaults) {
    CommSettings s = Load("[Set]\r\ncom=7\r\n");
    EXPECT_EQ(s.com, 7);
    EXPECT_EQ(s.IPAddr, 0xC0A80078u);
    EXPECT_EQ(s.PortNo, 10001);
    EXPECT_EQ(s.CommWay, 0);
    EXPECT_EQ(s.tcpReadTimeO, 3000);

    s = Load("[Other]\r\ncom=7\r\n");
    CommSettings expected;
    expected.connectTimeO = 123;
    EXPECT_TRUE(SameRecord(s, expected));
    EXPECT_EQ(ReadAll(ConfigPath()), "[Other]\r\ncom=7\r\n") << "a load never writes";
}

TEST_F(SettingsFile, ValuesAreTakenModulo2To32AndCutToTheFieldWidth) {
    CommSettings s = Load("[Set]\r\nPortNo=70000\r\ntcpReadTimeO=70000\r\nIPAddr=-1062731656\r\n"
                          "com=-1\r\nCommWay=4294967298\r\n");
    EXPECT_EQ(s.PortNo, 4464);
    EXPECT_EQ(s.tcpReadTimeO, 4464);
    EXPECT_EQ(s.IPAddr, 0xC0A80078u);
    EXPECT_EQ(s.com, -1);
    EXPECT_EQ(s.CommWay, 2);
}

TEST_F(SettingsFile, SaveWritesSignedValuesThatLoadBackToTheSameBits) {
    CommSettings saved;
    saved.PortNo = static_cast<std::int16_t>(static_cast<std::uint16_t>(40000));
    saved.tcpReadTimeO = -1;
    saved.com = 19;
    saved.CommWay = 1;
    ASSERT_TRUE(Save(saved));
    const std::string text = ReadAll(ConfigPath());
    EXPECT_NE(text.find("\r\nIPAddr=-1062731656\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nPortNo=-25536\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\ntcpReadTimeO=-1"), std::string::npos) << text;

    CommSettings loaded = Unusual();
    ASSERT_TRUE(ExchangeSettingsFile(loaded, false, ConfigPath(), &m_reporter));
    saved.connectTimeO = loaded.connectTimeO;
    EXPECT_TRUE(SameRecord(loaded, saved));
    EXPECT_EQ(static_cast<std::uint16_t>(loaded.PortNo), 40000);
    EXPECT_TRUE(m_reporter.texts.empty());
}

TEST_F(SettingsFile, SeveralSavesKeepEveryOtherByteOfAHandEditedFile) {
    const std::string hand =
        "; my controller\r\n[ports]\r\nCOM3=/dev/ttyUSB0\r\n\r\n[Set]\r\n"
        ";Communication 0=Seriel Port, 1=TCP/IP\r\nCommWay = 0\t\t\t\t\t   \r\n"
        "\t\t;tcpip wait time\r\ntcpReadTimeO=3000\r\n\r\n[Extra]\r\nkey=value ; note\r\n";
    WriteAll(ConfigPath(), hand);
    CommSettings s;
    for (int round = 0; round < 3; ++round) {
        s.com = round;
        s.CommWay = round % 2;
        s.tcpReadTimeO = static_cast<std::int16_t>(1000 + round);
        ASSERT_TRUE(Save(s));
    }
    // Changed values in place, the missing keys after the section's last key,
    // in the order written, and nothing else touched.
    EXPECT_EQ(ReadAll(ConfigPath()),
              "; my controller\r\n[ports]\r\nCOM3=/dev/ttyUSB0\r\n\r\n[Set]\r\n"
              ";Communication 0=Seriel Port, 1=TCP/IP\r\nCommWay = 0\t\t\t\t\t   \r\n"
              "\t\t;tcpip wait time\r\ntcpReadTimeO=1002\r\ncom=2\r\nIPAddr=-1062731656\r\n"
              "PortNo=10001\r\n\r\n[Extra]\r\nkey=value ; note\r\n");
    EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"});
}

TEST_F(SettingsFile, SaveOfTheDefaultFileChangesOnlyTheValuesAndKeepsLfLineEnds) {
    CommSettings s;
    s.CommWay = 1;
    ASSERT_TRUE(Save(s));  // creates the default file first, then writes
    std::string expected = kDefaultFile;
    expected.replace(expected.find("CommWay=0"), 9, "CommWay=1");
    expected.replace(expected.find("IPAddr=3232235640"), 17, "IPAddr=-1062731656");
    EXPECT_EQ(ReadAll(ConfigPath()), expected);

    WriteAll(ConfigPath(), "[Set]\ncom=0\n");
    ASSERT_TRUE(Save(s));
    EXPECT_EQ(ReadAll(ConfigPath()),
              "[Set]\ncom=0\nIPAddr=-1062731656\nPortNo=10001\nCommWay=1\ntcpReadTimeO=3000\n");
}

TEST_F(SettingsFile, AFileThatCannotBeCreatedShowsOneErrorAndLeavesTheRecord) {
    // A regular file where the folder should be stops root as well.
    WriteAll(Path("notafolder"), "x");
    const std::string path = Path("notafolder") + "/Config.ini";
    CommSettings s = Unusual();
    EXPECT_FALSE(ExchangeSettingsFile(s, false, path, &m_reporter));
    ExpectOneReport(path + " contains an invalid path.");
    EXPECT_TRUE(SameRecord(s, Unusual()));

    EXPECT_FALSE(ExchangeSettingsFile(s, true, path, &m_reporter));
    ExpectOneReport(path + " contains an invalid path.");
    EXPECT_TRUE(SameRecord(s, Unusual()));

    const std::string missing = Path("no/such/folder") + "/Config.ini";
    EXPECT_FALSE(ExchangeSettingsFile(s, false, missing, nullptr));
    EXPECT_FALSE(ExchangeSettingsFile(s, true, missing, &m_reporter));
    ExpectOneReport(missing + " contains an invalid path.");
    EXPECT_EQ(Names(), std::set<std::string>{"notafolder"});
}

TEST_F(SettingsFile, SaveToAReadOnlyFileReportsTheFailureAndKeepsTheFile) {
    WriteAll(ConfigPath(), kDefaultFile);
    ASSERT_EQ(::chmod(ConfigPath().c_str(), 0444), 0);
    CommSettings s = Unusual();
    EXPECT_FALSE(Save(s));
    ExpectOneReport("Access to " + ConfigPath() + " was denied.");
    EXPECT_EQ(ReadAll(ConfigPath()), kDefaultFile);

    // Loading a read-only file is fine.
    CommSettings loaded = Unusual();
    EXPECT_TRUE(ExchangeSettingsFile(loaded, false, ConfigPath(), &m_reporter));
    EXPECT_EQ(loaded.com, 0);
    EXPECT_TRUE(m_reporter.texts.empty());
}

TEST_F(SettingsFile, FailedRenameLeavesTheOldFileAndNoTemporary_InjectedEbusy) {
    WriteAll(ConfigPath(), kDefaultFile);
    ASSERT_EQ(::chmod(ConfigPath().c_str(), 0604), 0);
    platform::FailNextReplace(platform::ReplaceStep::Rename, EBUSY);
    EXPECT_FALSE(Save(Unusual()));
    ExpectOneReport("An unknown error occurred while accessing " + ConfigPath() + ".");
    EXPECT_EQ(ReadAll(ConfigPath()), kDefaultFile);
    EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"});

    ASSERT_TRUE(Save(Unusual()));
    struct stat st{};
    ASSERT_EQ(::stat(ConfigPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"});
}

TEST_F(SettingsFile, FullDiskLeavesTheOldFileAndSaysSo_InjectedEnospc) {
    WriteAll(ConfigPath(), kDefaultFile);
    platform::FailNextReplace(platform::ReplaceStep::Write, ENOSPC);
    EXPECT_FALSE(Save(Unusual()));
    ExpectOneReport("Disk full while accessing " + ConfigPath() + ".");
    EXPECT_EQ(ReadAll(ConfigPath()), kDefaultFile);
    EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"});

    // A full disk while creating the file leaves no file at all.
    std::filesystem::remove(ConfigPath());
    platform::FailNextReplace(platform::ReplaceStep::Write, ENOSPC);
    CommSettings s = Unusual();
    EXPECT_FALSE(ExchangeSettingsFile(s, false, ConfigPath(), &m_reporter));
    ExpectOneReport("Disk full while accessing " + ConfigPath() + ".");
    EXPECT_TRUE(SameRecord(s, Unusual()));
    EXPECT_TRUE(Names().empty());
}

TEST(SettingsPath, IsConfigIniInTheExecutablesFolder) {
    const std::string path = ConfigFilePath();
    EXPECT_EQ(path, platform::ExecutableFolder() + "Config.ini");
    EXPECT_EQ(path.front(), '/');
}

struct PlaceCase {
    const char* name;
    ConfigPlaces places;
    const char* expected;
};

TEST(SettingsPath, RuleChoosesBesideTheProgramOrTheUsersConfigurationFolder) {
    auto places = [](bool beside, bool writable, bool installFolder, const char* xdg,
                     const char* home) {
        ConfigPlaces p;
        p.executableFolder = "/opt/v/";
        p.configBesideExecutable = beside;
        p.executableFolderWritable = writable;
        p.executableFolderIsInstallFolder = installFolder;
        p.xdgConfigHome = xdg;
        p.home = home;
        return p;
    };
    ConfigPlaces unknownFolder = places(false, false, false, "", "/h");
    unknownFolder.executableFolder.clear();
    const PlaceCase cases[] = {
        {"writable folder", places(false, true, false, "/x", "/h"), "/opt/v/Config.ini"},
        {"file already beside a read-only program",
         places(true, false, false, "/x", "/h"), "/opt/v/Config.ini"},
        {"file already in the install folder", places(true, true, true, "", "/h"),
         "/opt/v/Config.ini"},
        {"root in the install folder", places(false, true, true, "", "/root"),
         "/root/.config/vornic-updater/Config.ini"},
        {"XDG unset", places(false, false, false, "", "/h"), "/h/.config/vornic-updater/Config.ini"},
        {"XDG absolute", places(false, false, false, "/x/cfg", "/h"),
         "/x/cfg/vornic-updater/Config.ini"},
        {"XDG with trailing slashes", places(false, false, false, "/x//", "/h"),
         "/x/vornic-updater/Config.ini"},
        {"XDG is the root folder", places(false, false, false, "/", "/h"),
         "/vornic-updater/Config.ini"},
        {"XDG relative is ignored", places(false, false, false, "x/cfg", "/h"),
         "/h/.config/vornic-updater/Config.ini"},
        {"home with trailing slash", places(false, false, false, "", "/h/"),
         "/h/.config/vornic-updater/Config.ini"},
        {"XDG absolute without a home", places(false, false, false, "/x", ""),
         "/x/vornic-updater/Config.ini"},
        {"no home and no XDG", places(false, false, false, "", ""), "/opt/v/Config.ini"},
        {"relative home", places(false, false, false, "x", "h"), "/opt/v/Config.ini"},
        {"executable's folder unknown", unknownFolder, "/h/.config/vornic-updater/Config.ini"},
    };
    for (const PlaceCase& c : cases) {
        EXPECT_EQ(ChooseConfigFilePath(c.places), c.expected) << c.name;
    }
}

// The probe program in a folder of a fresh tree, run with HOME and
// XDG_CONFIG_HOME as a user's shell would set them.
class SettingsPlace : public TempFolderTest {
protected:
    struct Run {
        int status = -1;
        std::string line;  // the record
        std::string path;  // the file the rule picked
        std::string errors;
    };

    void SetUp() override {
        TempFolderTest::SetUp();
        FreshTree();
    }
    void TearDown() override {
        MakeBinWritable();
        TempFolderTest::TearDown();
    }

    // The program alone in bin/, an empty home/ and the working folder cwd/.
    void FreshTree() {
        MakeBinWritable();
        for (const auto& entry : std::filesystem::directory_iterator(m_dir))
            std::filesystem::remove_all(entry.path());
        for (const char* folder : {"bin", "home", "cwd"}) std::filesystem::create_directory(m_dir / folder);
        std::filesystem::copy_file(VORNIC_SETTINGS_PROBE, m_dir / "bin" / "updater");
    }
    void MakeBinWritable() {
        std::error_code ignored;
        std::filesystem::permissions(m_dir / "bin", std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }

    // `xdg` nullptr leaves XDG_CONFIG_HOME unset; "@" stands for the tree.
    Run RunProbe(const char* xdg) {
        std::vector<std::string> argv = {"/usr/bin/env", "-C", Path("cwd"), "-u", "XDG_CONFIG_HOME",
                                         "HOME=" + Path("home")};
        if (xdg) argv.push_back("XDG_CONFIG_HOME=" + Expand(xdg));
        argv.push_back(Path("bin/updater"));
        support::Subprocess probe(argv);
        Run run;
        if (!probe.Started()) return run;
        run.status = probe.Wait(kProbeMs).value_or(-1);
        const std::string& text = probe.Stdout();
        const auto newline = text.find('\n');
        run.line = text.substr(0, newline);
        if (newline != std::string::npos) run.path = text.substr(newline + 1);
        if (!run.path.empty() && run.path.back() == '\n') run.path.pop_back();
        run.errors = probe.Stderr();
        return run;
    }

    std::string Expand(std::string text) const {
        const auto at = text.find('@');
        if (at != std::string::npos) text.replace(at, 1, m_dir.string());
        return text;
    }

    // Every Config.ini in the tree, relative to it.
    std::set<std::string> ConfigFiles() const {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir)) {
            if (entry.path().filename() == "Config.ini")
                found.insert(std::filesystem::relative(entry.path(), m_dir).string());
        }
        return found;
    }
};

struct RealPlaceCase {
    const char* name;
    bool folderWritable;
    const char* besideText;  // nullptr: no Config.ini beside the program
    const char* xdg;         // nullptr: unset; "@" stands for the tree
    const char* xdgFile;     // a Config.ini already there, holding com=7
    const char* expected;    // relative to the tree
    int com;                 // what the record holds afterwards
};

TEST_F(SettingsPlace, ReadOnlyProgramFolderMovesTheFileToTheUsersConfigurationFolder) {
    const RealPlaceCase cases[] = {
        {"writable folder", true, nullptr, "@/xdg", nullptr, "bin/Config.ini", 0},
        {"read-only folder holding a file", false, "[Set]\r\ncom=5\r\n", nullptr, nullptr,
         "bin/Config.ini", 5},
        {"XDG unset", false, nullptr, nullptr, nullptr, "home/.config/vornic-updater/Config.ini", 0},
        {"XDG absolute and missing", false, nullptr, "@/xdg/deep", nullptr,
         "xdg/deep/vornic-updater/Config.ini", 0},
        {"XDG relative", false, nullptr, "rel/cfg", nullptr, "home/.config/vornic-updater/Config.ini", 0},
        {"XDG empty", false, nullptr, "", nullptr, "home/.config/vornic-updater/Config.ini", 0},
        {"file kept in the XDG folder", false, nullptr, "@/xdg", "xdg/vornic-updater",
         "xdg/vornic-updater/Config.ini", 7},
    };
    for (const RealPlaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        FreshTree();
        const std::string kept = "[Set]\r\ncom=7\r\n";
        if (c.besideText) WriteAll(Path("bin/Config.ini"), c.besideText);
        if (c.xdgFile) {
            std::filesystem::create_directories(m_dir / c.xdgFile);
            WriteAll(Path(std::string(c.xdgFile) + "/Config.ini"), kept);
        }
        // No write bit for anyone: read-only to root as well.
        if (!c.folderWritable) {
            ASSERT_EQ(::chmod(Path("bin").c_str(), 0555), 0);
        }

        const Run run = RunProbe(c.xdg);
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(run.line, "ok 3232235640 10001 2000 3000 0 " + std::to_string(c.com));
        EXPECT_EQ(run.path, Path(c.expected));
        EXPECT_EQ(ConfigFiles(), std::set<std::string>{c.expected});
        const std::string expectedText = c.besideText ? c.besideText : c.xdgFile ? kept : kDefaultFile;
        EXPECT_EQ(ReadAll(Path(c.expected)), expectedText);
        EXPECT_TRUE(std::filesystem::is_empty(m_dir / "cwd"));
        if (!c.besideText && !c.xdgFile && !c.folderWritable) {
            // A folder the program made is the user's alone.
            struct stat st{};
            ASSERT_EQ(::stat(Path(c.expected).substr(0, Path(c.expected).rfind('/')).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u);
        }
    }
}

TEST_F(SettingsPlace, ConfigurationFolderThatCannotBeMadeIsOneFileErrorNamingIt) {
    WriteAll(Path("plain"), "x");
    ASSERT_EQ(::chmod(Path("bin").c_str(), 0555), 0);
    const Run run = RunProbe("@/plain");
    const std::string expected = Path("plain") + "/vornic-updater/Config.ini";
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.line, "failed 3232235640 10001 2000 3000 0 0");
    EXPECT_EQ(run.path, expected);
    EXPECT_EQ(run.errors, "file error: " + expected + " contains an invalid path.\n");
    EXPECT_TRUE(ConfigFiles().empty());
}

class SettingsStartUp : public TempFolderTest {};

TEST_F(SettingsStartUp, ProgramInAFolderWithMultibyteNameCreatesConfigIniBesideItself) {
    // The folder name holds multibyte characters and a backslash: only '/'
    // separates folders here.
    const std::filesystem::path folder = m_dir / "\xE5\x9B\xBA\xE4\xBB\xB6 a\\b";
    std::filesystem::create_directory(folder);
    const std::filesystem::path program = folder / "updater";
    std::filesystem::copy_file(VORNIC_SETTINGS_PROBE, program);

    FILE* out = ::popen(("'" + program.string() + "'").c_str(), "r");
    ASSERT_NE(out, nullptr);
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, out) != nullptr;
    const int status = ::pclose(out);
    ASSERT_TRUE(got);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_STREQ(line, "ok 3232235640 10001 2000 3000 0 0\n");
    EXPECT_EQ(ReadAll((folder / "Config.ini").string()), kDefaultFile);
}

class ComPortOverrides : public TempFolderTest {
protected:
    void TearDown() override {
        platform::ClearComPortPaths();
        TempFolderTest::TearDown();
    }
};

TEST_F(ComPortOverrides, PortsSectionFillsTheTableAndMalformedLinesAreIgnored) {
    platform::ClearComPortPaths();
    WriteAll(Path("Config.ini"),
             "[Set]\r\ncom=2\r\nCOM4=/dev/not-this\r\n[Ports]\r\nCOM3=/dev/ttyUSB0\r\n"
             "com12 = /dev/ttyACM1 \r\nCOM3=/dev/second\r\nCOM0=/dev/a\r\nCOM256=/dev/b\r\n"
             "COM07=/dev/c\r\nCOMx=/dev/d\r\nCOM+4=/dev/f\r\nCOM5=\r\nCOM6=relative\r\n;COM7=/dev/e\r\n"
             "COM255=/dev/last\r\n");
    LoadComPortOverrides(Path("Config.ini"));
    const std::map<std::uint16_t, std::string> expected = {
        {3, "/dev/ttyUSB0"}, {12, "/dev/ttyACM1"}, {255, "/dev/last"}};
    EXPECT_EQ(platform::ComPortPaths(), expected);
    EXPECT_EQ(comm::ResolveComDevice("\\\\.\\COM12"), "/dev/ttyACM1");
}

TEST_F(ComPortOverrides, MissingFileChangesNothingAndCreatesNothing) {
    platform::ClearComPortPaths();
    platform::SetComPortPath(2, "/dev/kept");
    LoadComPortOverrides(Path("Config.ini"));
    EXPECT_EQ(platform::ComPortPaths().size(), 1u);
    EXPECT_TRUE(Names().empty());
}
