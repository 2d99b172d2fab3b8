// Shared pieces of the fuzz targets: the input as a file the engine can open
// by path, and a quiet engine context.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/core/engine_context.h"

namespace vexl::fuzz {

// One in-memory file per process, rewritten for every input; the engine
// reads through paths, and /proc/self/fd/N is one that never touches a disk.
class InputFile {
 public:
  InputFile() : fd_(::memfd_create("brellin-fuzz-input", 0)) {
    if (fd_ < 0) std::abort();
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~InputFile() { ::close(fd_); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::string& write(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(fd_, 0) != 0) std::abort();
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
      if (n <= 0) std::abort();
      done += static_cast<std::size_t>(n);
    }
    return path_;
  }

 private:
  int fd_;
  std::string path_;
};

inline InputFile& inputFile() {
  static InputFile file;
  return file;
}

// No callback; zero blocks ignored, as the programs' defaults have it.
class QuietEngine final : public EngineContext {
 public:
  QuietEngine() : EngineContext(nullptr, nullptr) { options_.IgnoreZeroBlock = -1; }
};

}  // namespace vexl::fuzz
