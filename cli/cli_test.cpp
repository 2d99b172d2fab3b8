// The command line as users run it: exit statuses, what it prints.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "mapi/pst/test_validators.h"

namespace {

struct Result {
  int status;
  std::string output;  // stdout and stderr together
};

Result vexl(const std::string& args) {
  std::string command = std::string(BRELLIN_BIN_DIR) + "/vexl " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  Result result{-1, ""};
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer{};
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
  int raw = ::pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

TEST(Cli, RecoverOfAMissingFileSaysWhyAndExitsOne) {
  Result r = vexl("recover /nonexistent/mail.ost -o /tmp/vexl-cli-never.pst");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Error 1: Cannot open the file to be repaired. /nonexistent/mail.ost was not found."),
            std::string::npos)
      << r.output;
  EXPECT_FALSE(std::filesystem::exists("/tmp/vexl-cli-never.pst"));
}

TEST(Cli, RecoverOptionsAreCheckedBeforeAnythingRuns) {
  for (const char* bad : {"--src-format", "--src-format sideways", "--dst-format", "--split 0", "--split 32768",
                          "--split ten", "--levels 6", "--levels 1,,2", "--levels 1,", "--levels", "--frobnicate"}) {
    Result r = vexl(std::string("recover /nonexistent/a.ost ") + bad);
    EXPECT_EQ(r.status, 2) << bad << r.output;
    EXPECT_EQ(r.output.find("Error 1"), std::string::npos) << bad;  // the engine was not called
  }
  for (const char* good : {"--src-format ansi --dst-format auto", "--no-fast --heuristic-root --no-unattached",
                           "--split 1 --keep-zero --no-ipm-subtree", "--remove-empty --batch-props --levels 1,3,5",
                           "--levels none --personal"}) {
    Result r = vexl(std::string("recover /nonexistent/a.ost ") + good);
    EXPECT_EQ(r.status, 1) << good << r.output;  // reached the engine, which cannot open the file
  }
}

TEST(Cli, RecoverJsonSummarisesTheRunAndNamesTheTargetAfterTheSource) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vexl-cli-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(std::string(BRELLIN_SAMPLES_DIR) + "/unicode-18-items.ost", dir / "mail.ost");
  Result r = vexl("recover '" + (dir / "mail.ost").string() + "' --json");
  EXPECT_EQ(r.output.rfind("{\"recovered\": ", 0), 0u) << r.output;
  for (const char* key : {"\"result\": ", "\"seconds\": ", "\"targets\": [", "\"log_lines\": ["})
    EXPECT_NE(r.output.find(key), std::string::npos) << key << r.output;
  EXPECT_NE(r.output.find("Analyzing the source file ..."), std::string::npos);
  if (std::filesystem::exists(dir / "mail_recovered.pst")) {
    EXPECT_NE(r.output.find((dir / "mail_recovered.pst").string()), std::string::npos) << r.output;
  }
  std::filesystem::remove_all(dir);
}

TEST(Cli, RecoverJsonListsEverySplitFile) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vexl-cli-split-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string out = (dir / "out.pst").string(), second = (dir / "out_1.pst").string();
  Result r = vexl("recover '" + std::string(BRELLIN_SAMPLES_DIR) + "/unicode-attachments.pst' -o '" + out +
                  "' --split 1 --levels none --json");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("\"targets\": [\"" + out + "\", \"" + second + "\"]"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Current file size exceeds the limit. Create split file '" + second + "'."),
            std::string::npos)
      << r.output;
  EXPECT_TRUE(std::filesystem::exists(second));
  std::filesystem::remove_all(dir);
}

TEST(Cli, DemoMailboxRecoversWithTheLostFolderInLostAndFound) {
  const std::string dir = vexl::pst::test::makeTempDir("vexl-cli-demo");
  Result demo = vexl("demo '" + dir + "/demo.ost' --messages 80");
  ASSERT_EQ(demo.status, 0) << demo.output;
  for (const char* key : {"{\"format\": \"unicode\", \"folders\": 8, \"messages\": 80, \"attachments\": ",
                          "\"zeroed_pages\": 3", "\"lost_folder\": \"Inbox/Projects/Archive 2023\""})
    EXPECT_NE(demo.output.find(key), std::string::npos) << key << demo.output;

  Result recover = vexl("recover '" + dir + "/demo.ost' -o '" + dir + "/demo.pst'");
  EXPECT_EQ(recover.status, 0) << recover.output;
  EXPECT_NE(recover.output.find("Recover folder 'Archive 2023' ..."), std::string::npos) << recover.output;
  if (vexl::pst::test::haveTool("pffexport")) {
    EXPECT_EQ(vexl::pst::test::pffexportProblems(dir + "/demo.pst"), "");
  }
  const auto walk = vexl::pst::test::pstExtractorWalk(dir + "/demo.pst");
  if (walk.skipped.empty()) {
    EXPECT_EQ(walk.problem, "");
    int lostAndFound = 0;
    for (const auto& f : walk.folders)
      if (f.path.starts_with("Top of Personal Folders/Recovered_Group")) lostAndFound += f.items;
    EXPECT_GT(lostAndFound, 0);
    // The zeroed NBT leaf and sectors cost some of the 80 messages, not most.
    EXPECT_GE(walk.items, 60);
    EXPECT_EQ(walk.errors, 0);
  } else {
    std::printf("pst-extractor check skipped: %s\n", walk.skipped.c_str());
  }
  std::filesystem::remove_all(dir);
}

TEST(Cli, DemoArgumentsAreCheckedAndAnUnwritablePathFails) {
  for (const char* bad : {"demo", "demo a.ost --format utf8", "demo a.ost --messages 0", "demo a.ost --messages x",
                          "demo a.ost --folders 7", "demo a.ost --folders 1001",
                          "demo a.ost b.ost", "demo a.ost --bogus", "demo /tmp"}) {
    Result r = vexl(bad);
    EXPECT_EQ(r.status, 2) << bad << r.output;
  }
  Result r = vexl("demo /nonexistent/dir/demo.ost");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("vexl demo: /nonexistent/dir/demo.ost: "), std::string::npos) << r.output;
}

TEST(Cli, UsageErrorsExitTwo) {
  EXPECT_EQ(vexl("").status, 2);
  EXPECT_EQ(vexl("frobnicate").status, 2);
  EXPECT_EQ(vexl("recover").status, 2);
  EXPECT_EQ(vexl("recover a.ost -o").status, 2);
  EXPECT_EQ(vexl("recover a.ost -o b.pst --bogus").status, 2);
  EXPECT_EQ(vexl("scan").status, 2);
  EXPECT_EQ(vexl("scan x --variant sideways").status, 2);
}

TEST(Cli, HelpAndVersionExitZero) {
  Result help = vexl("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("recover SOURCE -o TARGET"), std::string::npos);
  Result version = vexl("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output.rfind("vexl ", 0), 0u);
}

TEST(Cli, ScanJsonHasEveryKeyForEverySample) {
  const char* keys[] = {"ansi_pages", "unicode_pages", "unicode_header", "decision",    "variant",
                        "blocks",     "zero_blocks",   "distinct_bids",  "bbt_pages",   "nbt_pages",
                        "nbt_leaf_pages", "header_offset", "seconds"};
  int samples = 0;
  for (const auto& entry : std::filesystem::directory_iterator(BRELLIN_SAMPLES_DIR)) {
    std::string ext = entry.path().extension().string();
    if (ext != ".pst" && ext != ".ost") continue;
    ++samples;
    Result r = vexl("scan '" + entry.path().string() + "' --json");
    ASSERT_EQ(r.status, 0) << entry.path() << r.output;
    EXPECT_EQ(r.output.front(), '{');
    for (const char* key : keys) {
      EXPECT_NE(r.output.find(std::string("\"") + key + "\": "), std::string::npos) << key << " in " << r.output;
    }
    EXPECT_NE(r.output.find("\"header_offset\": 0"), std::string::npos) << r.output;
  }
  EXPECT_GT(samples, 0);
  Result missing = vexl("scan /nonexistent.ost --json");
  EXPECT_EQ(missing.status, 1);
}

TEST(Cli, NodesJsonListsTheNodeIndexOfEverySample) {
  for (const auto& entry : std::filesystem::directory_iterator(BRELLIN_SAMPLES_DIR)) {
    std::string ext = entry.path().extension().string();
    if (ext != ".pst" && ext != ".ost") continue;
    Result r = vexl("nodes '" + entry.path().string() + "' --json");
    ASSERT_EQ(r.status, 0) << entry.path() << r.output;
    ASSERT_EQ(r.output.front(), '[');
    // Every store has its message store node (NID 0x21 = 33) and root folder (0x122 = 290).
    EXPECT_NE(r.output.find("\"nid\": 33,"), std::string::npos) << entry.path();
    EXPECT_NE(r.output.find("\"nid\": 290,"), std::string::npos) << entry.path();
    for (const char* key : {"data_bid", "subnode_bid", "parent_nid", "versions", "children"}) {
      EXPECT_NE(r.output.find(std::string("\"") + key + "\": "), std::string::npos) << key;
    }
  }
  EXPECT_EQ(vexl("nodes").status, 2);
}

TEST(Cli, PropsAndTableDecodeOneNode) {
  std::string sample = std::string("'") + BRELLIN_SAMPLES_DIR + "/unicode-mailing-list.pst'";
  Result store = vexl("props " + sample + " --nid 0x21 --json");
  ASSERT_EQ(store.status, 0) << store.output;
  EXPECT_NE(store.output.find("\"tag\": \"0x3001001F\""), std::string::npos) << store.output;  // display name

  Result hierarchy = vexl("table " + sample + " --nid 301 --json");  // 0x12D, the root's hierarchy table
  ASSERT_EQ(hierarchy.status, 0) << hierarchy.output;
  EXPECT_NE(hierarchy.output.find("\"columns\""), std::string::npos);

  EXPECT_EQ(vexl("props " + sample).status, 2);
  EXPECT_EQ(vexl("props " + sample + " --nid banana").status, 2);
  EXPECT_EQ(vexl("props " + sample + " --nid 0x7fffffe1").status, 1);  // no such node
}

}  // namespace
