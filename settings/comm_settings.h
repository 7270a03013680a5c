#pragma once
// The communication settings record and its file, Config.ini: beside the
// executable for a copy in a folder of its own, in the user's configuration
// folder for an installed program. The core shows nothing: a file error goes
// to a reporter that the user interface implements.

#include <cstdint>
#include <string>

struct CommSettings {
    std::uint32_t IPAddr = 0xC0A80078;  // 192.168.0.120, host byte order
    std::int16_t PortNo = 10001;
    std::int16_t connectTimeO = 2000;  // never read from or written to the file
    std::int16_t tcpReadTimeO = 3000;
    std::int32_t CommWay = 0;  // 0 serial port, 1 TCP/IP
    std::int32_t com = 0;      // zero-based: 0 is COM1
};

// Receives the file-error text of a failed creation or write, once per
// failed attempt.
class FileErrorReporter {
public:
    virtual ~FileErrorReporter() = default;
    virtual void ReportFileError(const std::string& text) = 0;
};

// What decides where Config.ini lives.
struct ConfigPlaces {
    std::string executableFolder;  // with its trailing separator, as platform gives it
    bool configBesideExecutable = false;
    bool executableFolderWritable = false;
    bool executableFolderIsInstallFolder = false;  // where the package puts programs
    std::string xdgConfigHome;  // $XDG_CONFIG_HOME as set, empty when unset
    std::string home;           // the user's home folder, empty when unknown
    // The system's own folder for a user's program settings (%APPDATA% on
    // Windows); empty where the system names none and the XDG rule decides.
    std::string systemSettingsFolder;
};

// The rule: beside the executable when a Config.ini is already there, or when
// the folder is writable and not the folder programs are installed to (root
// may write /usr/bin, which is still no place for settings). Otherwise
// vornic-updater/Config.ini in the system's settings folder where it names
// one (Windows), or else in $XDG_CONFIG_HOME, or in ~/.config when that is
// unset, empty or relative. Without a home folder it stays beside the
// executable, where its creation then reports the file error.
std::string ChooseConfigFilePath(const ConfigPlaces& places);

// The path of Config.ini for this program, by the rule above; the folder of a
// path in the user's configuration folder is created when missing (unless
// only asked where it is). The window and vornic-flash both ask here.
std::string ConfigFilePath(bool createFolder = true);

// The file operation: save false reads the file into the record
// (LoadSettings), save true writes the record to the file (SaveSettings). A
// missing file is first created with the default text. Returns false when
// the file could not be created or a value could not be written; the error
// has then been reported once.
bool ExchangeSettingsFile(CommSettings& settings, bool save, const std::string& path,
                          FileErrorReporter* reporter);

// Fills the COM override table from the optional [Ports] section
// ("COM3=/dev/ttyUSB0"). Read-only; a missing file or section changes nothing.
void LoadComPortOverrides(const std::string& path);

// Keeps COM `port` on `device` for good: adds the one line "COMn=device" to
// [Ports] (and the section when missing), every other byte of the file kept,
// and puts it in the override table. Nothing is written when the section
// already has a line for that number. False when the write failed; the error
// has then been reported once.
bool SaveComPortLine(std::uint16_t port, const std::string& device, const std::string& path,
                     FileErrorReporter* reporter);
