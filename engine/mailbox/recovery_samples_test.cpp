// Whole recoveries of the shared samples through the engine's export: the
// target opens in pffinfo and readpst, and pffexport finds in it every
// folder name and every item (kind and subject) it finds in the source.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "client/TRELD.h"
#include "engine/mailbox/test_pff_export.h"
#include "engine/ndb/test_ndb_file.h"
#include "mapi/pst/test_validators.h"

namespace vexl::testing {
namespace {

namespace fs = std::filesystem;

class LogRecorder final : public client::EngineEvents {
 public:
  bool onMessage(std::int32_t code, void* data) override {
    if (code == LogLine && data != nullptr) lines.emplace_back(static_cast<const char*>(data));
    if (code == ErrorText && data != nullptr) errors.emplace_back(static_cast<const char*>(data));
    return false;
  }
  std::size_t startingWith(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& l : lines) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  std::vector<std::string> lines, errors;
};

std::string targetFor(const std::string& source, const std::string& tag) {
  return (fs::temp_directory_path() /
          ("recovered-" + std::to_string(::getpid()) + "-" + tag + "-" + fs::path(source).stem().string() + ".pst"))
      .string();
}

// Recovers `source` into a new file of `dstFormat` and checks it against
// the source's export; `walkOnly` leaves the lost-and-found passes out.
void recoverAndCompare(const std::string& source, std::int32_t dstFormat, LogRecorder* log = nullptr,
                       bool cleanExport = false, bool walkOnly = false) {
  SCOPED_TRACE(source + (dstFormat == 1 ? " (ANSI output)" : " (Unicode output)"));
  EngineOptions options = client::defaultEngineOptions();
  options.DstFormat = dstFormat;
  if (walkOnly)
    options.Level1Recovery = options.Level2Recovery = options.Level3Recovery = options.Level4Recovery =
        options.Level5Recovery = 0;
  const std::string target = targetFor(source, dstFormat == 1 ? "ansi" : "unicode");
  fs::remove(target);
  LogRecorder local;
  LogRecorder& events = log != nullptr ? *log : local;
  EXPECT_EQ(client::runRecovery(source, options, target, &events), 1);
  EXPECT_TRUE(events.errors.empty()) << events.errors.front();
  ASSERT_TRUE(fs::exists(target));

  EXPECT_EQ(pst::test::runCommand("pffinfo '" + target + "'").status, 0);
  if (cleanExport) {
    EXPECT_EQ(pst::test::pffexportProblems(target), "");
  }
  const std::string readpstDir = pst::test::makeTempDir("recovered-readpst");
  const auto readpst = pst::test::runCommand("readpst -D -o '" + readpstDir + "' '" + target + "'");
  EXPECT_EQ(readpst.status, 0) << readpst.output;
  fs::remove_all(readpstDir);

  const ExportedMailbox expected = exportWithPffexport(source);
  const ExportedMailbox actual = exportWithPffexport(target);
  ASSERT_TRUE(expected.ran);
  ASSERT_TRUE(actual.ran);
  for (const std::string& name : expected.folders) EXPECT_TRUE(actual.folders.count(name)) << "folder " << name;
  for (auto it = expected.items.begin(); it != expected.items.end(); it = expected.items.upper_bound(*it))
    EXPECT_GE(actual.items.count(*it), expected.items.count(*it)) << "item " << *it;
  EXPECT_GE(actual.items.size(), expected.items.size());
  fs::remove(target);
}

bool haveValidators() {
  return pst::test::haveTool("pffexport") && pst::test::haveTool("pffinfo") && pst::test::haveTool("readpst");
}

TEST(RecoverySamples, EverySampleIntoUnicode) {
  if (!haveValidators()) GTEST_SKIP() << "pffexport, pffinfo or readpst missing";
  const auto samples = sampleFiles(BRELLIN_SAMPLES_DIR);
  ASSERT_FALSE(samples.empty());
  for (const std::string& path : samples) recoverAndCompare(path, 2);
}

TEST(RecoverySamples, UnicodeSourcesIntoAnsi) {
  if (!haveValidators()) GTEST_SKIP() << "pffexport, pffinfo or readpst missing";
  for (const char* name : {"unicode-18-items.ost", "exchange-2010.ost", "unicode-mailing-list.pst"})
    recoverAndCompare((fs::path(BRELLIN_SAMPLES_DIR) / name).string(), 1);
}

// pffexport -m all, its scan of free space for lost items included, reports
// no failure for the recovery of Outlook's empty store in either format.
TEST(RecoverySamples, EmptyStoreExportsWithoutFailures) {
  if (!haveValidators()) GTEST_SKIP() << "pffexport, pffinfo or readpst missing";
  const std::string sample = (fs::path(BRELLIN_SAMPLES_DIR) / "outlook-empty-unicode.pst").string();
  for (std::int32_t format : {1, 2}) recoverAndCompare(sample, format, nullptr, true);
}

TEST(RecoverySamples, LogLinesOfTheWalk) {
  if (!haveValidators()) GTEST_SKIP() << "pffexport, pffinfo or readpst missing";
  LogRecorder log;
  recoverAndCompare((fs::path(BRELLIN_SAMPLES_DIR) / "unicode-18-items.ost").string(), 2, &log, false, true);
  EXPECT_EQ(log.startingWith("Recover message '"), 18u);
  EXPECT_GE(log.startingWith("Recover folder 'myInbox' ..."), 1u);
  // A folder's line follows the lines of its contents.
  std::size_t lastMessage = 0, myInbox = 0;
  for (std::size_t i = 0; i < log.lines.size(); ++i) {
    if (log.lines[i].rfind("Recover message '", 0) == 0) lastMessage = i;
    if (log.lines[i] == "Recover folder 'myInbox' ...") myInbox = i;
  }
  EXPECT_GT(myInbox, lastMessage);
}

}  // namespace
}  // namespace vexl::testing
