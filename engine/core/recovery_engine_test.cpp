#include "engine/core/recovery_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/test_event_log.h"

namespace vexl {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using test_support::EventLog;

// A scan result chosen by the test.
class FakeNdb final : public NdbFormat {
 public:
  FakeNdb(EngineContext& engine, CFile64Ex& source, std::uint8_t variant, std::uint32_t found,
          std::vector<std::string>& calls)
      : NdbFormat(engine, source, variant == 32 ? kAnsiLayout : kUnicodeLayout), variant_(variant), found_(found), calls_(calls) {}
  std::uint32_t scanFile(std::uint8_t start, std::uint32_t divisor) override {
    calls_.push_back("scan " + std::to_string(variant_) + " " + std::to_string(start) + "/" +
                     std::to_string(divisor));
    return found_;
  }
  std::uint32_t collectDataTreeRoots() override {
    calls_.push_back("dataRoots");
    return 0;
  }
  std::uint32_t collectSubnodeTreeRoots() override {
    calls_.push_back("subnodeRoots");
    return 0;
  }

 private:
  std::uint8_t variant_;
  std::uint32_t found_;
  std::vector<std::string>& calls_;
};

class FakeStore final : public TargetStore {
 public:
  FakeStore(bool initOk, std::deque<bool> createResults, std::vector<std::string>& calls)
      : initOk_(initOk), createResults_(std::move(createResults)), calls_(calls) {}
  bool initialize() override {
    calls_.push_back("initialize");
    return initOk_;
  }
  bool create(const std::string& path, std::uint32_t encryption, const std::string& displayName,
              const std::string& password, PstFormat format) override {
    char line[64];
    std::snprintf(line, sizeof line, " %08X '%s' %d", encryption, password.c_str(), static_cast<int>(format));
    calls_.push_back("create " + path + " [" + displayName + "]" + line);
    bool ok = createResults_.empty() ? true : createResults_.front();
    if (!createResults_.empty()) createResults_.pop_front();
    return ok;
  }
  void close() override { calls_.push_back("close"); }
  void shutdown() override { calls_.push_back("shutdown"); }

 private:
  bool initOk_;
  std::deque<bool> createResults_;
  std::vector<std::string>& calls_;
};

// Each target file recovers `perFile[i]` items in the root walk and asks for
// a split while files remain in the list.
class FakeSteps final : public MailboxReconstruction {
 public:
  FakeSteps(EngineContext& engine, std::vector<std::int32_t> perFile, std::vector<std::string>& calls,
            std::function<void()> onWalk)
      : engine_(engine), perFile_(std::move(perFile)), calls_(calls), onWalk_(std::move(onWalk)) {}
  void buildNamedPropMap() override { calls_.push_back("names"); }
  void copyStoreProperties() override { calls_.push_back("store"); }
  std::int32_t recoverRootFolder() override {
    calls_.push_back("walk");
    if (onWalk_) onWalk_();
    std::int32_t n = file_ < perFile_.size() ? perFile_[file_] : 0;
    ++file_;
    engine_.splitPending = file_ < perFile_.size();
    return n;
  }
  std::int32_t runLostAndFoundPass(int level) override {
    calls_.push_back("pass " + std::to_string(level));
    return 0;
  }
  void resetForNextFile() override { calls_.push_back("reset"); }

 private:
  EngineContext& engine_;
  std::vector<std::int32_t> perFile_;
  std::vector<std::string>& calls_;
  std::function<void()> onWalk_;
  std::size_t file_ = 0;
};

class RecoveryEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("vexl-driver-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    source_ = (dir_ / "mail.ost").string();
    std::ofstream(source_) << std::string(1024, 'x');
    options_.SrcFormat = 2;
    options_.DstFormat = 2;
    options_.SourceKind = 1;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  EngineServices services() {
    EngineServices s;
    s.probeOutlookVersion = [this] { return outlookVersion_; };
    s.makeNdbFormat = [this](std::uint8_t variant, EngineContext& engine, CFile64Ex& file) {
      return std::make_unique<FakeNdb>(engine, file, variant, found_, calls_);
    };
    s.decideVariant = [this](EngineContext&, CFile64Ex&, NdbFormat&, NdbFormat&, std::uint8_t start,
                             std::uint32_t divisor) {
      calls_.push_back("decide " + std::to_string(start) + "/" + std::to_string(divisor));
      return decision_;
    };
    s.makeTargetStore = [this] { return std::make_unique<FakeStore>(initOk_, createResults_, calls_); };
    s.makeReconstruction = [this](EngineContext& engine, NdbFormat&, TargetStore&) {
      return std::make_unique<FakeSteps>(engine, perFile_, calls_, onWalk_);
    };
    return s;
  }

  std::int32_t run(const std::string& target = "/out/mail.pst") {
    RecoveryEngine engine(&EventLog::callback, &log_, services());
    return engine.run(source_.c_str(), &options_, 0, target.c_str());
  }

  std::filesystem::path dir_;
  std::string source_;
  EngineOptions options_{};
  EventLog log_;
  std::vector<std::string> calls_;
  int outlookVersion_ = 9;
  std::uint8_t decision_ = 64;
  std::uint32_t found_ = 5;
  bool initOk_ = true;
  std::deque<bool> createResults_;
  std::vector<std::int32_t> perFile_{3};
  std::function<void()> onWalk_;
};

TEST_F(RecoveryEngineTest, MapiStartupFailureClosesTheWindowAndRecoversNothing) {
  initOk_ = false;
  EXPECT_EQ(run(), 0);
  std::string error4 = loadString(kStrErrorInitialization);
  EXPECT_THAT(log_.events, ElementsAre("Progress 0", "SourceFile " + source_, "LogLine Analyzing the source file ...",
                                       "ErrorText " + error4, "ShowMessage " + error4, "CloseMainWindow",
                                       "RecoveredCount 0", "Progress 100"));
  EXPECT_THAT(calls_, ElementsAre("initialize"));
}

TEST_F(RecoveryEngineTest, OneTargetFileRunsEveryStepInOrder) {
  options_.Level1Recovery = -1;
  options_.Level3Recovery = 1;
  options_.Level5Recovery = -1;
  EXPECT_EQ(run(), 1);
  EXPECT_THAT(calls_, ElementsAre("initialize", "scan 64 17/2", "dataRoots", "subnodeRoots",
                                  "create /out/mail.pst [Recovered Offline Folder] 80000000 '' 64", "names",
                                  "store", "walk", "pass 1", "pass 3", "pass 5", "shutdown"));
  EXPECT_THAT(log_.events, ElementsAre("Progress 0", "SourceFile " + source_, "LogLine Analyzing the source file ...",
                                       "Progress 70", "QueryAbort -> 0", "RecoveredCount 3", "Progress 100"));
}

TEST_F(RecoveryEngineTest, NothingFoundSkipsTheTargetFiles) {
  found_ = 0;
  EXPECT_EQ(run(), 0);
  EXPECT_THAT(calls_, ElementsAre("initialize", "scan 64 17/2", "shutdown"));
  EXPECT_THAT(log_.events, ElementsAre("Progress 0", "SourceFile " + source_, "LogLine Analyzing the source file ...",
                                       "RecoveredCount 0", "Progress 100"));
}

TEST_F(RecoveryEngineTest, SourceFormatPicksTheVariant) {
  struct Case {
    std::uint8_t srcFormat;
    std::uint8_t decision;
    const char* expected;
  };
  for (Case c : {Case{0, 32, "decide 0/6|scan 32 17/2"}, Case{0, 64, "decide 0/6|scan 64 17/2"},
                 Case{0, 7, "decide 0/6|scan 64 17/2"}, Case{1, 64, "scan 32 17/2"}, Case{2, 32, "scan 64 17/2"},
                 Case{255, 64, "scan 32 17/2"}}) {
    calls_.clear();
    found_ = 0;
    options_.SrcFormat = c.srcFormat;
    decision_ = c.decision;
    run();
    std::string joined;
    for (std::size_t i = 1; i + 1 < calls_.size(); ++i) {
      if (!joined.empty()) joined += '|';
      joined += calls_[i];
    }
    EXPECT_EQ(joined, c.expected) << "SrcFormat " << int(c.srcFormat);
  }
}

TEST_F(RecoveryEngineTest, TargetFormatFollowsTheOptionOrTheOutlookVersion) {
  struct Case {
    std::uint8_t dstFormat;
    int version;
    int expected;
  };
  for (Case c : {Case{0, 10, 32}, Case{0, 11, 64}, Case{0, 12, 64}, Case{0, 9, 32}, Case{1, 12, 32},
                 Case{2, 9, 64}, Case{255, 12, 32}}) {
    calls_.clear();
    options_.DstFormat = c.dstFormat;
    outlookVersion_ = c.version;
    run();
    ASSERT_GE(calls_.size(), 5u);
    EXPECT_TRUE(calls_[4].ends_with(" " + std::to_string(c.expected))) << calls_[4];
  }
}

TEST_F(RecoveryEngineTest, StoreNameFollowsTheSourceKind) {
  for (auto [kind, name] : {std::pair{0, "Recovered Personal Folder"}, std::pair{1, "Recovered Offline Folder"},
                            std::pair{2, "Recovered Personal Folder"}, std::pair{3, "Recovered Offline Folder"}}) {
    calls_.clear();
    options_.SourceKind = static_cast<std::uint8_t>(kind);
    run();
    EXPECT_NE(calls_.at(4).find(std::string("[") + name + "]"), std::string::npos) << calls_.at(4);
  }
}

TEST_F(RecoveryEngineTest, StopBeforeTheFirstTargetFileWritesNothing) {
  log_.abortAnswer = [](int) { return 1; };
  EXPECT_EQ(run(), 0);
  EXPECT_THAT(calls_, ElementsAre("initialize", "scan 64 17/2", "dataRoots", "subnodeRoots", "shutdown"));
  EXPECT_EQ(log_.events.back(), "Progress 100");
  EXPECT_EQ(log_.events[log_.events.size() - 2], "RecoveredCount 0");
}

TEST_F(RecoveryEngineTest, SplitFilesContinueTheCountAndNameFromTheFirstTarget) {
  perFile_ = {3, 2, 4};
  EXPECT_EQ(run("/out/mail.pst"), 1);
  EXPECT_THAT(calls_, ElementsAreArray(std::vector<std::string>{
                          "initialize", "scan 64 17/2", "dataRoots", "subnodeRoots",
                          "create /out/mail.pst [Recovered Offline Folder] 80000000 '' 64", "names", "store", "walk",
                          "reset", "close", "create /out/mail_1.pst [Recovered Offline Folder] 80000000 '' 64",
                          "names", "store", "walk", "reset", "close",
                          "create /out/mail_2.pst [Recovered Offline Folder] 80000000 '' 64", "names", "store", "walk",
                          "shutdown"}));
  std::vector<std::string> tail(log_.events.begin() + 4, log_.events.end());
  EXPECT_THAT(tail, ElementsAre("QueryAbort -> 0", "QueryAbort -> 0", "LogLine -",
                                "LogLine Current file size exceeds the limit. Create split file '/out/mail_1.pst'.",
                                "QueryAbort -> 0", "LogLine -",
                                "LogLine Current file size exceeds the limit. Create split file '/out/mail_2.pst'.",
                                "RecoveredCount 9", "Progress 100"));
}

TEST_F(RecoveryEngineTest, FailureToCreateASplitFileKeepsWhatTheFirstFileHolds) {
  perFile_ = {3, 2};
  createResults_ = {true, false};
  EXPECT_EQ(run(), 1);
  std::string error5 = loadString(kStrErrorCreateTarget);
  std::vector<std::string> tail(log_.events.end() - 4, log_.events.end());
  EXPECT_THAT(tail, ElementsAre("ErrorText " + error5, "ShowMessage " + error5, "RecoveredCount 3", "Progress 100"));
}

TEST_F(RecoveryEngineTest, ATargetThatIsTheSourceUnderAnyNameIsNeverCreated) {
  const std::string symlink = (dir_ / "through-symlink.pst").string();
  const std::string hardLink = (dir_ / "through-hard-link.pst").string();
  std::filesystem::create_symlink(source_, symlink);
  std::filesystem::create_hard_link(source_, hardLink);
  const std::string error = loadString(kStrErrorCreateTarget);
  for (const std::string& target : {source_, symlink, hardLink}) {
    SCOPED_TRACE(target);
    calls_.clear();
    log_.events.clear();
    EXPECT_EQ(run(target), 0);
    EXPECT_THAT(calls_, ElementsAre("initialize", "scan 64 17/2", "dataRoots", "subnodeRoots", "shutdown"));
    EXPECT_THAT(log_.events, testing::Contains("ErrorText " + error));
  }
  // A split file that would be the source ends the run there, keeping the
  // first file's items.
  const std::string first = (dir_ / "out.pst").string();
  std::filesystem::create_hard_link(source_, RecoveryEngine::splitFileName(first, 1));
  perFile_ = {3, 4};
  calls_.clear();
  EXPECT_EQ(run(first), 1);
  EXPECT_EQ(std::count_if(calls_.begin(), calls_.end(), [](const std::string& c) { return c.rfind("create", 0) == 0; }),
            1);
  EXPECT_EQ(std::filesystem::file_size(source_), 1024u);
}

TEST_F(RecoveryEngineTest, StopBetweenFilesCreatesNoFurtherFile) {
  perFile_ = {3, 2};
  log_.abortAnswer = [](int n) { return n >= 2 ? 1 : 0; };
  EXPECT_EQ(run(), 1);
  int creates = 0;
  for (const std::string& c : calls_) creates += c.starts_with("create ");
  EXPECT_EQ(creates, 1);
  EXPECT_EQ(log_.events[log_.events.size() - 2], "RecoveredCount 3");
}

class DescribedFailure final : public EngineException {
 public:
  bool description(std::string& out) const override {
    out = "the disk went away";
    return true;
  }
};

TEST_F(RecoveryEngineTest, ExceptionsEndTheRunWithTheirReportAndTheCountSoFar) {
  perFile_ = {3, 2};
  int walks = 0;
  onWalk_ = [&walks] {
    if (++walks == 2) throw DescribedFailure();
  };
  EXPECT_EQ(run(), 1);
  std::vector<std::string> tail(log_.events.end() - 3, log_.events.end());
  EXPECT_THAT(tail, ElementsAre("ErrorText Error 2: General error. the disk went away", "RecoveredCount 3",
                                "Progress 100"));

  log_.events.clear();
  walks = 0;
  onWalk_ = [] { throw 42; };
  EXPECT_EQ(run(), 0);
  tail.assign(log_.events.end() - 3, log_.events.end());
  EXPECT_THAT(tail, ElementsAre("ErrorText Error 3: Unknown error in whole recovery process.", "RecoveredCount 0",
                                "Progress 100"));
}

TEST_F(RecoveryEngineTest, NullCallbackRunsToTheEndSilently) {
  RecoveryEngine engine(nullptr, nullptr, services());
  EXPECT_EQ(engine.run(source_.c_str(), &options_, 0, "/out/mail.pst"), 1);
  EXPECT_EQ(calls_.back(), "shutdown");
}

TEST(SplitFileName, NumbersComeFromTheFirstTargetPath) {
  EXPECT_EQ(RecoveryEngine::splitFileName("D:\\Mail\\out.pst", 1), "D:\\Mail\\out_1.pst");
  EXPECT_EQ(RecoveryEngine::splitFileName("/home/u/out.pst", 12), "/home/u/out_12.pst");
  EXPECT_EQ(RecoveryEngine::splitFileName("/home/u.v/out", 2), "/home/u.v/out_2");
  EXPECT_EQ(RecoveryEngine::splitFileName("D:\\a.b\\out", 3), "D:\\a.b\\out_3");
  EXPECT_EQ(RecoveryEngine::splitFileName("C:out", 1), "C:out_1");
  EXPECT_EQ(RecoveryEngine::splitFileName("out.tar.pst", 1), "out.tar_1.pst");
}

}  // namespace
}  // namespace vexl
