#include "engine/file/file_error.h"

#include <cerrno>
#include <iterator>

namespace vexl {
namespace {

constexpr const char* kMessages[] = {
    "No error occurred.",
    "An unknown error occurred while accessing %1.",
    "%1 was not found.",
    "%1 contains an invalid path.",
    "%1 could not be opened because there are too many open files.",
    "Access to %1 was denied.",
    "An invalid file handle was associated with %1.",
    "%1 could not be removed because it is the current directory.",
    "%1 could not be created because the directory is full.",
    "Seek failed on %1",
    "A hardware I/O error was reported while accessing %1.",
    "A sharing violation occurred while accessing %1.",
    "A locking violation occurred while accessing %1.",
    "Disk full while accessing %1.",
    "An attempt was made to access %1 past its end.",
};

}  // namespace

bool FileError::description(std::string& out) const {
  out.clear();
  if (cause < 0 || cause >= static_cast<std::int32_t>(std::size(kMessages))) return false;
  const std::string text = kMessages[cause];
  const std::string::size_type at = text.find("%1");
  out = at == std::string::npos ? text : text.substr(0, at) + path + text.substr(at + 2);
  return true;
}

// errno            cause
// 0                 0 no error
// ENOENT            2 file not found
// ENAMETOOLONG,
// ENOTDIR, ELOOP,
// EINVAL            3 invalid path (EINVAL from open: a name the file system
//                     rejects; seek failures are reported as 9 by the caller)
// EMFILE, ENFILE    4 too many open files
// EACCES, EPERM,
// EROFS, EISDIR,
// EEXIST            5 access denied
// EBADF             6 invalid handle
// EMLINK            8 directory full (no more entries allowed)
// ESPIPE, EOVERFLOW 9 seek failed
// EIO, ENXIO,
// ENOMEDIUM        10 hardware I/O error
// EAGAIN/EWOULDBLOCK,
// EBUSY, ETXTBSY   11 sharing violation (a lease or flock conflict, a busy
//                     device, an executable being run)
// ENOLCK, EDEADLK  12 locking violation
// ENOSPC, EDQUOT,
// EFBIG            13 disk full (no room left for this file)
// anything else     1 unknown error
// Cause 7 (current directory) and 14 (past the end) have no errno of their own.
std::int32_t FileError::causeFromErrno(int osError) {
  switch (osError) {
    case 0:
      return kNone;
    case ENOENT:
      return kFileNotFound;
    case ENAMETOOLONG:
    case ENOTDIR:
    case ELOOP:
    case EINVAL:
      return kBadPath;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EEXIST:
      return kAccessDenied;
    case EBADF:
      return kInvalidFile;
    case EMLINK:
      return kDirectoryFull;
    case ESPIPE:
    case EOVERFLOW:
      return kBadSeek;
    case EIO:
    case ENXIO:
#ifdef ENOMEDIUM
    case ENOMEDIUM:
#endif
      return kHardIo;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EBUSY:
    case ETXTBSY:
      return kSharingViolation;
    case ENOLCK:
    case EDEADLK:
      return kLockViolation;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG:
      return kDiskFull;
    default:
      return kGeneric;
  }
}

}  // namespace vexl
