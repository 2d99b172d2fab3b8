// The command line in use from a terminal or a script: stopping a run with
// Ctrl-C, batches, the file search, info, and the refusals before a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "mapi/pst/test_validators.h"

namespace {

namespace fs = std::filesystem;
using vexl::pst::test::haveTool;
using vexl::pst::test::makeTempDir;
using vexl::pst::test::runCommand;

const std::string kVexl = std::string(BRELLIN_BIN_DIR) + "/vexl";
const std::string kSamples = BRELLIN_SAMPLES_DIR;

std::string shellWord(const std::string& text) { return "'" + text + "'"; }

struct Result {
  int status;
  std::string output;  // stdout and stderr together
};

Result vexl(const std::string& args) {
  const vexl::pst::test::CommandResult r = runCommand(kVexl + " " + args + " 2>&1");
  return {r.status, r.output};
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const fs::path& path, std::size_t bytes, char fill = 'x') {
  std::ofstream(path, std::ios::binary) << std::string(bytes, fill);
}

bool opensInPffinfo(const std::string& path) {
  return runCommand("pffinfo " + shellWord(path) + " >/dev/null 2>&1").status == 0;
}

// Runs vexl with stdout and stderr in files, sends SIGINT once stderr holds
// `trigger`, and returns the exit status (-1 on a timeout or a death).
int runAndInterrupt(const std::string& args, const std::string& trigger, const fs::path& out, const fs::path& err) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::string command = "exec '" + kVexl + "' " + args + " >'" + out.string() + "' 2>'" + err.string() + "'";
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);  // sanitizer builds are slow
  int raw = 0;
  bool sent = false;
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(pid, &raw, WNOHANG) == pid) return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (!sent && readFile(err).find(trigger) != std::string::npos) {
      ::kill(pid, SIGINT);
      sent = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &raw, 0);
  return -1;
}

class CliRun : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = makeTempDir("vexl-cli-run"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (fs::path(dir_) / name).string(); }
  void makeDemo(const std::string& name, int messages) {
    ASSERT_EQ(vexl("demo " + shellWord(path(name)) + " --messages " + std::to_string(messages)).status, 0);
  }
  std::string dir_;
};

TEST_F(CliRun, CtrlCStopsTheRunWithCompleteTargetsAndExitStatus130) {
  makeDemo("big.ost", 3000);
  // Stopped at the first progress line: the scan ends (or, on a fast
  // machine, the writing already began and its file is finished).
  const fs::path out = path("out.txt"), err = path("err.txt");
  EXPECT_EQ(runAndInterrupt("recover " + shellWord(path("big.ost")) + " -o " + shellWord(path("early.pst")), "%", out, err),
            130)
      << readFile(err);
  EXPECT_NE(readFile(out).find("User aborts the recovery process"), std::string::npos) << readFile(out);
  EXPECT_NE(readFile(out).find("Stopped by the user."), std::string::npos);
  EXPECT_NE(readFile(err).find("Stopping: "), std::string::npos) << readFile(err);
  if (fs::exists(path("early.pst")) && haveTool("pffinfo")) {
    EXPECT_TRUE(opensInPffinfo(path("early.pst")));
  }

  // Stopped while the target is written: the file ends after the message
  // being written and is closed whole.
  EXPECT_EQ(runAndInterrupt("recover " + shellWord(path("big.ost")) + " -o " + shellWord(path("late.pst")),
                            "writing", out, err),
            130)
      << readFile(err);
  const std::string summary = readFile(out);
  EXPECT_NE(summary.find("Stopped by the user.\n"), std::string::npos) << summary;
  EXPECT_NE(summary.find("\nWritten: " + path("late.pst") + "\n"), std::string::npos);
  ASSERT_TRUE(fs::exists(path("late.pst")));
  if (haveTool("pffinfo")) {
    EXPECT_TRUE(opensInPffinfo(path("late.pst")));
  }
  if (haveTool("pffexport")) {
    EXPECT_EQ(vexl::pst::test::pffexportProblems(path("late.pst")), "");
  }
}

TEST_F(CliRun, ProgressLinesWhenStderrIsNoTerminalAndNoneWhenQuiet) {
  makeDemo("small.ost", 40);
  const vexl::pst::test::CommandResult plain =
      runCommand("(" + kVexl + " recover " + shellWord(path("small.ost")) + " 2>&1 >/dev/null)");
  EXPECT_EQ(plain.status, 0);
  EXPECT_NE(plain.output.find("  0%  00:00:00  scanning the source\n"), std::string::npos) << plain.output;
  EXPECT_NE(plain.output.find("100%  "), std::string::npos);
  EXPECT_EQ(plain.output.find("\033["), std::string::npos);  // no terminal controls in a pipe
  const vexl::pst::test::CommandResult quiet =
      runCommand("(" + kVexl + " recover -q " + shellWord(path("small.ost")) + " 2>&1 >/dev/null)");
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.output, "");
}

TEST_F(CliRun, LogFileIsAnsiTextWithCrLfLinesAndOptionallyTheSystemReport) {
  makeDemo("small.ost", 40);
  Result r = vexl("recover -q " + shellWord(path("small.ost")) + " --log " + shellWord(path("run.log")));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find("Recover message '"), std::string::npos) << "the log went to the file, not stdout";
  const std::string log = readFile(path("run.log"));
  EXPECT_EQ(log.rfind("Start recovery process ...\r\n--------------------------------------------------------\r\n"
                      "File to be recovered: '" + path("small.ost") + "'; File size = ",
                      0),
            0u)
      << log.substr(0, 300);
  EXPECT_NE(log.find("\r\nRecovery process completes.\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\nConsumed time: 0 hour(s) 0 minute(s) "), std::string::npos);
  EXPECT_EQ(log.find("\n", log.find('\n') + 1) - 1, log.find("\r\n", log.find('\n') + 1)) << "every line ends CR LF";

  r = vexl("recover -q " + shellWord(path("small.ost")) + " --log " + shellWord(path("report.log")) + " --system-info");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readFile(path("report.log")).rfind("--------------------------------------------------------\r\n"
                                               " Version Information:\r\n",
                                               0),
            0u);
}

TEST_F(CliRun, BatchGivesEachFileItsStatusAndTheSummary) {
  makeDemo("good.ost", 40);
  writeFile(path("zeros.ost"), 70000, '\0');  // no structure at all: fails
  fs::create_directory(path("folder.ost"));   // refused before the engine runs
  const std::string sources = shellWord(path("good.ost")) + " " + shellWord(path("zeros.ost")) + " " +
                              shellWord(path("folder.ost"));

  Result r = vexl("batch -q " + sources);
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("Successful     " + path("good.ost") + " -> " + path("good_recovered.pst")),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("Failed         " + path("zeros.ost")), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Not Recovered  " + path("folder.ost")), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(path("folder.ost") + " is a folder, not a file"), std::string::npos);
  EXPECT_NE(r.output.find("\n1 file(s) recovered successfully\n"), std::string::npos) << r.output;
  ASSERT_TRUE(fs::exists(path("good_recovered.pst")));
  if (haveTool("pffinfo")) {
    EXPECT_TRUE(opensInPffinfo(path("good_recovered.pst")));
  }

  // An existing target is an error for its row unless the options say what to do.
  const auto written = fs::last_write_time(path("good_recovered.pst"));
  r = vexl("batch -q " + shellWord(path("good.ost")) + " --json");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("\"status\": \"Not Recovered\""), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("exists (--overwrite replaces it"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\"summary\": \"0 file(s) recovered successfully\""), std::string::npos);
  r = vexl("batch -q " + shellWord(path("good.ost")) + " --skip-existing --json");
  EXPECT_NE(r.output.find("\"note\": \"skipped: "), std::string::npos) << r.output;
  EXPECT_EQ(fs::last_write_time(path("good_recovered.pst")), written);
  r = vexl("batch -q " + shellWord(path("good.ost")) + " --overwrite --json");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("{\"files\": [{\"source\": " + std::string("\"") + path("good.ost") + "\", \"target\": \"" +
                          path("good_recovered.pst") + "\", \"status\": \"Successful\", \"recovered\": "),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("\"summary\": \"1 file(s) recovered successfully\""), std::string::npos);

  // Two sources with one target: the second does not replace what the first gave.
  fs::copy_file(path("good.ost"), path("good.pst"));
  r = vexl("batch -q " + shellWord(path("good.ost")) + " " + shellWord(path("good.pst")) + " --overwrite");
  EXPECT_NE(r.output.find("Not Recovered  " + path("good.pst")), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("holds what this batch recovered from " + path("good.ost")), std::string::npos);

  // --output-dir puts the targets there.
  fs::create_directory(path("out"));
  r = vexl("batch -q " + shellWord(path("good.ost")) + " --output-dir " + shellWord(path("out")));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(fs::exists(path("out/good_recovered.pst")));
}

TEST_F(CliRun, SearchAppliesTheMasksSizesAndTimes) {
  fs::create_directories(path("tree/deep/er"));
  writeFile(path("tree/small.ost"), 2 * 1024);
  writeFile(path("tree/deep/BIG.OST"), 20 * 1024);  // letter case ignored
  writeFile(path("tree/deep/er/old.ost"), 8 * 1024);
  writeFile(path("tree/mail.pst"), 8 * 1024);
  fs::last_write_time(path("tree/deep/er/old.ost"), fs::file_time_type::clock::now() - std::chrono::hours(24 * 5));

  Result r = vexl("search " + shellWord(path("tree")));
  EXPECT_EQ(r.status, 0) << r.output;
  for (const char* name : {"tree/small.ost", "tree/deep/BIG.OST", "tree/deep/er/old.ost"})
    EXPECT_NE(r.output.find(path(name) + "\n"), std::string::npos) << name << r.output;
  EXPECT_EQ(r.output.find("mail.pst"), std::string::npos);
  EXPECT_NE(r.output.find("3 file(s) found"), std::string::npos);

  r = vexl("search " + shellWord(path("tree")) + " --min-size 4 --max-size 10 --json");
  EXPECT_EQ(r.output, "[{\"path\": \"" + path("tree/deep/er/old.ost") + "\", \"size\": 8192, " +
                          r.output.substr(r.output.find("\"created\"")))
      << r.output;
  EXPECT_EQ(r.output.find("BIG.OST"), std::string::npos);
  r = vexl("search " + shellWord(path("tree")) + " --modified-days 2");
  EXPECT_EQ(r.output.find("old.ost"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("2 file(s) found"), std::string::npos) << r.output;
  r = vexl("search " + shellWord(path("tree")) + " --no-recurse --name '*.pst;*.ost'");
  EXPECT_NE(r.output.find("mail.pst"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("2 file(s) found"), std::string::npos) << r.output;

  EXPECT_EQ(vexl("search " + shellWord(path("nowhere"))).status, 1);
  for (const char* bad : {"--min-size", "--min-size ten", "--max-size -1", "--modified-days 1000", "--min-size 9 --max-size 8",
                          "--name ';'", "--deep"})
    EXPECT_EQ(vexl("search " + shellWord(path("tree")) + " " + bad).status, 2) << bad;
}

TEST(CliInfo, HeaderFactsVariantAndNodeCounts) {
  Result r = vexl("info " + shellWord(kSamples + "/exchange-2010.ost"));
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* line : {"Header variant:     Unicode (wVer 23", "wMagicClient:       0x4F53, offline folders (SO)",
                           "Variant decision:   unicode (0 ANSI pages, ", "Nodes:              ", "Folders:            "})
    EXPECT_NE(r.output.find(line), std::string::npos) << line << r.output;

  r = vexl("info " + shellWord(kSamples + "/ansi-calendar.pst") + " --json");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* key : {"\"header_variant\": \"ansi\"", "\"wMagicClient\": 19795", "\"variant\": \"ansi\"",
                          "\"nodes\": ", "\"messages\": "})
    EXPECT_NE(r.output.find(key), std::string::npos) << key << r.output;

  EXPECT_EQ(vexl("info").status, 2);
  EXPECT_EQ(vexl("info /nonexistent.ost").status, 1);
}

TEST_F(CliRun, BadInputsAreRefusedBeforeTheEngineRunsAndTheSourceIsNeverOverwritten) {
  fs::copy_file(kSamples + "/unicode-18-items.ost", path("mail.ost"));
  const std::string original = readFile(path("mail.ost"));
  fs::create_symlink(path("mail.ost"), path("link.pst"));
  fs::create_hard_link(path("mail.ost"), path("hard.pst"));
  for (const char* target : {"mail.ost", "link.pst", "hard.pst"}) {
    Result r = vexl("recover " + shellWord(path("mail.ost")) + " -o " + shellWord(path(target)));
    EXPECT_EQ(r.status, 1) << target << r.output;
    EXPECT_NE(r.output.find("is the source file itself; the source is never overwritten"), std::string::npos)
        << r.output;
  }
  // The same refusal when the source is named through the link, and for a
  // log file that would replace the source or the target.
  EXPECT_EQ(vexl("recover " + shellWord(path("link.pst")) + " -o " + shellWord(path("mail.ost"))).status, 1);
  Result log = vexl("recover " + shellWord(path("mail.ost")) + " --log " + shellWord(path("hard.pst")));
  EXPECT_EQ(log.status, 1);
  EXPECT_NE(log.output.find("is the source file " + path("mail.ost")), std::string::npos) << log.output;
  log = vexl("recover " + shellWord(path("mail.ost")) + " -o " + shellWord(path("out.pst")) + " --log " +
             shellWord(path("./out.pst")));
  EXPECT_NE(log.output.find("is the target file"), std::string::npos) << log.output;
  EXPECT_EQ(vexl("batch " + shellWord(path("mail.ost")) + " --log " + shellWord(path("mail.ost"))).status, 1);
  EXPECT_EQ(readFile(path("mail.ost")), original);

  Result r = vexl("recover " + shellWord(dir_));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find(dir_ + " is a folder, not a file"), std::string::npos) << r.output;
  r = vexl("recover " + shellWord(path("mail.ost")) + " -o " + shellWord(path("missing/out.pst")));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("the folder " + path("missing") + " does not exist"), std::string::npos) << r.output;
  r = vexl("recover " + shellWord(path("mail.ost")) + " --log " + shellWord(path("missing/run.log")));
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(path("mail_recovered.pst"))) << "nothing runs when the log cannot be written";
  if (::geteuid() != 0) {  // root writes into read-only folders
    fs::create_directory(path("locked"));
    fs::permissions(path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    r = vexl("recover " + shellWord(path("mail.ost")) + " -o " + shellWord(path("locked/out.pst")));
    EXPECT_NE(r.output.find("cannot be written"), std::string::npos) << r.output;
    fs::permissions(path("locked"), fs::perms::owner_all);
  }

  for (const char* bad : {"batch", "batch a.ost --overwrite --skip-existing", "batch a.ost --output-dir",
                          "batch a.ost --bogus", "batch a.ost --split 0", "recover a.ost --log", "info a b"})
    EXPECT_EQ(vexl(bad).status, 2) << bad;
  EXPECT_EQ(vexl("batch a.ost --output-dir " + shellWord(path("missing"))).status, 1);
}

TEST(CliHelp, EveryCommandAndOptionIsDocumented) {
  Result help = vexl("--help");
  for (const char* command : {"recover", "batch", "search", "info", "scan", "nodes", "props", "table", "demo"})
    EXPECT_NE(help.output.find(std::string("  ") + command + " "), std::string::npos) << command;
  const std::string man = readFile(fs::path(BRELLIN_SOURCE_DIR) / "cli/vexl.1");
  ASSERT_FALSE(man.empty());
  // Every option of every command's help is in the man page.
  for (const char* command : {"recover", "batch", "search", "info", "scan", "nodes", "props", "table", "demo"}) {
    Result r = vexl(std::string(command) + " --help");
    EXPECT_EQ(r.status, 0) << command;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
      if (!line.starts_with("  -")) continue;
      std::string option = line.substr(2, line.find_first_of(" ,", 2) - 2);
      std::string escaped;
      for (char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
      EXPECT_NE(man.find(escaped), std::string::npos) << command << " " << option;
    }
  }
}

}  // namespace
