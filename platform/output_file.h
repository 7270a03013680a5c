#pragma once
// A file the program writes a record to, such as a fleet report: only a
// regular file or a new one, opened without ever blocking (a FIFO or a
// device is refused before anything waits on it), every write and the close
// checked.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, or empties it (append: adds at its end). False with
    // the reason in *error: "is not a regular file", or the system's text.
    bool Open(const std::string& path, bool append, std::string* error);
    bool IsOpen() const { return m_handle != kNoHandle; }
    // Writes all of `bytes`; false with the system's text in *error.
    bool Write(std::string_view bytes, std::string* error);
    // Closes the file; false with the system's text when the data may not all
    // have reached it.
    bool Close(std::string* error);

private:
    static constexpr std::intptr_t kNoHandle = -1;
    std::intptr_t m_handle = kNoHandle;  // the descriptor, or the HANDLE
};

inline constexpr const char* kNotRegularFile = "is not a regular file";

}  // namespace platform
