// Config.ini on Windows: beside the program, in a folder whose name only
// UTF-16 can carry, and replaced so that a crash leaves the old file or the
// new one.

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>

#include "platform/module_path.h"
#include "platform/text_file.h"
#include "platform/user_folders.h"
#include "settings/comm_settings.h"
#include "settings_test_support.h"
#include "support/temp_folder.h"

using settings_tests::kDefaultFile;
using settings_tests::SettingsFile;
using settings_tests::Unusual;
using support::ReadAll;
using support::TempFolderTest;
using support::Utf8Path;
using support::WriteAll;

namespace {

// "固件 配置" (firmware settings).
const std::string kChineseFolder = "\xE5\x9B\xBA\xE4\xBB\xB6 \xE9\x85\x8D\xE7\xBD\xAE";

struct ProbeRun {
    DWORD status = 0xFFFFFFFF;
    std::string output;
};

// Runs the settings probe at `program`, its standard output into a file of
// the test's folder.
ProbeRun RunProbe(const std::string& program, const std::string& outputPath) {
    ProbeRun run;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE output = ::CreateFileW(Utf8Path(outputPath).wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) return run;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    startup.hStdInput = nullptr;
    std::wstring commandLine = L"\"" + Utf8Path(program).wstring() + L"\"";
    PROCESS_INFORMATION process{};
    if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &process)) {
        // Loose: the probe only loads its settings.
        ::WaitForSingleObject(process.hProcess, 60000);
        ::GetExitCodeProcess(process.hProcess, &run.status);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(output);
    run.output = ReadAll(outputPath);
    // The C runtime writes its text-mode line ends as CR LF.
    std::erase(run.output, '\r');
    return run;
}

// Makes `folder` and copies the probe, built beside this test program, into
// it as updater.exe; returns its path.
std::string CopyProbeInto(const std::string& folder) {
    std::filesystem::create_directory(Utf8Path(folder));
    const std::string program = folder + "\\updater.exe";
    std::filesystem::copy_file(Utf8Path(platform::ExecutableFolder() + "settings_load_probe.exe"),
                               Utf8Path(program));
    return program;
}

}  // namespace

TEST(SettingsPathWin32, IsConfigIniBesideTheProgramOnADrive) {
    const std::string path = ConfigFilePath();
    EXPECT_EQ(path, platform::ExecutableFolder() + "Config.ini");
    ASSERT_GE(path.size(), 3u);
    EXPECT_EQ(path.substr(1, 2), ":\\") << path;
}

class SettingsStartUpWin32 : public TempFolderTest {};

TEST_F(SettingsStartUpWin32, ProgramInAFolderWithAChineseNameCreatesConfigIniBesideItself) {
    const std::string folder = Path(kChineseFolder);
    const ProbeRun run = RunProbe(CopyProbeInto(folder), Path("output.txt"));
    EXPECT_EQ(run.status, 0u) << run.output;
    EXPECT_EQ(run.output, "ok 3232235640 10001 2000 3000 0 0\n" + folder + "\\Config.ini\n");
    EXPECT_EQ(ReadAll(folder + "\\Config.ini"), kDefaultFile);
}

TEST_F(SettingsStartUpWin32, ProgramBesideTheInstallersUninstallerKeepsConfigIniInAppData) {
    const std::string folder = Path(kChineseFolder);
    const std::string program = CopyProbeInto(folder);
    WriteAll(folder + "\\" VORNIC_UNINSTALLER_NAME, "");
    const std::string expected = platform::SystemSettingsFolder() + "\\vornic-updater\\Config.ini";
    const bool existed = platform::PathExists(expected);
    const ProbeRun run = RunProbe(program, Path("output.txt"));
    EXPECT_EQ(run.status, 0u) << run.output;
    EXPECT_EQ(run.output, "ok 3232235640 10001 2000 3000 0 0\n" + expected + "\n");
    EXPECT_FALSE(platform::PathExists(folder + "\\Config.ini"));
    if (!existed) std::filesystem::remove(Utf8Path(expected));
}

TEST_F(SettingsFile, AConfigIniHeldOpenByAnotherProgramWithoutSharingIsASharingViolation) {
    WriteAll(ConfigPath(), kDefaultFile);
    HANDLE holder = ::CreateFileW(Utf8Path(ConfigPath()).wstring().c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Save(Unusual()));
    ExpectOneReport("A sharing violation occurred while accessing " + ConfigPath() + ".");
    ::CloseHandle(holder);
    EXPECT_EQ(ReadAll(ConfigPath()), kDefaultFile);
    EXPECT_TRUE(Save(Unusual()));
}
