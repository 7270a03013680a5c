#include "platform/file_error.h"

// The texts make no OS call, yet they live here: the download and the
// settings both show them, and platform/ is the one layer both reach.

namespace platform {

namespace {

const char* Template(FileErrorCause cause) {
    switch (cause) {
    case FileErrorCause::None: return "No error occurred.";
    case FileErrorCause::Generic: return "An unknown error occurred while accessing %1.";
    case FileErrorCause::FileNotFound: return "%1 was not found.";
    case FileErrorCause::BadPath: return "%1 contains an invalid path.";
    case FileErrorCause::TooManyOpenFiles:
        return "%1 could not be opened because there are too many open files.";
    case FileErrorCause::AccessDenied: return "Access to %1 was denied.";
    case FileErrorCause::InvalidFile: return "An invalid file handle was associated with %1.";
    case FileErrorCause::RemoveCurrentDir:
        return "%1 could not be removed because it is the current directory.";
    case FileErrorCause::DirectoryFull:
        return "%1 could not be created because the directory is full.";
    case FileErrorCause::BadSeek: return "Seek failed on %1";
    case FileErrorCause::HardIO: return "A hardware I/O error was reported while accessing %1.";
    case FileErrorCause::SharingViolation: return "A sharing violation occurred while accessing %1.";
    case FileErrorCause::LockViolation: return "A locking violation occurred while accessing %1.";
    case FileErrorCause::DiskFull: return "Disk full while accessing %1.";
    case FileErrorCause::EndOfFile: return "An attempt was made to access %1 past its end.";
    }
    return "An unknown error occurred while accessing %1.";
}

// Cuts a UTF-8 text to at most `limit` bytes, never inside a character.
std::string CutUtf8(std::string text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

}  // namespace

std::string FileErrorText(FileErrorCause cause, const std::string& path) {
    const std::string name = path.empty() ? std::string("an unnamed file") : path;
    std::string text = Template(cause);
    const auto at = text.find("%1");
    if (at != std::string::npos) text.replace(at, 2, name);
    return CutUtf8(std::move(text), kMaxFileErrorText);
}

}  // namespace platform
