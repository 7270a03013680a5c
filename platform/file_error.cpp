#include "platform/file_error.h"

#include <cerrno>

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

FileErrorCause FileErrorCauseFromErrno(int err) {
    switch (err) {
    case 0: return FileErrorCause::None;
    case ENOENT: return FileErrorCause::FileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EINVAL:
    case EFAULT: return FileErrorCause::BadPath;
    case EMFILE:
    case ENFILE: return FileErrorCause::TooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY: return FileErrorCause::AccessDenied;
    case EBADF: return FileErrorCause::InvalidFile;
    case EMLINK: return FileErrorCause::DirectoryFull;
    case ESPIPE: return FileErrorCause::BadSeek;
    case EIO:
    case ENXIO:
    case ENODEV: return FileErrorCause::HardIO;
    case EWOULDBLOCK: return FileErrorCause::SharingViolation;
    case ENOLCK:
    case EDEADLK: return FileErrorCause::LockViolation;
    case ENOSPC:
    case EDQUOT: return FileErrorCause::DiskFull;
    case EFBIG:
    case EOVERFLOW: return FileErrorCause::EndOfFile;
    default: return FileErrorCause::Generic;
    }
}

std::string FileErrorText(FileErrorCause cause, const std::string& path) {
    const std::string name = path.empty() ? std::string("an unnamed file") : path;
    std::string text = Template(cause);
    const auto at = text.find("%1");
    if (at != std::string::npos) text.replace(at, 2, name);
    return CutUtf8(std::move(text), kMaxFileErrorText);
}

}  // namespace platform
