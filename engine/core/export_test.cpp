// The engine through its real export, as the window program and the command
// line call it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <gmock/gmock.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "client/TRELD.h"
#include "engine/core/test_event_log.h"

namespace vexl {
namespace {

using ::testing::ElementsAre;
using test_support::EventLog;

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("vexl-export-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    options_ = client::defaultEngineOptions();
    options_.SrcFormat = 1;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::int32_t call(const std::string& source, EngineCallback callback = &EventLog::callback) {
    target_ = (dir_ / "out.pst").string();
    return client::callEngine(source.c_str(), &options_, target_.c_str(), callback, &log_);
  }

  std::filesystem::path dir_;
  std::string target_;
  EngineOptions options_{};
  EventLog log_;
};

TEST_F(ExportTest, MissingSourceReportsErrorOneAndReturnsZero) {
  std::string missing = (dir_ / "missing.ost").string();
  EXPECT_EQ(call(missing), 0);
  EXPECT_THAT(log_.events,
              ElementsAre("Progress 0", "SourceFile " + missing,
                          "ErrorText Error 1: Cannot open the file to be repaired. " + missing + " was not found.",
                          "RecoveredCount 0", "Progress 100"));
  EXPECT_FALSE(std::filesystem::exists(target_));
}

TEST_F(ExportTest, SourceHeldOpenForWritingIsASharingViolation) {
  std::string source = (dir_ / "busy.ost").string();
  std::ofstream(source) << "data";
  int writer = ::open(source.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  EXPECT_EQ(call(source), 0);
  ::close(writer);
  EXPECT_THAT(log_.events,
              ElementsAre("Progress 0", "SourceFile " + source,
                          "ErrorText Error 1: Cannot open the file to be repaired. A sharing violation occurred "
                          "while accessing " + source + ".",
                          "ShowMessage Share violation when opening the source file '" + source +
                              "'.\nPlease close any other applications accessing the file and try again.",
                          "RecoveredCount 0", "Progress 100"));
}

TEST_F(ExportTest, UnreadableStructureEndsAfterTheAnalysisWithNothingRecovered) {
  std::string source = (dir_ / "noise.ost").string();
  std::ofstream(source) << std::string(4096, '\x5a');
  EXPECT_EQ(call(source), 0);
  EXPECT_EQ(log_.events.front(), "Progress 0");
  EXPECT_EQ(log_.events[1], "SourceFile " + source);
  EXPECT_EQ(log_.events[2], "LogLine Analyzing the source file ...");
  EXPECT_EQ(log_.events[log_.events.size() - 2], "RecoveredCount 0");
  EXPECT_EQ(log_.events.back(), "Progress 100");
  EXPECT_FALSE(std::filesystem::exists(target_));
}

TEST_F(ExportTest, StopAnsweredAtTheFirstQueryEndsTheRunBeforeAnyTarget) {
  options_.SrcFormat = 0;
  log_.abortAnswer = [](int) { return 1; };  // the window keeps answering stop
  std::string source = std::string(BRELLIN_SAMPLES_DIR) + "/unicode-18-items.ost";
  EXPECT_EQ(call(source), 0);
  EXPECT_THAT(log_.events, ElementsAre("Progress 0", "SourceFile " + source, "LogLine Analyzing the source file ...",
                                       "QueryAbort -> 1", "QueryAbort -> 1", "RecoveredCount 0", "Progress 100"));
  EXPECT_FALSE(std::filesystem::exists(target_));
}

TEST_F(ExportTest, NullCallbackIsAllowed) {
  EXPECT_EQ(call((dir_ / "missing.ost").string(), nullptr), 0);
  EXPECT_TRUE(log_.events.empty());
}

TEST_F(ExportTest, TheCallersBlockIsReadButNotChanged) {
  std::string missing = (dir_ / "missing.ost").string();
  std::string target = (dir_ / "out.pst").string();
  ArgumentBlock block{};
  block.words[kWordSourcePath] = reinterpret_cast<std::uintptr_t>(missing.c_str());
  block.words[kWordOptions] = reinterpret_cast<std::uintptr_t>(&options_);
  block.words[kWordReserved] = 0x12345678;  // never read
  block.words[kWordTargetPath] = reinterpret_cast<std::uintptr_t>(target.c_str());
  block.words[kWordCallback] = reinterpret_cast<std::uintptr_t>(&EventLog::callback);
  block.words[kWordUser] = reinterpret_cast<std::uintptr_t>(&log_);
  scrambleArgumentBlock(block);
  ArgumentBlock before = block;
  EXPECT_EQ(vexl_run(&block), 0);
  EXPECT_EQ(std::memcmp(&before, &block, sizeof block), 0);
  EXPECT_EQ(log_.events.at(1), "SourceFile " + missing);
  EXPECT_EQ(vexl_run(nullptr), 0);
}

TEST(ExportedSymbols, TheLibraryExportsExactlyOneFunction) {
  std::string command = std::string("nm -D --defined-only ") + BRELLIN_LIB_DIR + "/libvexl.so";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> functions;
  std::vector<std::string> all;
  std::array<char, 512> line{};
  while (std::fgets(line.data(), line.size(), pipe) != nullptr) {
    char address[64], type[8], name[400];
    if (std::sscanf(line.data(), "%63s %7s %399s", address, type, name) != 3) continue;
    all.push_back(name);
    if (type[0] == 'T' || type[0] == 'W' || type[0] == 'i') functions.push_back(name);
  }
  ASSERT_EQ(::pclose(pipe), 0);
  EXPECT_THAT(functions, ElementsAre("vexl_run"));
  // Nothing else but the version node the linker adds for the script.
  for (const std::string& name : all) EXPECT_TRUE(name == "vexl_run" || name.starts_with("VEXL")) << name;
}

}  // namespace
}  // namespace vexl
