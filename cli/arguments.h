// Argument parsing shared by the subcommands.
#pragma once

#include <optional>
#include <string_view>

#include "engine/ndb/scan_report.h"

namespace vexl::cli {

// "auto", "ansi" or "unicode"; empty for anything else.
inline std::optional<ScanRequest::Variant> parseVariant(std::string_view text) {
  if (text == "auto") return ScanRequest::Variant::Auto;
  if (text == "ansi") return ScanRequest::Variant::Ansi;
  if (text == "unicode") return ScanRequest::Variant::Unicode;
  return std::nullopt;
}

}  // namespace vexl::cli
