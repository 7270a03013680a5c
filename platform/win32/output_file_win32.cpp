#include "platform/output_file.h"

#include <windows.h>

#include <algorithm>

#include "platform/system_error.h"
#include "platform/win32/wide_text_win32.h"

namespace platform {

namespace {
HANDLE Handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

OutputFile::~OutputFile() {
    std::string ignored;
    Close(&ignored);
}

bool OutputFile::Open(const std::string& path, bool append, std::string* error) {
    std::string ignored;
    Close(&ignored);
    const std::wstring wide = Widen(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *error = kNotRegularFile;
        return false;
    }
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the end.
    // CreateFileW never waits for a pipe instance: a busy pipe fails with
    // ERROR_PIPE_BUSY, an idle one is refused by its type below.
    const HANDLE file = ::CreateFileW(wide.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const int code = LastError();
        *error = code == ERROR_PIPE_BUSY ? kNotRegularFile : SystemErrorLine(code);
        return false;
    }
    m_handle = reinterpret_cast<std::intptr_t>(file);
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        *error = kNotRegularFile;
        Close(&ignored);
        return false;
    }
    // OPEN_ALWAYS keeps what an existing file holds; the report starts empty.
    if (!append && !::SetEndOfFile(file)) {
        *error = SystemErrorLine(LastError());
        Close(&ignored);
        return false;
    }
    return true;
}

bool OutputFile::Write(std::string_view bytes, std::string* error) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(Handle(m_handle), bytes.data(), chunk, &written, nullptr) || written == 0) {
            *error = SystemErrorLine(LastError());
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool OutputFile::Close(std::string* error) {
    if (m_handle == kNoHandle) return true;
    const HANDLE file = Handle(m_handle);
    m_handle = kNoHandle;
    if (!::CloseHandle(file)) {
        *error = SystemErrorLine(LastError());
        return false;
    }
    return true;
}

}  // namespace platform
