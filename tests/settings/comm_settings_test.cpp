#include <gtest/gtest.h>

#include <filesystem>

#include "platform/system_error.h"
#include "platform/text_file.h"
#include "settings/comm_settings.h"
#include "settings_test_support.h"
#include "support/temp_folder.h"

using support::ReadAll;
using support::WriteAll;
using settings_tests::RecordingReporter;
using settings_tests::SameRecord;
using settings_tests::SettingsFile;
using settings_tests::Unusual;
using settings_tests::kDefaultFile;

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
    // No write bit for anyone; on Windows the read-only attribute.
    std::filesystem::permissions(support::Utf8Path(ConfigPath()), std::filesystem::perms::owner_read |
                                     std::filesystem::perms::group_read | std::filesystem::perms::others_read);
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

TEST_F(SettingsFile, FullDiskLeavesTheOldFileAndSaysSo_InjectedEnospc) {
    const int kDiskFull = platform::SystemErrorCode(platform::KnownError::DiskFull);
    WriteAll(ConfigPath(), kDefaultFile);
    platform::FailNextReplace(platform::ReplaceStep::Write, kDiskFull);
    EXPECT_FALSE(Save(Unusual()));
    ExpectOneReport("Disk full while accessing " + ConfigPath() + ".");
    EXPECT_EQ(ReadAll(ConfigPath()), kDefaultFile);
    EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"});

    // A full disk while creating the file leaves no file at all.
    std::filesystem::remove(ConfigPath());
    platform::FailNextReplace(platform::ReplaceStep::Write, kDiskFull);
    CommSettings s = Unusual();
    EXPECT_FALSE(ExchangeSettingsFile(s, false, ConfigPath(), &m_reporter));
    ExpectOneReport("Disk full while accessing " + ConfigPath() + ".");
    EXPECT_TRUE(SameRecord(s, Unusual()));
    EXPECT_TRUE(Names().empty());
}

TEST_F(SettingsFile, FailedRenameLeavesTheOldFileAndNoTemporary_InjectedBusy) {
    WriteAll(ConfigPath(), kDefaultFile);
    platform::FailNextReplace(platform::ReplaceStep::Rename,
                              platform::SystemErrorCode(platform::KnownError::Busy));
    EXPECT_FALSE(Save(Unusual()));
    ExpectOneReport("An unknown error occurred while accessing " + ConfigPath() + ".");
    EXPECT_EQ(ReadAll(ConfigPath()), kDefaultFile);
    EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"});

    ASSERT_TRUE(Save(Unusual()));
    CommSettings loaded;
    EXPECT_TRUE(ExchangeSettingsFile(loaded, false, ConfigPath(), &m_reporter));
    EXPECT_EQ(loaded.com, 19);
    EXPECT_EQ(loaded.PortNo, -25536);
    EXPECT_EQ(Names(), std::set<std::string>{"Config.ini"});
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
    auto withSystemFolder = [](ConfigPlaces p, const char* folder) {
        p.systemSettingsFolder = folder;
        return p;
    };
    auto byInstaller = [](ConfigPlaces p) {
        p.installedByInstaller = true;
        return p;
    };
    const char* const appData = "C:\\Users\\u\\AppData\\Roaming";
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
        {"the system's settings folder before XDG and home",
         withSystemFolder(places(false, false, false, "/x", "/h"), appData),
         "C:\\Users\\u\\AppData\\Roaming\\vornic-updater\\Config.ini"},
        {"the system's folder with a trailing backslash",
         withSystemFolder(places(false, false, false, "", ""), "C:\\Data\\"),
         "C:\\Data\\vornic-updater\\Config.ini"},
        {"the system's folder with slashes", withSystemFolder(places(false, false, false, "", ""), "C:/Data/"),
         "C:/Data/vornic-updater/Config.ini"},
        {"a writable folder still keeps it beside the program",
         withSystemFolder(places(false, true, false, "", ""), appData), "/opt/v/Config.ini"},
        {"a file beside the program still wins",
         withSystemFolder(places(true, false, false, "", ""), appData), "/opt/v/Config.ini"},
        {"a per-user install in a writable folder counts as installed",
         byInstaller(withSystemFolder(places(false, true, false, "", ""), appData)),
         "C:\\Users\\u\\AppData\\Roaming\\vornic-updater\\Config.ini"},
        {"an installed copy keeps a file already beside it",
         byInstaller(withSystemFolder(places(true, true, false, "", ""), appData)), "/opt/v/Config.ini"},
        {"an installed copy without a system folder follows XDG",
         byInstaller(places(false, true, false, "/x", "/h")), "/x/vornic-updater/Config.ini"},
    };
    for (const PlaceCase& c : cases) {
        EXPECT_EQ(ChooseConfigFilePath(c.places), c.expected) << c.name;
    }
}
