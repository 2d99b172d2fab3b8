// The operating-system seam of the file layer. CFile64 and CFile64Ex make
// every system call through the OsFile that osFile() returns, so that a port
// swaps one class and a test can put a wrapper in front of the real calls
// (to make chosen sectors unreadable, or to count calls).
//
// The calls keep POSIX conventions: -1 and errno on failure. The default
// implementation retries a call interrupted by a signal (EINTR), so callers
// never see EINTR.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace vexl {

class OsFile {
 public:
  virtual ~OsFile() = default;

  virtual int open(const char* path, int flags, mode_t mode) = 0;
  virtual int close(int fd) = 0;
  virtual ssize_t read(int fd, void* buffer, std::size_t count) = 0;
  virtual ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) = 0;
  virtual ssize_t write(int fd, const void* buffer, std::size_t count) = 0;
  virtual off_t lseek(int fd, off_t offset, int whence) = 0;
  virtual int fstat(int fd, struct stat* st) = 0;
  virtual int ftruncate(int fd, off_t length) = 0;
  virtual int fsync(int fd) = 0;
  virtual int flock(int fd, int operation) = 0;
  // fcntl with an int argument (F_GETFD, F_SETSIG, F_SETLEASE, ...).
  virtual int fcntl(int fd, int command, int argument) = 0;

  // Logical sector size of the device holding the open file `fd`; 0 when it
  // cannot be determined.
  virtual std::uint32_t sectorSize(int fd) = 0;

  // Best-effort search for an open file description of the file `st`
  // describes (st_dev/st_ino) with write access, in any process whose file
  // table is visible to us. 1 found, 0 none found, -1 when nothing could be
  // inspected.
  virtual int findWriter(const struct stat& st) = 0;
};

// The process-wide default: the real system calls.
OsFile& posixOsFile();

// The OsFile in use: the innermost ScopedOsFileOverride, else posixOsFile().
OsFile& osFile();

// Installs `replacement` as osFile() for its lifetime and restores the
// previous one on destruction. Not thread-safe: install it while no other
// thread uses the file layer (tests).
class ScopedOsFileOverride {
 public:
  explicit ScopedOsFileOverride(OsFile& replacement);
  ~ScopedOsFileOverride();
  ScopedOsFileOverride(const ScopedOsFileOverride&) = delete;
  ScopedOsFileOverride& operator=(const ScopedOsFileOverride&) = delete;

 private:
  OsFile* previous_;
};

// Forwards every call to another OsFile (by default the one in use when it
// was built); derive from it and override only the calls to intercept.
class ForwardingOsFile : public OsFile {
 public:
  ForwardingOsFile() : inner_(osFile()) {}
  explicit ForwardingOsFile(OsFile& inner) : inner_(inner) {}

  int open(const char* path, int flags, mode_t mode) override { return inner_.open(path, flags, mode); }
  int close(int fd) override { return inner_.close(fd); }
  ssize_t read(int fd, void* buffer, std::size_t count) override { return inner_.read(fd, buffer, count); }
  ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) override {
    return inner_.pread(fd, buffer, count, offset);
  }
  ssize_t write(int fd, const void* buffer, std::size_t count) override { return inner_.write(fd, buffer, count); }
  off_t lseek(int fd, off_t offset, int whence) override { return inner_.lseek(fd, offset, whence); }
  int fstat(int fd, struct stat* st) override { return inner_.fstat(fd, st); }
  int ftruncate(int fd, off_t length) override { return inner_.ftruncate(fd, length); }
  int fsync(int fd) override { return inner_.fsync(fd); }
  int flock(int fd, int operation) override { return inner_.flock(fd, operation); }
  int fcntl(int fd, int command, int argument) override { return inner_.fcntl(fd, command, argument); }
  std::uint32_t sectorSize(int fd) override { return inner_.sectorSize(fd); }
  int findWriter(const struct stat& st) override { return inner_.findWriter(st); }

 protected:
  OsFile& inner_;
};

}  // namespace vexl
