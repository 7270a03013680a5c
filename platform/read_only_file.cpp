#include "platform/read_only_file.h"

#include <atomic>

#include "platform/file_calls.h"
#include "platform/system_error.h"

namespace platform {

namespace {

std::atomic<int> g_lockFault{0};

[[noreturn]] void ThrowLastError() {
    const int err = LastError();
    throw FileError(FileErrorCauseFromSystemError(err), SystemErrorText(err));
}

void ThrowUnlessOpen(const ReadOnlyFile& file) {
    if (!file.IsOpen()) throw FileError(FileErrorCause::InvalidFile, "file not open");
}

}  // namespace

int file_calls::TakeInjectedLockFailure() { return g_lockFault.exchange(0); }

void FailNextFileLock(int error) { g_lockFault.store(error); }

ReadOnlyFile::~ReadOnlyFile() { Close(); }

bool ReadOnlyFile::Open(const std::string& path, FileErrorCause* cause) {
    Close();
    const FileErrorCause result = path.empty() ? FileErrorCause::BadPath : OpenAlone(path);
    if (result != FileErrorCause::None) Close();
    if (cause) *cause = result;
    return result == FileErrorCause::None;
}

std::uint64_t ReadOnlyFile::Length() const {
    ThrowUnlessOpen(*this);
    std::uint64_t length = 0;
    if (!file_calls::FileLength(m_handle, &length)) ThrowLastError();
    return length;
}

std::size_t ReadOnlyFile::Read(void* buffer, std::size_t count) {
    ThrowUnlessOpen(*this);
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const std::int64_t n = file_calls::ReadSome(m_handle, out + done, count - done);
        if (n == 0) break;
        if (n < 0) ThrowLastError();
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void ReadOnlyFile::Close() {
    if (IsOpen()) {
        // On POSIX the close also releases the lock.
        file_calls::Close(m_handle);
        m_handle = kNoHandle;
    }
}

}  // namespace platform
