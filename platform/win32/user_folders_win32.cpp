#include "platform/user_folders.h"

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <vector>

#include "platform/win32/path_win32.h"
#include "platform/win32/private_folder_win32.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

namespace {

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string KnownFolder(REFKNOWNFOLDERID id) {
    wchar_t* path = nullptr;
    std::string folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path))) folder = Narrow(path);
    ::CoTaskMemFree(path);
    return folder;
}

// Where the folders that may be created begin: after "C:\", after
// "\\server\share\", or at 0 for a relative path.
std::size_t FirstCreatableLevel(const std::wstring& path) {
    if (path.size() >= 2 && path[1] == L':') return path.size() > 2 && IsSeparator(path[2]) ? 3 : 2;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        // \\server\share\ or \\?\C:\ : two more names belong to the root.
        std::size_t at = 2;
        for (int names = 0; names < 2 && at != std::wstring::npos; ++names) {
            at = FindSeparator(path, at);
            if (at != std::wstring::npos) ++at;
        }
        return at == std::wstring::npos ? path.size() : at;
    }
    return IsSeparator(path.front()) ? 1 : 0;
}

}  // namespace

std::string EnvironmentValue(const char* name) {
    const std::wstring wideName = Widen(name);
    std::vector<wchar_t> buffer(256);
    for (;;) {
        const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), buffer.data(),
                                                  static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return Narrow(std::wstring_view(buffer.data(), n));
        buffer.resize(n);  // n counts the terminating zero here
    }
}

// The user's profile folder (C:\Users\name): what $HOME is to POSIX programs.
std::string HomeFolder() {
    const std::string home = KnownFolder(FOLDERID_Profile);
    return home.empty() ? EnvironmentValue("USERPROFILE") : home;
}

std::string SystemSettingsFolder() {
    const std::string folder = KnownFolder(FOLDERID_RoamingAppData);
    return folder.empty() ? EnvironmentValue("APPDATA") : folder;
}

// The read-only attribute of a Windows folder does not stop anyone writing
// in it, and access rights come from many places (the folder's list, the
// user's groups, a read-only volume); so the question is put to the system
// by creating a file there that goes away when it is closed.
bool FolderIsWritable(const std::string& folder) {
    if (folder.empty()) return false;
    const std::wstring path = Widen(folder);
    if (!IsFolder(path)) return false;
    static std::atomic<unsigned> counter{0};
    std::wstring probe = path;
    if (!IsSeparator(probe.back())) probe += L'\\';
    probe += L"~vornic-write-probe-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
             std::to_wstring(counter.fetch_add(1)) + L".tmp";
    HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

bool CreateFolders(const std::string& folder) {
    if (folder.empty()) return false;
    const std::wstring path = Widen(folder);
    // Each level in turn from the top; one that exists already is fine.
    for (std::size_t end = FindSeparator(path, FirstCreatableLevel(path));; end = FindSeparator(path, end + 1)) {
        const std::wstring level = path.substr(0, end);
        if (!level.empty() && !IsSeparator(level.back()) && !Exists(level) && !CreatePrivateFolder(level))
            return false;
        if (end == std::wstring::npos) break;
    }
    return IsFolder(path);
}

}  // namespace platform
