// Argument parsing shared by the subcommands that look at one file.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/ndb/scan_report.h"

namespace vexl::cli {

// "auto", "ansi" or "unicode"; empty for anything else.
std::optional<ScanRequest::Variant> parseVariant(std::string_view text);

// FILE [--variant auto|ansi|unicode] [--json] [-h|--help], plus the flags a
// command adds: `extraFlag` answers true for each argument it takes.
struct FileArguments {
  std::string path;
  ScanRequest::Variant variant = ScanRequest::Variant::Auto;
  bool json = false;
  bool help = false;
  std::string error;  // a usage error, empty when the arguments are fine
};

FileArguments parseFileArguments(std::span<const std::string_view> args,
                                 const std::function<bool(std::string_view)>& extraFlag = {});

// Prints the usage error with the command's usage text; the usage exit status.
int reportUsageError(std::string_view command, const std::string& message, const char* usage);

}  // namespace vexl::cli
