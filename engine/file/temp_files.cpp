#include "engine/file/temp_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <vector>

#include "engine/file/file64.h"

namespace vexl {
namespace {

constexpr std::size_t kMaxTempDirectoryLength = 260;

bool isDirectory(const char* path) {
  struct stat st {};
  return path != nullptr && *path != '\0' && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

// TMPDIR when it names a directory, else the C library's P_tmpdir, else
// /tmp; a candidate longer than 260 characters is passed over.
std::string tempDirectory() {
  const char* const candidates[] = {std::getenv("TMPDIR"), P_tmpdir, "/tmp"};
  for (const char* candidate : candidates) {
    if (!isDirectory(candidate)) continue;
    std::string directory = candidate;
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    if (directory.size() <= kMaxTempDirectoryLength) return directory;
  }
  return {};
}

std::string makeTempFileName() {
  const std::string directory = tempDirectory();
  if (directory.empty()) return {};
  std::string pattern = directory + (directory == "/" ? "" : "/") + "QMVXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // mkstemp creates the file with O_EXCL and mode 0600. It stays, so the name
  // remains ours until the caller removes it: a name given up here could be
  // taken in a shared folder (a planted link) before the data is written.
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return {};
  ::close(fd);
  return std::string(name.data());
}

int writeBufferToFile(const std::string& path, const void* bytes, std::size_t count) {
  CFile64 file;
  file.setCreatePermissions(0600);  // attachment data is nobody else's business
  if (!file.open(path, kTempFileOpenMode, nullptr)) return 0;
  const auto* in = static_cast<const unsigned char*>(bytes);
  while (count > 0) {
    const auto chunk = static_cast<std::uint32_t>(std::min<std::size_t>(count, std::size_t{1} << 30));
    file.write(in, chunk);
    in += chunk;
    count -= chunk;
  }
  file.close();
  return 1;
}

}  // namespace vexl
