// The output file: positioned writes and reads and the syncs that order
// them. POSIX only; every failure is a PstError(Io) with errno's text.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vexl::pst {

class PstFile {
 public:
  // Creates (or truncates) the file at `path` for reading and writing.
  static PstFile createNew(const std::string& path);
  PstFile(PstFile&& other) noexcept;
  PstFile& operator=(PstFile&& other) noexcept;
  PstFile(const PstFile&) = delete;
  PstFile& operator=(const PstFile&) = delete;
  ~PstFile();

  void write(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  void read(std::uint64_t offset, std::span<std::uint8_t> bytes) const;
  // Makes the file at least `size` bytes long (never shortens it).
  void extendTo(std::uint64_t size);
  // Everything written so far is on stable storage before this returns.
  void sync();
  void close();
  const std::string& path() const { return path_; }

 private:
  PstFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_ = -1;
  std::string path_;
};

}  // namespace vexl::pst
