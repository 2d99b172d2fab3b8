#include "cli/arguments.h"

#include <cstdio>

#include "cli/cli.h"

namespace vexl::cli {

std::optional<ScanRequest::Variant> parseVariant(std::string_view text) {
  if (text == "auto") return ScanRequest::Variant::Auto;
  if (text == "ansi") return ScanRequest::Variant::Ansi;
  if (text == "unicode") return ScanRequest::Variant::Unicode;
  return std::nullopt;
}

FileArguments parseFileArguments(std::span<const std::string_view> args,
                                 const std::function<bool(std::string_view)>& extraFlag) {
  FileArguments parsed;
  for (std::size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
    std::string_view arg = args[i];
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      return parsed;
    }
    if (arg == "--variant") {
      if (i + 1 >= args.size()) {
        parsed.error = "--variant needs auto, ansi or unicode";
      } else if (std::optional<ScanRequest::Variant> variant = parseVariant(args[++i])) {
        parsed.variant = *variant;
      } else {
        parsed.error = "unknown variant " + std::string(args[i]);
      }
    } else if (arg == "--json") {
      parsed.json = true;
    } else if (extraFlag && extraFlag(arg)) {
      continue;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      parsed.error = "unknown option " + std::string(arg);
    } else if (parsed.path.empty()) {
      parsed.path = arg;
    } else {
      parsed.error = "more than one file given";
    }
  }
  if (parsed.error.empty() && parsed.path.empty()) parsed.error = "no file given";
  return parsed;
}

int reportUsageError(std::string_view command, const std::string& message, const char* usage) {
  std::fprintf(stderr, "vexl %.*s: %s\n\n%s", static_cast<int>(command.size()), command.data(), message.c_str(),
               usage);
  return kExitUsage;
}

}  // namespace vexl::cli
