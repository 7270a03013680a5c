#include "settings/comm_settings.h"

#include <charconv>
#include <string_view>
#include <vector>

#include "platform/com_port_paths.h"
#include "platform/file_error.h"
#include "platform/module_path.h"
#include "platform/text_file.h"
#include "platform/user_folders.h"
#include "settings/profile_file.h"

namespace {

using settings::GetProfileSection;
using settings::ProfileEntry;
using settings::ProfileInt;
using settings::WriteProfileStrings;

constexpr char kSection[] = "Set";
constexpr char kPortsSection[] = "Ports";
constexpr char kFileName[] = "Config.ini";
constexpr char kAppFolder[] = "vornic-updater";

// What a new Config.ini holds, byte for byte: 175 bytes, CR LF between the
// lines and none after the last.
constexpr std::string_view kDefaultText =
    "[Set]\r\n"
    ";Communication 0=Seriel Port, 1=TCP/IP\r\n"
    "CommWay=0\t\t\t\t\t   \r\n"
    ";com is zero based index\r\n"
    "com=0\r\n"
    "IPAddr=3232235640\r\n"
    "PortNo=10001\r\n"
    "\t\t\t\t\t   ;tcpip wait time\r\n"
    "tcpReadTimeO=3000";
static_assert(kDefaultText.size() == 175);

constexpr std::uint16_t kLastComPort = 255;

void Report(FileErrorReporter* reporter, platform::FileErrorCause cause, const std::string& path) {
    if (reporter) reporter->ReportFileError(platform::FileErrorText(cause, path));
}

void Load(CommSettings& settings, const std::string& path) {
    // An unreadable file reads as empty: every key then gets its default.
    std::string text;
    platform::ReadFileText(path, &text, nullptr);
    const CommSettings defaults;
    auto read = [&](const char* key, std::uint32_t defaultValue) {
        return ProfileInt(text, kSection, key, defaultValue);
    };
    settings.com = static_cast<std::int32_t>(read("com", static_cast<std::uint32_t>(defaults.com)));
    settings.IPAddr = read("IPAddr", defaults.IPAddr);
    settings.PortNo = static_cast<std::int16_t>(static_cast<std::uint16_t>(
        read("PortNo", static_cast<std::uint16_t>(defaults.PortNo))));
    settings.CommWay =
        static_cast<std::int32_t>(read("CommWay", static_cast<std::uint32_t>(defaults.CommWay)));
    settings.tcpReadTimeO = static_cast<std::int16_t>(static_cast<std::uint16_t>(
        read("tcpReadTimeO", static_cast<std::uint16_t>(defaults.tcpReadTimeO))));
}

bool Save(const CommSettings& settings, const std::string& path, FileErrorReporter* reporter) {
    // Signed, as the file has always held them: 192.168.0.120 is -1062731656
    // and port 40000 is -25536; the reader takes both back to the same bits.
    const std::vector<ProfileEntry> entries = {
        {"com", std::to_string(settings.com)},
        {"IPAddr", std::to_string(static_cast<std::int32_t>(settings.IPAddr))},
        {"PortNo", std::to_string(settings.PortNo)},
        {"CommWay", std::to_string(settings.CommWay)},
        {"tcpReadTimeO", std::to_string(settings.tcpReadTimeO)},
    };
    platform::FileErrorCause cause = platform::FileErrorCause::None;
    if (WriteProfileStrings(kSection, entries, path, &cause)) return true;
    Report(reporter, cause, path);
    return false;
}

// "COM1" to "COM255", any case, without leading zeros; 0 for anything else.
std::uint16_t PortsKeyNumber(std::string_view key) {
    if (key.size() < 4 || key.size() > 6) return 0;
    for (int i = 0; i < 3; ++i) {
        if ((key[static_cast<std::size_t>(i)] | 0x20) != "com"[i]) return 0;
    }
    if (key[3] == '0') return 0;
    std::uint16_t number = 0;
    const char* const end = key.data() + key.size();
    const auto [stop, failure] = std::from_chars(key.data() + 3, end, number);
    return failure == std::errc{} && stop == end && number <= kLastComPort ? number : 0;
}

}  // namespace

std::string ChooseConfigFilePath(const ConfigPlaces& places) {
    const std::string beside = places.executableFolder + kFileName;
    if (places.configBesideExecutable) return beside;
    if (places.executableFolderWritable && !places.executableFolderIsInstallFolder) return beside;
    // Only absolute folders count: a relative one would move with the
    // working folder.
    auto absolute = [](const std::string& folder) { return !folder.empty() && folder.front() == '/'; };
    auto withoutTrailing = [](std::string folder, char separator) {
        while (!folder.empty() && folder.back() == separator) folder.pop_back();
        return folder;
    };
    if (!places.systemSettingsFolder.empty()) {
        // The system's folder speaks its own separator: a backslash where it
        // holds no slash at all.
        const std::string& folder = places.systemSettingsFolder;
        const char separator =
            folder.find('/') == std::string::npos && folder.find('\\') != std::string::npos ? '\\' : '/';
        return withoutTrailing(folder, separator) + separator + kAppFolder + separator + kFileName;
    }
    std::string base;
    if (absolute(places.xdgConfigHome)) {
        base = withoutTrailing(places.xdgConfigHome, '/');
    } else if (absolute(places.home)) {
        base = withoutTrailing(places.home, '/') + "/.config";
    } else {
        return beside;
    }
    return base + "/" + kAppFolder + "/" + kFileName;
}

std::string ConfigFilePath(bool createFolder) {
    ConfigPlaces places;
    places.executableFolder = platform::ExecutableFolder();
    places.configBesideExecutable = platform::PathExists(places.executableFolder + kFileName);
    places.executableFolderWritable = platform::FolderIsWritable(places.executableFolder);
    places.executableFolderIsInstallFolder =
        !places.executableFolder.empty() &&
        places.executableFolder == std::string(VORNIC_INSTALL_BINDIR) + "/";
    places.xdgConfigHome = platform::EnvironmentValue("XDG_CONFIG_HOME");
    places.home = platform::HomeFolder();
    places.systemSettingsFolder = platform::SystemSettingsFolder();
    const std::string path = ChooseConfigFilePath(places);
    if (createFolder && path != places.executableFolder + kFileName) {
        // A folder that cannot be made shows up as the file error of the
        // file's creation, naming the path the user has to look at. The
        // folder ends at the separator before the file's name.
        platform::CreateFolders(path.substr(0, path.size() - sizeof kFileName));
    }
    return path;
}

bool ExchangeSettingsFile(CommSettings& settings, bool save, const std::string& path,
                          FileErrorReporter* reporter) {
    if (!platform::PathExists(path)) {
        platform::FileErrorCause cause = platform::FileErrorCause::None;
        if (!platform::CreateFileWithText(path, kDefaultText, &cause)) {
            Report(reporter, cause, path);
            return false;
        }
    }
    if (!save) {
        Load(settings, path);
        return true;
    }
    return Save(settings, path, reporter);
}

void LoadComPortOverrides(const std::string& path) {
    std::vector<bool> seen(kLastComPort + 1u, false);
    for (const ProfileEntry& entry : GetProfileSection(kPortsSection, path)) {
        const std::uint16_t port = PortsKeyNumber(entry.key);
        // A device is named by its full path; the first line for a port wins.
        if (port == 0 || seen[port] || entry.value.empty() || entry.value.front() != '/') continue;
        seen[port] = true;
        platform::SetComPortPath(port, entry.value);
    }
}

bool SaveComPortLine(std::uint16_t port, const std::string& device, const std::string& path,
                     FileErrorReporter* reporter) {
    for (const ProfileEntry& entry : GetProfileSection(kPortsSection, path)) {
        if (PortsKeyNumber(entry.key) == port) return true;
    }
    platform::FileErrorCause cause = platform::FileErrorCause::None;
    if (!settings::WriteProfileString(kPortsSection, "COM" + std::to_string(port), device, path, &cause)) {
        Report(reporter, cause, path);
        return false;
    }
    platform::SetComPortPath(port, device);
    return true;
}
