#include "platform/text_file.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/file_calls.h"
#include "platform/win32/path_win32.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

bool PathExists(const std::string& path) {
    const std::wstring wide = Widen(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    // A link counts only when what it names is there.
    HANDLE target = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(target);
    return true;
}

namespace file_calls {

namespace {

HANDLE Handle(NativeFile file) { return reinterpret_cast<HANDLE>(file); }
NativeFile Opened(HANDLE handle) { return reinterpret_cast<NativeFile>(handle); }

bool SetPosition(HANDLE file, std::size_t offset) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

// Through a symbolic link into the file it names.
std::string ResolvedPath(const std::string& path) {
    const std::wstring wide = Widen(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
    HANDLE file = ::CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD n = ::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (n >= buffer.size()) {
        buffer.resize(n + 1);
        n = ::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    }
    ::CloseHandle(file);
    return n == 0 || n >= buffer.size() ? path : Narrow(std::wstring(buffer.data(), n));
}

bool Inspect(const std::string& path, ExistingFile* file) {
    *file = ExistingFile{};
    const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    file->exists = true;
    file->regular = !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    file->markedReadOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    return true;
}

// Asks for the right to write the file, which ReplaceFileW would not.
bool MayWrite(const std::string& path) {
    HANDLE probe = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(probe);
    return true;
}

std::size_t FolderEnd(const std::string& path) {
    const std::size_t last = path.find_last_of(kSeparators);
    return last == std::string::npos ? 0 : last + 1;
}

// Shared with everyone: a reader must not stop another program's save.
NativeFile OpenToRead(const std::string& path) {
    return Opened(::CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool IsRegularFile(NativeFile file, bool* regular) {
    *regular = ::GetFileType(Handle(file)) == FILE_TYPE_DISK;
    return true;
}

NativeFile CreateNew(const std::string& path, bool) {
    return Opened(::CreateFileW(Widen(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

NoNewFile WhyNoNewFile(int error) {
    switch (static_cast<DWORD>(error)) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return NoNewFile::NameTaken;
    case ERROR_ACCESS_DENIED: return NoNewFile::FolderRefuses;
    case ERROR_FILE_NOT_FOUND: return NoNewFile::FolderMissing;
    default: return NoNewFile::Other;
    }
}

NativeFile OpenToWrite(const std::string& path) {
    return Opened(::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool Reserve(NativeFile file, std::size_t length) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(Handle(file), &size)) return false;
    return static_cast<std::uint64_t>(size.QuadPart) >= length || SetLength(file, length);
}

bool WriteFromStart(NativeFile file, std::string_view text) {
    if (!SetPosition(Handle(file), 0)) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(Handle(file), text.data() + done, want, &written, nullptr)) return false;
        done += written;
    }
    return true;
}

bool SetLength(NativeFile file, std::size_t length) {
    return SetPosition(Handle(file), length) && ::SetEndOfFile(Handle(file));
}

// ReplaceFileW gives the new file the old one's attributes and access rights.
bool KeepOwnerAndMode(NativeFile, const ExistingFile&) { return true; }

bool Sync(NativeFile file) { return ::FlushFileBuffers(Handle(file)) != 0; }

bool Close(NativeFile file) { return ::CloseHandle(Handle(file)) != 0; }

void Remove(const std::string& path) { ::DeleteFileW(Widen(path).c_str()); }

bool ReplaceExisting(const std::string& temp, const std::string& target) {
    return ::ReplaceFileW(Widen(target).c_str(), Widen(temp).c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                          nullptr, nullptr) != 0;
}

bool MoveOver(const std::string& temp, const std::string& target) {
    return ::MoveFileExW(Widen(temp).c_str(), Widen(target).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Without a backup name, ReplaceFileW has then left the old file under no
// name (1176) or under one of its own choosing (1177), and the new file under
// its temporary name.
bool OldFileMovedAside(int error) {
    return error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
}

// MoveFileExW writes the new name through before it returns.
void SyncFolder(const std::string&) {}

}  // namespace file_calls

}  // namespace platform
