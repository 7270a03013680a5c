#include "platform/file_error.h"

#include <cerrno>

namespace platform {

FileErrorCause FileErrorCauseFromSystemError(int err) {
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

}  // namespace platform
