#include "platform/read_only_file.h"

#include <windows.h>

#include <algorithm>

#include "platform/file_calls.h"
#include "platform/system_error.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

namespace {

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

}  // namespace

FileErrorCause ReadOnlyFile::OpenAlone(const std::string& path) {
    if (const int error = file_calls::TakeInjectedLockFailure(); error != 0)
        return FileErrorCauseFromSystemError(error);

    // Shared with no one: while the image is read, nobody may write it, and
    // an open by another holder is a sharing violation.
    HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FileErrorCauseFromSystemError(LastError());
    m_handle = reinterpret_cast<std::intptr_t>(file);
    // A folder already fails the open; a pipe or a device (CON, COM1) is
    // refused here, before anything blocks on it.
    if (::GetFileType(file) != FILE_TYPE_DISK) return FileErrorCause::AccessDenied;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return FileErrorCauseFromSystemError(LastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileErrorCause::AccessDenied;
    m_size = Size(info);
    ModifiedTime(info, &m_modifiedSec, &m_modifiedNsec);
    return FileErrorCause::None;
}

bool ReadOnlyFile::ChangedSinceOpen() const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!IsOpen() || !::GetFileInformationByHandle(Handle(m_handle), &info)) return true;
    std::int64_t sec = 0, nsec = 0;
    ModifiedTime(info, &sec, &nsec);
    return Size(info) != m_size || sec != m_modifiedSec || nsec != m_modifiedNsec;
}

namespace file_calls {

std::int64_t ReadSome(NativeFile file, void* buffer, std::size_t count) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    DWORD got = 0;
    if (!::ReadFile(Handle(file), buffer, want, &got, nullptr)) return -1;
    return got;
}

bool FileLength(NativeFile file, std::uint64_t* length) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(Handle(file), &size)) return false;
    *length = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

}  // namespace file_calls

}  // namespace platform
