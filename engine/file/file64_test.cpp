#include "engine/file/file64.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/file/os_file.h"

namespace vexl {
namespace {

std::string describe(const FileError& error) {
  std::string text;
  EXPECT_TRUE(error.description(text));
  return text;
}

template <typename Operation>
FileError thrownBy(Operation operation) {
  try {
    operation();
  } catch (const FileError& error) {
    return error;
  }
  ADD_FAILURE() << "no FileError thrown";
  return FileError(-1, 0, "");
}

TEST(FileErrorTest, EveryCauseHasItsMessage) {
  const char* const expected[] = {
      "No error occurred.",
      "An unknown error occurred while accessing /x/a.ost.",
      "/x/a.ost was not found.",
      "/x/a.ost contains an invalid path.",
      "/x/a.ost could not be opened because there are too many open files.",
      "Access to /x/a.ost was denied.",
      "An invalid file handle was associated with /x/a.ost.",
      "/x/a.ost could not be removed because it is the current directory.",
      "/x/a.ost could not be created because the directory is full.",
      "Seek failed on /x/a.ost",
      "A hardware I/O error was reported while accessing /x/a.ost.",
      "A sharing violation occurred while accessing /x/a.ost.",
      "A locking violation occurred while accessing /x/a.ost.",
      "Disk full while accessing /x/a.ost.",
      "An attempt was made to access /x/a.ost past its end.",
  };
  for (std::int32_t cause = 0; cause < static_cast<std::int32_t>(std::size(expected)); ++cause) {
    EXPECT_EQ(describe(FileError(cause, 0, "/x/a.ost")), expected[cause]);
  }
  std::string text = "stale";
  EXPECT_FALSE(FileError(15, 0, "/x").description(text));
  EXPECT_FALSE(FileError(-1, 0, "/x").description(text));
  EXPECT_TRUE(text.empty());
}

TEST(FileErrorTest, ErrnoMapsByMeaning) {
  const int pairs[][2] = {{0, 0},       {ENOENT, 2}, {ENOTDIR, 3}, {EMFILE, 4},      {EROFS, 5},
                          {EBADF, 6},   {EIO, 10},   {EAGAIN, 11}, {ENOLCK, 12},     {EDQUOT, 13},
                          {ENOSPC, 13}, {ESPIPE, 9}, {EMLINK, 8},  {ECONNRESET, 1}};
  for (const auto& [osError, cause] : pairs) EXPECT_EQ(FileError::causeFromErrno(osError), cause) << osError;
}

class CFile64Test : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/file64-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    path_ = directory_ + "/source.ost";
    writeText(path_, "0123456789");
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  static void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  }
  static std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string directory_;
  std::string path_;
};

TEST_F(CFile64Test, OpenFailuresReportCauseAndGivenPath) {
  CFile64 file;
  FileError error;
  EXPECT_FALSE(file.open("no/such.ost", kSourceOpenMode, &error));
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(error.cause, FileError::kFileNotFound);
  EXPECT_EQ(error.osError, ENOENT);
  EXPECT_EQ(describe(error), "no/such.ost was not found.");

  EXPECT_FALSE(file.open(directory_, kSourceOpenMode, &error));
  EXPECT_EQ(error.cause, FileError::kAccessDenied);
  EXPECT_EQ(error.osError, EISDIR);

  EXPECT_FALSE(file.open(path_ + "/below", kSourceOpenMode, &error));
  EXPECT_EQ(error.cause, FileError::kBadPath);

  EXPECT_FALSE(file.open(directory_ + "/missing/t.tmp", kTempFileOpenMode, &error));
  EXPECT_EQ(error.cause, FileError::kFileNotFound);

  EXPECT_FALSE(file.open(path_, kModeRead | 0x3u, nullptr));  // no such access mode

  if (::geteuid() != 0) {  // root reads anything
    ::chmod(path_.c_str(), 0);
    EXPECT_FALSE(file.open(path_, kSourceOpenMode, &error));
    EXPECT_EQ(error.cause, FileError::kAccessDenied);
    EXPECT_EQ(error.osError, EACCES);
  }
}

TEST_F(CFile64Test, CreateModesAndPlainIo) {
  const std::string fresh = directory_ + "/fresh.bin";
  CFile64 file;
  EXPECT_FALSE(file.open(fresh, kModeReadWrite | kShareDenyNone, nullptr));  // must exist

  ASSERT_TRUE(file.open(fresh, kModeReadWrite | kModeCreate | kShareExclusive, nullptr));
  file.write("abcdef", 6);
  file.write(nullptr, 0);
  EXPECT_EQ(file.length(), 6u);
  EXPECT_EQ(file.position(), 6u);
  EXPECT_EQ(file.seek(-4, kSeekCurrent), 2u);
  char buffer[16] = {};
  EXPECT_EQ(file.read(buffer, sizeof buffer), 4u);
  EXPECT_STREQ(buffer, "cdef");
  EXPECT_EQ(file.read(buffer, 0), 0u);
  EXPECT_EQ(file.seek(-1, kSeekEnd), 5u);
  const FileError error = thrownBy([&] { file.seek(-10, kSeekCurrent); });
  EXPECT_EQ(error.cause, FileError::kBadSeek);
  EXPECT_EQ(error.path, fresh);
  file.close();

  ASSERT_TRUE(file.open(fresh, kModeWrite | kModeCreate | kModeNoTruncate | kShareExclusive, nullptr));
  file.write("X", 1);
  file.close();
  EXPECT_EQ(readText(fresh), "Xbcdef");

  ASSERT_TRUE(file.open(fresh, kTempFileOpenMode, nullptr));  // create truncates
  file.close();
  EXPECT_EQ(readText(fresh), "");
}

TEST_F(CFile64Test, PathIsMadeAbsoluteAndCloseForgetsIt) {
  std::filesystem::create_directory(directory_ + "/sub");
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(directory_);
  CFile64 file;
  const bool opened = file.open("./sub/../source.ost", kSourceOpenMode, nullptr);
  std::filesystem::current_path(previous);
  ASSERT_TRUE(opened);
  EXPECT_EQ(file.filePath(), std::filesystem::path(directory_) / "source.ost");

  file.close();
  EXPECT_FALSE(file.isOpen());
  EXPECT_TRUE(file.filePath().empty());
  file.close();  // nothing to do
  char byte = 0;
  EXPECT_EQ(thrownBy([&] { file.read(&byte, 1); }).cause, FileError::kInvalidFile);
}

// Takes what write offers only up to `accept` bytes, or fails with `error`.
class FullDisk : public ForwardingOsFile {
 public:
  std::size_t accept = 0;
  int error = 0;
  int closeError = 0;
  ssize_t write(int fd, const void* buffer, std::size_t count) override {
    if (error != 0) {
      errno = error;
      return -1;
    }
    return inner_.write(fd, buffer, std::min(count, accept));
  }
  int close(int fd) override {
    inner_.close(fd);
    if (closeError == 0) return 0;
    errno = closeError;
    return -1;
  }
};

TEST_F(CFile64Test, WriteAndCloseFailuresThrow) {
  FullDisk disk;
  ScopedOsFileOverride seam(disk);
  CFile64 file;
  ASSERT_TRUE(file.open(directory_ + "/out.tmp", kTempFileOpenMode, nullptr));
  disk.accept = 3;
  const FileError shortWrite = thrownBy([&] { file.write("abcdef", 6); });
  EXPECT_EQ(shortWrite.cause, FileError::kDiskFull);
  EXPECT_EQ(shortWrite.osError, -1);
  disk.error = ENOSPC;
  EXPECT_EQ(thrownBy([&] { file.write("abcdef", 6); }).osError, ENOSPC);
  disk.closeError = EIO;
  const FileError closing = thrownBy([&] { file.close(); });
  EXPECT_EQ(closing.cause, FileError::kHardIo);
  EXPECT_EQ(closing.path, directory_ + "/out.tmp");
  EXPECT_FALSE(file.isOpen());
}

// ---- sharing -----------------------------------------------------------

FileError openSourceError(const std::string& path) {
  CFile64 file;
  FileError error;
  EXPECT_FALSE(file.open(path, kSourceOpenMode, &error));
  return error;
}

TEST_F(CFile64Test, SourceHeldForWritingByAnotherProcessIsRefused) {
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    const int fd = ::open(path_.c_str(), O_WRONLY);
    char byte = fd >= 0 ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    (void)!::read(release[0], &byte, 1);  // returns when the parent closes its end
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  EXPECT_EQ(byte, 'y');

  const FileError error = openSourceError(path_);
  EXPECT_EQ(error.cause, FileError::kSharingViolation);
  EXPECT_EQ(error.osError, EAGAIN);
  EXPECT_EQ(describe(error), "A sharing violation occurred while accessing " + path_ + ".");

  ::close(release[1]);
  ::close(ready[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  CFile64 file;
  EXPECT_TRUE(file.open(path_, kSourceOpenMode, nullptr));
}

// A file system without leases.
class NoLeases : public ForwardingOsFile {
 public:
  int scans = 0;
  int fcntl(int fd, int command, int argument) override {
    if (command == F_SETLEASE) {
      errno = EINVAL;
      return -1;
    }
    return inner_.fcntl(fd, command, argument);
  }
  int findWriter(const struct stat& st) override {
    ++scans;
    return inner_.findWriter(st);
  }
};

TEST_F(CFile64Test, WithoutLeasesProcessTablesAreSearchedForWriters) {
  NoLeases noLeases;
  ScopedOsFileOverride seam(noLeases);
  CFile64 reader;
  EXPECT_TRUE(reader.open(path_, kSourceOpenMode, nullptr));
  EXPECT_EQ(noLeases.scans, 1);

  const int writer = ::open(path_.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  const FileError error = openSourceError(path_);
  EXPECT_EQ(error.cause, FileError::kSharingViolation);
  EXPECT_EQ(noLeases.scans, 2);
  ::close(writer);
}

TEST_F(CFile64Test, ReadersShareAndWritersAreNotBlockedLater) {
  CFile64 first;
  CFile64 second;
  ASSERT_TRUE(first.open(path_, kSourceOpenMode, nullptr));
  ASSERT_TRUE(second.open(path_, kSourceOpenMode, nullptr));
  // A lease left in place would make this open fail (or, without
  // O_NONBLOCK, wait for the lease break and signal us).
  const int writer = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
  EXPECT_GE(writer, 0) << std::strerror(errno);
  if (writer >= 0) ::close(writer);
}

TEST_F(CFile64Test, AdvisoryLocksOfCooperatingProgramsAreHonoured) {
  const int other = ::open(path_.c_str(), O_RDONLY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  const FileError error = openSourceError(path_);
  EXPECT_EQ(error.cause, FileError::kSharingViolation);
  EXPECT_EQ(error.osError, EWOULDBLOCK);

  ASSERT_EQ(::flock(other, LOCK_SH), 0);  // another reader
  CFile64 source;
  ASSERT_TRUE(source.open(path_, kSourceOpenMode, nullptr));
  ::close(other);

  // While the source is open, an exclusive truncating create is refused and
  // leaves the file alone.
  CFile64 exclusive;
  FileError refused;
  EXPECT_FALSE(exclusive.open(path_, kTempFileOpenMode, &refused));
  EXPECT_EQ(refused.cause, FileError::kSharingViolation);
  EXPECT_EQ(readText(path_), "0123456789");
}

}  // namespace
}  // namespace vexl
