// The system report's line formats over known facts, the facts of this
// computer, digit grouping, and the saved log's bytes.
#include "client/system_report.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "client/log_file.h"
#include "engine/core/code_page.h"

extern char** environ;

namespace vexl::client {
namespace {

const std::string kSeparator(56, '-');

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SystemReport, EveryBlockInItsFormat) {
  SystemFacts facts;
  facts.fileVersion = "1.2.3.4";
  facts.productVersion = "1.2.0.0";
  facts.platformName = "Debian GNU/Linux 12 (bookworm) Linux";
  facts.majorVersion = 5;
  facts.minorVersion = 1;
  facts.buildNumber = 2600;
  facts.windowsFolder = {"/home/ann", 0};
  facts.systemFolder = {{}, 2};
  facts.temporaryFolder = {"/tmp/", 0};
  facts.memoryLoad = 37;
  facts.totalPhysical = 8589934592;
  facts.freePhysical = 5411658752;
  facts.totalPageFile = 0;
  facts.freePageFile = 0;
  facts.totalVirtual = 140737488355328;
  facts.freeVirtual = 140737000000000;
  facts.environment = {"HOME=/home/ann", "LANG=C", "EMPTY="};
  facts.drives = {{"/", DriveType::Fixed, 107374182400, 1073741824},
                  {"/mnt/nfs", DriveType::Remote, 0, 0},
                  {"/media/stick", DriveType::Removable, 0, 0},
                  {"/run", DriveType::RamDisk, 0, 0}};
  std::vector<std::string> lines = {"before"};
  appendSystemInfo(lines, facts, [](std::uint64_t n) { return groupDigits(n, "."); });
  const std::vector<std::string> expected = {
      "before",
      " Version Information:",
      "File Version: 1.2.3.4",
      "Product Version: 1.2.0.0",
      kSeparator,
      "Operating System: Debian GNU/Linux 12 (bookworm) Linux 5.01.2600",
      kSeparator,
      "Windows Directory: /home/ann",
      "System Directory: Cannot get the required infomation. Error Code: 2.",
      "Temporary Directory: /tmp/",
      kSeparator,
      "Memory Status:",
      "Memory in use: 37%",
      "Total physical memory: 8.589.934.592 bytes",
      "Free physical memory: 5.411.658.752 bytes",
      "Total page file memory: 0 bytes",
      "Free page file memory: 0 bytes",
      "Total virtual memory: 140.737.488.355.328 bytes",
      "Free virtual memory: 140.737.000.000.000 bytes",
      kSeparator,
      "Environment Information:",
      "HOME=/home/ann",
      "LANG=C",
      "EMPTY=",
      kSeparator,
      "Drive Information:",
      "/, Fixed Drive, Total Disk Spaces: 107.374.182.400 bytes, Free Disk Spaces: 1.073.741.824 bytes.",
      "/mnt/nfs, Remote Network Drive",
      "/media/stick, Removable Drive",
      "/run, RAM Disk",
      kSeparator,
      "End of System Information",
      kSeparator};
  EXPECT_EQ(lines, expected);

  // Without a version record both numbers are empty; minor versions keep
  // two digits.
  facts = SystemFacts{};
  facts.platformName = "Linux";
  facts.majorVersion = 6;
  facts.minorVersion = 10;
  lines.clear();
  appendSystemInfo(lines, facts, [](std::uint64_t n) { return std::to_string(n); });
  EXPECT_EQ(lines[1], "File Version: ");
  EXPECT_EQ(lines[2], "Product Version: ");
  EXPECT_EQ(lines[4], "Operating System: Linux 6.10.0");
  EXPECT_EQ(lines[6], "Windows Directory: ");
}

TEST(SystemReport, DigitsGroupByTheLocalesRule) {
  EXPECT_EQ(groupDigits(0, ","), "0");
  EXPECT_EQ(groupDigits(999, ","), "999");
  EXPECT_EQ(groupDigits(1000, ","), "1,000");
  EXPECT_EQ(groupDigits(1234567, ","), "1,234,567");
  EXPECT_EQ(groupDigits(18446744073709551615u, "'"), "18'446'744'073'709'551'615");
  EXPECT_EQ(groupDigits(123456789, ",", "\3\2"), "12,34,56,789");  // Indian grouping
  EXPECT_EQ(groupDigits(1234567, ",", ""), "1234567");
  EXPECT_EQ(groupDigits(1234567, ",", "\3\177"), "1234,567");  // CHAR_MAX: no further groups
  EXPECT_EQ(userLocaleNumbers()(1000).size(), 5u);
}

TEST(SystemReport, FactsOfThisComputer) {
  const SystemFacts facts = collectSystemFacts("0.1.0.0", "0.1.0.0");
  EXPECT_NE(facts.platformName.find("Linux"), std::string::npos);
  EXPECT_GT(facts.majorVersion, 0);
  // An account without a home (such as nobody) gets the error line instead.
  EXPECT_TRUE(facts.windowsFolder.error != 0 || std::filesystem::is_directory(facts.windowsFolder.path));
  EXPECT_TRUE(std::filesystem::is_directory(facts.systemFolder.path)) << facts.systemFolder.path;
  EXPECT_TRUE(facts.temporaryFolder.path.ends_with('/'));
  EXPECT_GT(facts.totalPhysical, 0u);
  EXPECT_LE(facts.freePhysical, facts.totalPhysical);
  std::size_t count = 0;
  while (environ[count] != nullptr) ++count;
  ASSERT_EQ(facts.environment.size(), count);
  EXPECT_EQ(facts.environment.front(), environ[0]);
  bool anyFixed = false;
  for (const DriveFact& drive : facts.drives) {
    if (drive.type == DriveType::Fixed) {
      anyFixed = true;
      EXPECT_GT(drive.totalBytes, 0u) << drive.root;
      EXPECT_LE(drive.freeBytes, drive.totalBytes);
    } else {
      EXPECT_EQ(drive.totalBytes, 0u) << drive.root;  // never asked
    }
  }
  EXPECT_TRUE(anyFixed);
}

TEST(SystemReport, MissingFoldersReportTheirError) {
  const char* before = std::getenv("TMPDIR");
  const std::string saved = before != nullptr ? before : "";
  ::setenv("TMPDIR", "/no/such/folder", 1);
  const SystemFacts facts = collectSystemFacts("", "");
  if (before != nullptr) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_EQ(facts.temporaryFolder.error, ENOENT);
  std::vector<std::string> lines;
  appendSystemInfo(lines, facts, [](std::uint64_t n) { return std::to_string(n); });
  EXPECT_EQ(lines[8], "Temporary Directory: Cannot get the required infomation. Error Code: 2.");
}

TEST(LogFile, AnsiTextWithCarriageReturnLineFeed) {
  EXPECT_EQ(logFileText({}), "");
  EXPECT_EQ(logFileText({"", "a"}), "\r\na\r\n");
  const std::uint32_t before = systemAnsiCodePage();
  ASSERT_TRUE(setSystemAnsiCodePage(1252));
  EXPECT_EQ(logFileText({"caf\xc3\xa9 \xe2\x82\xac", "\xe6\x97\xa5"}), "caf\xe9 \x80\r\n?\r\n");
  ASSERT_TRUE(setSystemAnsiCodePage(1251));
  EXPECT_EQ(logFileText({"\xd0\x9f"}), "\xcf\r\n");
  setSystemAnsiCodePage(before);
}

TEST(LogFile, SavingReplacesTheFileOrTellsWhy) {
  char pattern[] = "/tmp/log-file-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string folder = pattern;
  const std::string path = folder + "/recovery.log";
  std::ofstream(path) << "an older and much longer log text\n";
  std::string error;
  ASSERT_TRUE(saveLogFile(path, {"one", "two"}, error)) << error;
  EXPECT_EQ(readAll(path), "one\r\ntwo\r\n");
  ASSERT_TRUE(saveLogFile(path, {}, error));
  EXPECT_EQ(readAll(path), "");

  EXPECT_FALSE(saveLogFile(folder + "/missing/recovery.log", {"x"}, error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(saveLogFile(folder, {"x"}, error));  // a folder
  EXPECT_FALSE(error.empty());
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace vexl::client
