#include "engine/core/strings.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/core/engine_context.h"

namespace vexl {
namespace {

TEST(Strings, ResourcesKeepTheirExactTexts) {
  EXPECT_STREQ(loadString(7), "Analyzing the source file ...");
  EXPECT_STREQ(loadString(10), "Error 1: Cannot open the file to be repaired. %1");
  EXPECT_STREQ(loadString(28),
               "Share violation when opening the source file '%s'.\n"
               "Please close any other applications accessing the file and try again.");
  EXPECT_STREQ(loadString(33), "Current file size exceeds the limit. Create split file '%s'.");
  EXPECT_STREQ(loadString(37), "Recover OLE 2 object ...");
  EXPECT_STREQ(loadString(8), "");
}

TEST(Strings, PrintfTakesStringsAndNumbersInOrder) {
  EXPECT_EQ(formatPrintf(loadString(19), {std::uint32_t{7}}), "Recovered_Group7");
  EXPECT_EQ(formatPrintf(loadString(25), {""}), "Recover message '' ...");
  EXPECT_EQ(formatPrintf("%s_%lu%s", {"D:\\Mail\\out", std::uint32_t{4294967295u}, ".pst"}),
            "D:\\Mail\\out_4294967295.pst");
  // A percent sign inside an argument is text, not a conversion.
  EXPECT_EQ(formatPrintf(loadString(24), {"100%s sure"}), "Recover folder '100%s sure' ...");
  EXPECT_EQ(formatPrintf("%u%% completed", {std::uint32_t{42}}), "42% completed");
  // Conversions without an argument stay as written rather than reading garbage.
  EXPECT_EQ(formatPrintf("%s and %lu", {}), "%s and %lu");
}

TEST(Strings, PercentOneReplacesEveryOccurrence) {
  EXPECT_EQ(formatPercentOne("a %1 b %1", "x"), "a x b x");
  EXPECT_EQ(formatPercentOne("%2 %", "x"), "%2 %");
}

class FixedDescription final : public EngineException {
 public:
  explicit FixedDescription(std::string text, bool has = true) : text_(std::move(text)), has_(has) {}
  bool description(std::string& out) const override {
    out = text_;
    return has_;
  }

 private:
  std::string text_;
  bool has_;
};

TEST(Strings, DescribeErrorFallsBackAndCutsLongDescriptions) {
  FixedDescription none("", false);
  EXPECT_EQ(EngineContext::describeError(10, &none),
            "Error 1: Cannot open the file to be repaired. No error message is available.");
  EXPECT_EQ(EngineContext::describeError(11, nullptr), "Error 2: General error. No error message is available.");

  FixedDescription longText(std::string(5000, 'x'));
  std::string described = EngineContext::describeError(11, &longText);
  EXPECT_EQ(described, "Error 2: General error. " + std::string(4095, 'x'));
}

}  // namespace
}  // namespace vexl
