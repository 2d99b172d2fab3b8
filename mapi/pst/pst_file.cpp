#include "mapi/pst/pst_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "mapi/pst/pst_error.h"

namespace vexl::pst {

namespace {
[[noreturn]] void fail(const std::string& what, const std::string& path) {
  throw PstError(PstErrorCode::Io, what + " " + path + ": " + std::strerror(errno));
}
}  // namespace

PstFile PstFile::createNew(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fail("cannot create", path);
  return PstFile(fd, path);
}

PstFile::PstFile(PstFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

PstFile& PstFile::operator=(PstFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

PstFile::~PstFile() {
  if (fd_ >= 0) ::close(fd_);
}

void PstFile::write(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("cannot write", path_);
    }
    done += static_cast<std::size_t>(n);
  }
}

void PstFile::read(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("cannot read", path_);
    }
    if (n == 0) {
      // Past the end: a hole that was never written reads as zeros.
      std::memset(bytes.data() + done, 0, bytes.size() - done);
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

void PstFile::extendTo(std::uint64_t size) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) fail("cannot stat", path_);
  if (static_cast<std::uint64_t>(st.st_size) >= size) return;
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) fail("cannot extend", path_);
}

void PstFile::sync() {
  if (::fdatasync(fd_) != 0) fail("cannot sync", path_);
}

void PstFile::close() {
  if (fd_ >= 0 && ::close(std::exchange(fd_, -1)) != 0) fail("cannot close", path_);
}

}  // namespace vexl::pst
