// The engine's numbered string resources and the two ways they are
// formatted: printf-style (%s, %lu) and %1 replacement.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace vexl {

enum StringId : std::uint32_t {
  kStrAnalyzing = 7,
  kStrErrorOpenSource = 10,
  kStrErrorGeneral = 11,
  kStrErrorUnknown = 12,
  kStrPersonalFolder = 13,
  kStrErrorInitialization = 14,
  kStrErrorCreateTarget = 15,
  kStrDefaultMessageClass = 16,
  kStrGroupFolder = 19,
  kStrCarrierSubject = 20,
  kStrPlaceholderFolder = 23,
  kStrRecoverFolder = 24,
  kStrRecoverMessage = 25,
  kStrRecoverAttachment = 26,
  kStrOfflineFolder = 27,
  kStrShareViolation = 28,
  kStrWholeRecovery = 29,
  kStrMessageRecovery = 30,
  kStrSplitFile = 33,
  kStrRecoverEmbedded = 34,
  kStrRecoverOleObject = 37,
};

// The text of a resource; the empty string for an unknown id.
const char* loadString(std::uint32_t id);

// Fallback when an exception has no description.
inline constexpr const char* kNoErrorMessage = "No error message is available.";

// One printf argument: a zero-terminated ANSI string or an unsigned 32-bit number.
using FormatArg = std::variant<std::string_view, std::uint32_t>;

// printf formatting of our resources: %s takes the next string, %lu (or %u)
// the next number, %% is a percent sign. A conversion with no matching
// argument is left as written; the result has no length limit.
std::string formatPrintf(std::string_view format, std::initializer_list<FormatArg> args);

// Replaces every "%1" in `format` by `description`.
std::string formatPercentOne(std::string_view format, std::string_view description);

}  // namespace vexl
