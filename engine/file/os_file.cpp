#include "engine/file/os_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace vexl {
namespace {

template <typename Call>
auto retryOnInterrupt(Call call) {
  for (;;) {
    auto result = call();
    if (result != -1 || errno != EINTR) return result;
  }
}

// The first bytes of a small pseudo-file (sysfs, procfs); empty on failure.
std::string readSmallFile(const std::string& path) {
  int fd = retryOnInterrupt([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
  if (fd < 0) return {};
  char buffer[512];
  ssize_t n = retryOnInterrupt([&] { return ::read(fd, buffer, sizeof buffer); });
  ::close(fd);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool allDigits(const char* name) {
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return false;
  }
  return true;
}

// The "flags:" line of /proc/PID/fdinfo/FD (octal open flags); -1 if absent.
long fdinfoFlags(const std::string& path) {
  const std::string text = readSmallFile(path);
  const std::string::size_type at = text.find("flags:");
  if (at == std::string::npos) return -1;
  char* end = nullptr;
  const long flags = std::strtol(text.c_str() + at + 6, &end, 8);
  return end == text.c_str() + at + 6 ? -1 : flags;
}

class PosixOsFile final : public OsFile {
 public:
  int open(const char* path, int flags, mode_t mode) override {
    return retryOnInterrupt([&] { return ::open(path, flags, mode); });
  }
  // Never retried: Linux releases the descriptor even when close fails.
  int close(int fd) override { return ::close(fd); }
  ssize_t read(int fd, void* buffer, std::size_t count) override {
    return retryOnInterrupt([&] { return ::read(fd, buffer, count); });
  }
  ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) override {
    return retryOnInterrupt([&] { return ::pread(fd, buffer, count, offset); });
  }
  ssize_t write(int fd, const void* buffer, std::size_t count) override {
    return retryOnInterrupt([&] { return ::write(fd, buffer, count); });
  }
  off_t lseek(int fd, off_t offset, int whence) override { return ::lseek(fd, offset, whence); }
  int fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
  int ftruncate(int fd, off_t length) override {
    return retryOnInterrupt([&] { return ::ftruncate(fd, length); });
  }
  int fsync(int fd) override { return retryOnInterrupt([&] { return ::fsync(fd); }); }
  int flock(int fd, int operation) override {
    return retryOnInterrupt([&] { return ::flock(fd, operation); });
  }
  int fcntl(int fd, int command, int argument) override {
    return retryOnInterrupt([&] { return ::fcntl(fd, command, argument); });
  }

  // sysfs describes every block device under /sys/dev/block/MAJOR:MINOR. A
  // partition has no queue/ of its own; its parent, the whole disk, has.
  // Files on devices without a sysfs entry (tmpfs, overlay, network file
  // systems: anonymous major 0) give 0.
  std::uint32_t sectorSize(int fd) override {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return 0;
    const dev_t device = S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev;
    const std::string base =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    for (const char* leaf : {"/queue/logical_block_size", "/../queue/logical_block_size"}) {
      const std::string text = readSmallFile(base + leaf);
      if (text.empty()) continue;
      char* end = nullptr;
      const unsigned long size = std::strtoul(text.c_str(), &end, 10);
      if (end != text.c_str() && size <= UINT32_MAX) return static_cast<std::uint32_t>(size);
    }
    return 0;
  }

  // Walks /proc/*/fd: every descriptor that stats to the same device and
  // inode is checked for write access in /proc/PID/fdinfo/FD. Processes of
  // other users are invisible without privilege and are skipped.
  int findWriter(const struct stat& target) override {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return -1;
    bool inspected = false;
    bool found = false;
    while (!found) {
      const dirent* process = ::readdir(proc);
      if (process == nullptr) break;
      if (!allDigits(process->d_name)) continue;
      const std::string pid = std::string("/proc/") + process->d_name;
      DIR* fds = ::opendir((pid + "/fd").c_str());
      if (fds == nullptr) continue;
      inspected = true;
      while (const dirent* entry = ::readdir(fds)) {
        if (!allDigits(entry->d_name)) continue;
        struct stat st {};
        if (::stat((pid + "/fd/" + entry->d_name).c_str(), &st) != 0) continue;
        if (st.st_dev != target.st_dev || st.st_ino != target.st_ino) continue;
        const long flags = fdinfoFlags(pid + "/fdinfo/" + entry->d_name);
        if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY) {
          found = true;
          break;
        }
      }
      ::closedir(fds);
    }
    ::closedir(proc);
    return found ? 1 : (inspected ? 0 : -1);
  }
};

OsFile* g_override = nullptr;

}  // namespace

OsFile& posixOsFile() {
  // Never destroyed, so that file objects with static storage can still
  // close through it at exit.
  static OsFile* const instance = new PosixOsFile();
  return *instance;
}

OsFile& osFile() { return g_override != nullptr ? *g_override : posixOsFile(); }

ScopedOsFileOverride::ScopedOsFileOverride(OsFile& replacement) : previous_(g_override) {
  g_override = &replacement;
}

ScopedOsFileOverride::~ScopedOsFileOverride() { g_override = previous_; }

}  // namespace vexl
