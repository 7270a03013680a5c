#include "platform/text_file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/replace_fault.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

namespace {

bool Fail(FileErrorCause* cause, FileErrorCause value) {
    if (cause) *cause = value;
    return false;
}

bool FailWith(FileErrorCause* cause, DWORD err) {
    return Fail(cause, FileErrorCauseFromSystemError(static_cast<int>(err)));
}

bool FailLastError(FileErrorCause* cause) { return FailWith(cause, ::GetLastError()); }

bool Succeed(FileErrorCause* cause) {
    if (cause) *cause = FileErrorCause::None;
    return true;
}

// Closes a handle without losing the error that made us give up on it.
void CloseKeepingError(HANDLE handle) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    ::SetLastError(error);
}

bool WriteAllAt(HANDLE file, std::string_view text) {
    if (InjectedReplaceFailure(ReplaceStep::Write)) return false;
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, text.data() + done, want, &written, nullptr)) return false;
        done += written;
    }
    return true;
}

bool SetLength(HANDLE file, std::size_t length) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(length);
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Writes through a symbolic link into the file it names, so that the link
// survives.
std::wstring ResolvedPath(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return path;
    HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return path;
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD n = ::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    if (n >= buffer.size()) {
        buffer.resize(n + 1);
        n = ::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()), 0);
    }
    ::CloseHandle(file);
    return n == 0 || n >= buffer.size() ? path : std::wstring(buffer.data(), n);
}

// Used only when the folder refuses new files but the file itself may be
// written. The room is reserved first so that a full disk fails before any
// byte changes.
bool RewriteInPlace(const std::wstring& target, std::string_view text, std::size_t oldLength,
                    FileErrorCause* cause) {
    HANDLE file = ::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FailLastError(cause);
    const bool written = (text.size() <= oldLength || SetLength(file, text.size())) &&
                         WriteAllAt(file, text) && SetLength(file, text.size()) &&
                         ::FlushFileBuffers(file);
    if (!written) {
        CloseKeepingError(file);
        return FailLastError(cause);
    }
    if (!::CloseHandle(file)) return FailLastError(cause);
    return Succeed(cause);
}

// Replaces (or creates) `target` with `text` through a temporary file in its
// folder. `exists` says whether there is a file to replace, of `oldLength`
// bytes.
bool ReplaceWithText(const std::wstring& target, std::string_view text, bool exists,
                     std::size_t oldLength, FileErrorCause* cause) {
    static std::atomic<unsigned> counter{0};
    std::size_t slash = target.size();
    while (slash > 0 && !IsSeparator(target[slash - 1])) --slash;
    const std::wstring folder = target.substr(0, slash);
    // Kept short enough that the temporary name fits the folder's name limit.
    const std::wstring base = target.substr(slash, 200);

    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0;; ++attempt) {
        temp = folder + L"." + base + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
               std::to_wstring(counter.fetch_add(1)) + L".tmp";
        if (!InjectedReplaceFailure(ReplaceStep::CreateTemp)) {
            file = ::CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        if (file != INVALID_HANDLE_VALUE) break;
        const DWORD err = ::GetLastError();
        if ((err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS) && attempt < 100) continue;
        if (exists && err == ERROR_ACCESS_DENIED) return RewriteInPlace(target, text, oldLength, cause);
        // What is missing when a new name cannot be made is the folder.
        return err == ERROR_FILE_NOT_FOUND ? Fail(cause, FileErrorCause::BadPath) : FailWith(cause, err);
    }

    auto abandon = [&]() {
        const DWORD err = ::GetLastError();
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
        ::DeleteFileW(temp.c_str());
        return FailWith(cause, err);
    };
    if (!WriteAllAt(file, text) || !::FlushFileBuffers(file)) return abandon();
    const BOOL closed = ::CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
    if (!closed) return abandon();
    auto moveOver = [&]() {
        return ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    };
    // ReplaceFileW gives the new file the old one's attributes and access
    // rights, as the old file's mode is kept on POSIX; a new file needs only
    // the rename, written through before it returns.
    const bool replaced =
        !InjectedReplaceFailure(ReplaceStep::Rename) &&
        (exists ? ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                 nullptr, nullptr) != 0
                : moveOver());
    if (!replaced) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_UNABLE_TO_MOVE_REPLACEMENT && err != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
            return abandon();
        // The old file is gone from its name (1176) or lives on under another
        // (1177): the temporary file holds the only copy, and stays should
        // the move fail too.
        if (!moveOver()) return FailLastError(cause);
    }
    return Succeed(cause);
}

}  // namespace

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

bool ReadFileText(const std::string& path, std::string* text, FileErrorCause* cause) {
    text->clear();
    // Shared with everyone: a reader must not stop another program's save.
    HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FailLastError(cause);
    auto fail = [&](FileErrorCause value) {
        ::CloseHandle(file);
        text->clear();
        return Fail(cause, value);
    };
    // A pipe or a device put in the file's place must not hold the reader.
    if (::GetFileType(file) != FILE_TYPE_DISK) return fail(FileErrorCause::AccessDenied);
    char buffer[4096];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file, buffer, sizeof buffer, &n, nullptr))
            return fail(FileErrorCauseFromSystemError(static_cast<int>(::GetLastError())));
        if (n == 0) break;
        text->append(buffer, n);
    }
    ::CloseHandle(file);
    return Succeed(cause);
}

bool RewriteFileText(const std::string& path,
                     const std::function<std::string(const std::string&)>& edit,
                     FileErrorCause* cause) {
    const std::wstring target = ResolvedPath(Widen(path));
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_FILE_NOT_FOUND) return FailWith(cause, err);
    }

    std::string text;
    if (exists) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(cause, FileErrorCause::AccessDenied);
        // The user has marked the file read-only; an administrator could
        // still replace it, and must not.
        if (attributes & FILE_ATTRIBUTE_READONLY) return Fail(cause, FileErrorCause::AccessDenied);
        // The replacement below would go through even for a file we may not
        // write; ask for the right to write it first.
        HANDLE probe = ::CreateFileW(target.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) return FailLastError(cause);
        ::CloseHandle(probe);
        if (!ReadFileText(Narrow(target), &text, cause)) return false;
    }
    const std::string updated = edit(text);
    // Nothing to change: the file is left alone, its time stamp included.
    if (exists && updated == text) return Succeed(cause);
    return ReplaceWithText(target, updated, exists, text.size(), cause);
}

bool CreateFileWithText(const std::string& path, std::string_view text, FileErrorCause* cause) {
    return ReplaceWithText(Widen(path), text, false, 0, cause);
}

}  // namespace platform
