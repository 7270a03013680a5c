#include "platform/read_only_file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>

#include "platform/system_error.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

namespace {

std::atomic<int> g_lockFault{0};

HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::int64_t Size(const BY_HANDLE_FILE_INFORMATION& info) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                     info.nFileSizeLow);
}

// The last write time, in 100 ns steps, as seconds and nanoseconds.
void ModifiedTime(const BY_HANDLE_FILE_INFORMATION& info, std::int64_t* sec, std::int64_t* nsec) {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime;
    *sec = static_cast<std::int64_t>(ticks / 10000000u);
    *nsec = static_cast<std::int64_t>(ticks % 10000000u) * 100;
}

[[noreturn]] void ThrowLastError() {
    const int err = LastError();
    throw FileError(FileErrorCauseFromSystemError(err), SystemErrorText(err));
}

}  // namespace

void FailNextFileLock(int error) { g_lockFault.store(error); }

ReadOnlyFile::~ReadOnlyFile() { Close(); }

bool ReadOnlyFile::Open(const std::string& path, FileErrorCause* cause) {
    Close();
    auto fail = [&](FileErrorCause c) {
        Close();
        if (cause) *cause = c;
        return false;
    };
    if (path.empty()) return fail(FileErrorCause::BadPath);
    if (const int error = g_lockFault.exchange(0); error != 0)
        return fail(FileErrorCauseFromSystemError(error));

    // Shared with no one: while the image is read, nobody may write it, and
    // an open by another holder is a sharing violation.
    HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail(FileErrorCauseFromSystemError(LastError()));
    m_handle = reinterpret_cast<std::intptr_t>(file);
    // A folder already fails the open; a pipe or a device (CON, COM1) is
    // refused here, before anything blocks on it.
    if (::GetFileType(file) != FILE_TYPE_DISK) return fail(FileErrorCause::AccessDenied);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return fail(FileErrorCauseFromSystemError(LastError()));
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return fail(FileErrorCause::AccessDenied);
    m_size = Size(info);
    ModifiedTime(info, &m_modifiedSec, &m_modifiedNsec);
    if (cause) *cause = FileErrorCause::None;
    return true;
}

bool ReadOnlyFile::ChangedSinceOpen() const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!IsOpen() || !::GetFileInformationByHandle(Handle(m_handle), &info)) return true;
    std::int64_t sec = 0, nsec = 0;
    ModifiedTime(info, &sec, &nsec);
    return Size(info) != m_size || sec != m_modifiedSec || nsec != m_modifiedNsec;
}

std::uint64_t ReadOnlyFile::Length() const {
    if (!IsOpen()) throw FileError(FileErrorCause::InvalidFile, "file not open");
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(Handle(m_handle), &size)) ThrowLastError();
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t ReadOnlyFile::Read(void* buffer, std::size_t count) {
    if (!IsOpen()) throw FileError(FileErrorCause::InvalidFile, "file not open");
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(Handle(m_handle), out + done, want, &got, nullptr)) ThrowLastError();
        if (got == 0) break;
        done += got;
    }
    return done;
}

void ReadOnlyFile::Close() {
    if (IsOpen()) {
        ::CloseHandle(Handle(m_handle));
        m_handle = kNoHandle;
    }
}

}  // namespace platform
