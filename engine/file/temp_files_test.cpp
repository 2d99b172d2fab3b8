#include "engine/file/temp_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "engine/file/file_error.h"

namespace vexl {
namespace {

class TempFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* value = std::getenv("TMPDIR")) savedTmpdir_ = value;
    char pattern[] = "/tmp/tempfiles-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override {
    if (savedTmpdir_) {
      ::setenv("TMPDIR", savedTmpdir_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    std::filesystem::remove_all(directory_);
  }

  std::optional<std::string> savedTmpdir_;
  std::string directory_;
};

TEST_F(TempFilesTest, TempDirectoryPrefersAnExistingTmpdir) {
  ::setenv("TMPDIR", (directory_ + "/").c_str(), 1);
  EXPECT_EQ(tempDirectory(), directory_);

  ::setenv("TMPDIR", (directory_ + "/missing").c_str(), 1);
  EXPECT_EQ(tempDirectory(), P_tmpdir);

  const std::string deep = directory_ + "/" + std::string(250, 'd');
  ASSERT_TRUE(std::filesystem::create_directory(deep));
  ::setenv("TMPDIR", deep.c_str(), 1);
  EXPECT_EQ(tempDirectory(), P_tmpdir);  // longer than 260 characters
}

TEST_F(TempFilesTest, TempFileNamesAreFreshAndUnique) {
  ::setenv("TMPDIR", directory_.c_str(), 1);
  const std::string first = makeTempFileName();
  const std::string second = makeTempFileName();
  EXPECT_EQ(first.rfind(directory_ + "/QMV", 0), 0u) << first;
  EXPECT_NE(first, second);
  // The names stay taken by empty files only their owner can read.
  for (const std::string& name : {first, second}) {
    ASSERT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(name))) << name;
    EXPECT_EQ(std::filesystem::file_size(name), 0u);
    EXPECT_EQ(std::filesystem::status(name).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::remove(name);
  }
}

TEST_F(TempFilesTest, WriteBufferToFileCreatesOrTruncates) {
  const std::string path = directory_ + "/attachment.bin";
  std::ofstream(path) << "a much longer previous content";
  ASSERT_EQ(writeBufferToFile(path, "\x01\x00\x02", 3), 1);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string("\x01\x00\x02", 3));

  const std::string fresh = directory_ + "/fresh.bin";
  ASSERT_EQ(writeBufferToFile(fresh, nullptr, 0), 1);
  struct stat st {};
  ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  EXPECT_EQ(writeBufferToFile(directory_ + "/missing/x.bin", "x", 1), 0);
}

}  // namespace
}  // namespace vexl
