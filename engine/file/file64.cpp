#include "engine/file/file64.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <exception>
#include <filesystem>
#include <system_error>

#include "engine/file/os_file.h"

namespace vexl {
namespace {

// Linux moves at most 0x7ffff000 bytes per read or write; stay below that
// so that a full-sized chunk never comes back short.
constexpr std::size_t kMaxIoChunk = 1u << 30;

[[noreturn]] void throwOsError(int osError, const std::string& path) {
  throw FileError(FileError::causeFromErrno(osError), osError, path);
}

std::string absolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  return ec ? path : full.lexically_normal().string();
}

bool deniesWriters(std::uint32_t sharing) {
  return sharing != kShareDenyRead && sharing != kShareDenyNone;
}

// Sharing on Linux
// ----------------
// POSIX has no mandatory share modes, so the sharing bits are enforced at
// open time and advisorily:
//
// * "Others may not write" (kShareDenyWrite, and kShareExclusive, which
//   implies it) on a read-only open refuses a file that is already open for
//   writing anywhere. The probe is a read lease, fcntl(F_SETLEASE, F_RDLCK):
//   the kernel grants it only when no descriptor of the file has write
//   access (in any process, ours included) and answers EAGAIN otherwise.
//   A granted lease is released at once. Holding it would make the kernel
//   signal us when a writer opens the file, and SIGIO's default action ends
//   the process; a library installs no signal handlers. For the instant the
//   lease exists, F_SETSIG redirects that notification to SIGURG, which is
//   ignored by default.
//   The lease is refused with EACCES to a caller that does not own the file
//   (without CAP_LEASE) and with EINVAL by file systems without leases
//   (NFS, FUSE, ...). Then the probe falls back to scanning /proc for a
//   descriptor of the same device and inode opened for writing; processes
//   of other users stay invisible to an unprivileged caller, and when
//   nothing can be inspected the open is accepted.
// * An advisory flock() is held for the life of the descriptor: LOCK_SH for
//   kShareDenyWrite, LOCK_EX for kShareExclusive. A cooperating program that
//   holds LOCK_EX, or a second exclusive open, is refused with a sharing
//   violation. File systems that refuse flock() (ENOLCK, EINVAL) are
//   accepted without the lock.
// * kShareDenyRead cannot be expressed and takes no lock.
//
// What stays open: a program that opens the file for writing after we have
// opened it, without using flock(), is not stopped.
//
// Returns 0, or the error number to report with a sharing violation.
int enforceSharing(OsFile& os, int fd, const struct stat& st, std::uint32_t modeFlags) {
  const std::uint32_t sharing = modeFlags & 0x70u;
  const bool readOnly = (modeFlags & 0x3u) == kModeRead;

  if (readOnly && deniesWriters(sharing) && S_ISREG(st.st_mode)) {
    bool probed = false;
#if defined(F_SETLEASE) && defined(F_SETSIG)
    os.fcntl(fd, F_SETSIG, SIGURG);
    if (os.fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
      os.fcntl(fd, F_SETLEASE, F_UNLCK);
      probed = true;
    } else if (errno == EAGAIN || errno == EBUSY) {
      return errno;
    }
#endif
    if (!probed && os.findWriter(st) == 1) return EBUSY;
  }

  int lock = 0;
  if (sharing == kShareDenyWrite) {
    lock = LOCK_SH;
  } else if (deniesWriters(sharing)) {
    lock = LOCK_EX;
  }
  if (lock != 0 && os.flock(fd, lock | LOCK_NB) != 0 && errno == EWOULDBLOCK) return EWOULDBLOCK;
  return 0;
}

}  // namespace

CFile64::CFile64() = default;

CFile64::~CFile64() noexcept(false) {
  if (!closeOnDestroy_ || handle_ < 0) return;
  if (std::uncaught_exceptions() > 0) {
    // Already unwinding: a second exception would terminate the program.
    try {
      CFile64::close();
    } catch (const FileError&) {
    }
    return;
  }
  CFile64::close();
}

bool CFile64::isOpen() const { return handle_ >= 0; }

bool CFile64::open(const std::string& path, std::uint32_t modeFlags, FileError* error) {
  if (isOpen()) close();

  auto fail = [&](std::int32_t cause, int osError) {
    if (error != nullptr) *error = FileError(cause, osError, path);
    return false;
  };

  int flags = 0;
  switch (modeFlags & 0x3u) {
    case kModeRead:
      flags = O_RDONLY;
      break;
    case kModeWrite:
      flags = O_WRONLY;
      break;
    case kModeReadWrite:
      flags = O_RDWR;
      break;
    default:
      return fail(FileError::kGeneric, EINVAL);
  }
  if ((modeFlags & kModeNoInherit) != 0) flags |= O_CLOEXEC;

  // A truncating create truncates only after the sharing checks passed, as
  // a refused open must leave the file alone. Without write access there is
  // no descriptor to truncate through, so the open itself truncates.
  bool truncateLater = false;
  if ((modeFlags & kModeCreate) != 0) {
    flags |= O_CREAT;
    if ((modeFlags & kModeNoTruncate) == 0) {
      if ((flags & O_ACCMODE) == O_RDONLY) {
        flags |= O_TRUNC;
      } else {
        truncateLater = true;
      }
    }
  }

  OsFile& os = osFile();
  const int fd = os.open(path.c_str(), flags, static_cast<mode_t>(createPermissions_));
  if (fd < 0) {
    const int e = errno;
    return fail(FileError::causeFromErrno(e), e);
  }

  auto failAndClose = [&](std::int32_t cause, int osError) {
    os.close(fd);
    return fail(cause, osError);
  };

  struct stat st {};
  if (os.fstat(fd, &st) != 0) {
    const int e = errno;
    return failAndClose(FileError::causeFromErrno(e), e);
  }
  // Linux opens a directory for reading; the file layer has no use for one.
  if (S_ISDIR(st.st_mode)) return failAndClose(FileError::kAccessDenied, EISDIR);

  if (const int sharingError = enforceSharing(os, fd, st, modeFlags); sharingError != 0) {
    return failAndClose(FileError::kSharingViolation, sharingError);
  }
  if (truncateLater && st.st_size != 0 && os.ftruncate(fd, 0) != 0) {
    const int e = errno;
    return failAndClose(FileError::causeFromErrno(e), e);
  }

  handle_ = fd;
  closeOnDestroy_ = true;
  filePath_ = absolutePath(path);
  return true;
}

std::uint32_t CFile64::read(void* buffer, std::uint32_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const std::size_t chunk = std::min<std::size_t>(count - done, kMaxIoChunk);
    const ssize_t n = osFile().read(handle_, out + done, chunk);
    if (n < 0) throwOsError(errno, filePath_);
    if (n == 0) break;
    done += static_cast<std::uint32_t>(n);
  }
  return done;
}

// A regular file takes fewer bytes than offered only when it cannot grow any
// further (no space, quota or size limit left), which is reported as a full
// disk without an error number.
void CFile64::write(const void* buffer, std::uint32_t count) {
  const auto* in = static_cast<const unsigned char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    const std::size_t chunk = std::min<std::size_t>(count - done, kMaxIoChunk);
    const ssize_t n = osFile().write(handle_, in + done, chunk);
    if (n < 0) throwOsError(errno, filePath_);
    if (static_cast<std::size_t>(n) < chunk) throw FileError(FileError::kDiskFull, -1, filePath_);
    done += static_cast<std::uint32_t>(n);
  }
}

std::uint64_t CFile64::seek(std::int64_t offset, int origin) {
  int whence = 0;
  switch (origin) {
    case kSeekBegin:
      whence = SEEK_SET;
      break;
    case kSeekCurrent:
      whence = SEEK_CUR;
      break;
    case kSeekEnd:
      whence = SEEK_END;
      break;
    default:
      throw FileError(FileError::kBadSeek, EINVAL, filePath_);
  }
  const off_t result = osFile().lseek(handle_, static_cast<off_t>(offset), whence);
  if (result < 0) {
    const int e = errno;
    // lseek's EINVAL is a position before the start, not a bad path.
    throw FileError(e == EINVAL ? FileError::kBadSeek : FileError::causeFromErrno(e), e, filePath_);
  }
  return static_cast<std::uint64_t>(result);
}

std::uint64_t CFile64::position() {
  const off_t result = osFile().lseek(handle_, 0, SEEK_CUR);
  if (result < 0) throwOsError(errno, filePath_);
  return static_cast<std::uint64_t>(result);
}

std::uint64_t CFile64::length() {
  struct stat st {};
  if (osFile().fstat(handle_, &st) != 0) throwOsError(errno, filePath_);
  return static_cast<std::uint64_t>(st.st_size);
}

void CFile64::close() {
  if (handle_ < 0) return;
  const int fd = handle_;
  const std::string path = std::move(filePath_);
  handle_ = -1;
  closeOnDestroy_ = false;
  filePath_.clear();
  // The descriptor is gone even when close reports an error; never retry.
  if (osFile().close(fd) != 0) throwOsError(errno, path);
}

bool namesSameFile(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

}  // namespace vexl
