#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>

#include "comm/com_port_name.h"
#include "platform/com_port_paths.h"
#include "platform/module_path.h"
#include "settings/comm_settings.h"
#include "settings_test_support.h"
#include "support/subprocess.h"
#include "support/temp_folder.h"

using support::ReadAll;
using support::TempFolderTest;
using support::WriteAll;
using settings_tests::kDefaultFile;

namespace {
// Loose: the probe only loads its settings, but a sanitizer's start is slow.
constexpr int kProbeMs = 60000;
}  // namespace

TEST(SettingsPath, IsConfigIniInTheExecutablesFolder) {
    const std::string path = ConfigFilePath();
    EXPECT_EQ(path, platform::ExecutableFolder() + "Config.ini");
    EXPECT_EQ(path.front(), '/');
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
