#pragma once
// A file opened for reading without sharing: the firmware image. Opening
// reports a file-error cause; a read that fails outright throws FileError,
// which the download treats as an unexpected failure.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/file_error.h"

namespace platform {

class FileError : public std::runtime_error {
public:
    FileError(FileErrorCause cause, const std::string& what)
        : std::runtime_error(what), m_cause(cause) {}
    FileErrorCause Cause() const { return m_cause; }

private:
    FileErrorCause m_cause;
};

class ReadOnlyFile {
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens an existing regular file and takes an exclusive lock on it, so
    // that another program holding the lock makes the open fail with a sharing
    // violation. Anything but a regular file is refused as access denied: a
    // pipe or a device could block the reader forever. On Windows the lock is
    // the open itself, which shares the file with no one.
    bool Open(const std::string& path, FileErrorCause* cause);
    bool IsOpen() const { return m_handle != kNoHandle; }

    std::uint64_t Length() const;             // throws FileError
    std::size_t Read(void* buffer, std::size_t count);  // short only at the end; throws FileError
    // True once the file was written to or cut since Open (its size or
    // modification time differ): the lock keeps out only those who ask for
    // it. A file renamed over the path leaves the open one unchanged.
    bool ChangedSinceOpen() const;
    void Close();

private:
    // The open of each OS, the lock included; a failure may leave the file
    // open for Open to close.
    FileErrorCause OpenAlone(const std::string& path);

    static constexpr std::intptr_t kNoHandle = -1;
    // The descriptor on POSIX, the file's HANDLE on Windows.
    std::intptr_t m_handle = kNoHandle;
    std::int64_t m_size = 0;
    std::int64_t m_modifiedSec = 0;
    std::int64_t m_modifiedNsec = 0;
};

// Test seam: the next lock taken by Open fails with the system error `error`.
void FailNextFileLock(int error);

}  // namespace platform
