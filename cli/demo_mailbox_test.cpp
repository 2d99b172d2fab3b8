// The demo mailbox read back by the public readers (the writer's every
// feature in one file), and its damage.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/demo_damage.h"
#include "cli/demo_mailbox.h"
#include "mapi/pst/test_validators.h"

namespace vexl::demo {
namespace {

using pst::test::runCommand;

class DemoMailboxTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = pst::test::makeTempDir("demo-mailbox"); }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  DemoMailbox write(const std::string& name, PstFormat format, unsigned messages,
                    unsigned folders = kDemoPlannedFolders) {
    std::string error;
    const auto mailbox = writeDemoMailbox(dir_ + "/" + name, {format, messages, folders}, error);
    EXPECT_TRUE(mailbox) << error;
    return mailbox.value_or(DemoMailbox{});
  }
  std::vector<unsigned char> bytes(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::string dir_;
};

TEST_F(DemoMailboxTest, UnicodeFileHoldsEveryFolderItemAndAttachmentForEveryReader) {
  const DemoMailbox m = write("demo.pst", PstFormat::Unicode, 48);
  EXPECT_EQ(m.messages, 48u);
  ASSERT_EQ(m.folders.size(), 8u);
  EXPECT_GT(m.embeddedMessages, 0u);
  EXPECT_GT(m.oleObjects, 0u);
  EXPECT_GT(m.attachments, m.embeddedMessages + m.oleObjects);
  EXPECT_NE(m.folderToLose, 0u);
  const std::string path = dir_ + "/demo.pst";

  if (pst::test::haveTool("pffexport")) {
    EXPECT_EQ(pst::test::pffexportProblems(path), "");
    const auto run = runCommand("pffexport -m items -f all -t '" + dir_ + "/x' '" + path + "'");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string tree = pst::test::listTree(dir_ + "/x.export");
    for (const char* expected : {"/Top of Personal Folders/Inbox/Projects/Archive 2023/", "/Переписка/",
                                 "/日本語のメール/", "/Message.rtf", "/Message.html", "/Message.txt"})
      EXPECT_NE(tree.find(expected), std::string::npos) << expected;
    // The RTF bodies are LZFu streams that decompress to our text.
    EXPECT_EQ(runCommand("grep -rlq 'Message number' --include=Message.rtf '" + dir_ + "/x.export'").status, 0);
    // (pffexport drops a subject's first character when it is not ASCII, so
    // the check takes one that starts with an ASCII letter.)
    EXPECT_EQ(runCommand("grep -rq 'Subject:.*Grüße aus München' '" + dir_ + "/x.export'").status, 0);
  }

  const auto walk = pst::test::pstExtractorWalk(path);
  if (!walk.skipped.empty()) GTEST_SKIP() << "pst-extractor check skipped: " << walk.skipped;
  ASSERT_EQ(walk.problem, "");
  for (const DemoFolder& f : m.folders) {
    const auto* found = walk.find("Top of Personal Folders/" + f.path);
    ASSERT_NE(found, nullptr) << f.path;
    EXPECT_EQ(found->items, static_cast<int>(f.messages)) << f.path;
  }
  EXPECT_EQ(walk.items, 48);
  EXPECT_EQ(walk.attachments, static_cast<int>(m.attachments));
  EXPECT_EQ(walk.errors, 0);
}

TEST_F(DemoMailboxTest, FoldersPastThePlanGoBelowProjectsAndShareTheMessages) {
  const DemoMailbox m = write("demo.pst", PstFormat::Unicode, 33, 11);
  ASSERT_EQ(m.folders.size(), 11u);
  EXPECT_EQ(m.folders[8].path, "Inbox/Projects/Project 001");
  EXPECT_EQ(m.folders[10].path, "Inbox/Projects/Project 003");
  for (const DemoFolder& f : m.folders) EXPECT_EQ(f.messages, 3u) << f.path;
  const auto walk = pst::test::pstExtractorWalk(dir_ + "/demo.pst");
  if (!walk.skipped.empty()) GTEST_SKIP() << "pst-extractor check skipped: " << walk.skipped;
  ASSERT_EQ(walk.problem, "");
  for (const DemoFolder& f : m.folders) {
    const auto* found = walk.find("Top of Personal Folders/" + f.path);
    ASSERT_NE(found, nullptr) << f.path;
    EXPECT_EQ(found->items, 3) << f.path;
  }
}

TEST_F(DemoMailboxTest, AnsiFileKeepsItsWindows1252Texts) {
  const DemoMailbox m = write("demo.pst", PstFormat::Ansi, 24);
  EXPECT_EQ(m.messages, 24u);
  const std::string path = dir_ + "/demo.pst";
  if (!pst::test::haveTool("pffexport")) GTEST_SKIP() << "pffexport is not installed";
  EXPECT_NE(runCommand("pffinfo '" + path + "'").output.find("32-bit"), std::string::npos);
  EXPECT_EQ(pst::test::pffexportProblems(path), "");
  const auto run = runCommand("pffexport -m items -f all -t '" + dir_ + "/x' '" + path + "'");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string tree = pst::test::listTree(dir_ + "/x.export");
  for (const char* expected : {"/Café Résumé/", "/Señor Núñez/", "/Grüße aus München/"})
    EXPECT_NE(tree.find(expected), std::string::npos) << expected << tree.substr(0, 2000);
  if (pst::test::haveTool("readpst")) {
    std::filesystem::create_directories(dir_ + "/readpst");
    const auto rp = runCommand("readpst -D -o '" + dir_ + "/readpst' '" + path + "'");
    EXPECT_EQ(rp.status, 0) << rp.output;
  }
}

TEST_F(DemoMailboxTest, DamageZeroesPagesAndSectorsAndTakesTheFolderOutOfTheIndex) {
  const DemoMailbox m = write("a.ost", PstFormat::Unicode, 200);
  std::filesystem::copy_file(dir_ + "/a.ost", dir_ + "/b.ost");
  const auto before = bytes("a.ost");
  std::string error;
  const auto report = damageMailbox(dir_ + "/a.ost", m.folderToLose, error);
  ASSERT_TRUE(report) << error;
  EXPECT_TRUE(report->folderRemoved);
  EXPECT_EQ(report->zeroedPages.size(), 3u);
  EXPECT_EQ(report->zeroedSectors.size(), 6u);

  const auto after = bytes("a.ost");
  ASSERT_EQ(after.size(), before.size());
  auto allZero = [&](std::uint64_t at) {
    return std::all_of(after.begin() + static_cast<std::ptrdiff_t>(at),
                       after.begin() + static_cast<std::ptrdiff_t>(at + 512), [](unsigned char c) { return c == 0; });
  };
  for (std::uint64_t at : report->zeroedPages) EXPECT_TRUE(allZero(at)) << at;
  for (std::uint64_t at : report->zeroedSectors) {
    EXPECT_TRUE(allZero(at)) << at;
    EXPECT_EQ(at % 512, 0u);
  }
  // Nothing else changed but the leaf that lost the folder's entry.
  std::size_t changedSectors = 0;
  for (std::size_t at = 0; at < before.size(); at += 512)
    changedSectors += !std::equal(before.begin() + static_cast<std::ptrdiff_t>(at),
                                  before.begin() + static_cast<std::ptrdiff_t>(std::min(before.size(), at + 512)),
                                  after.begin() + static_cast<std::ptrdiff_t>(at));
  EXPECT_LE(changedSectors, report->zeroedPages.size() + report->zeroedSectors.size() + 1);
  EXPECT_GT(changedSectors, report->zeroedPages.size());

  // The same file is damaged the same way; a damaged file is refused.
  const auto again = damageMailbox(dir_ + "/b.ost", m.folderToLose, error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->zeroedPages, report->zeroedPages);
  EXPECT_EQ(again->zeroedSectors, report->zeroedSectors);
  EXPECT_FALSE(damageMailbox(dir_ + "/a.ost", m.folderToLose, error));
  EXPECT_NE(error.find("damaged"), std::string::npos) << error;
  EXPECT_FALSE(damageMailbox(dir_ + "/missing.ost", m.folderToLose, error));
}

}  // namespace
}  // namespace vexl::demo
