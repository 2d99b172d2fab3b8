#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "engine/ltp/item_report.h"

namespace vexl::cli {
namespace {

constexpr const char* kPropsUsage =
    "Usage: vexl props FILE --nid N [--variant auto|ansi|unicode] [--json]\n"
    "\n"
    "Decodes the property context of node N (decimal or 0x hexadecimal) and prints\n"
    "one property per row: tag, type and value.\n"
    "\n"
    "  --json   an array of objects with the keys tag, type, value\n";

constexpr const char* kTableUsage =
    "Usage: vexl table FILE --nid N [--variant auto|ansi|unicode] [--json]\n"
    "\n"
    "Decodes the table context of node N (decimal or 0x hexadecimal) and prints its\n"
    "column tags and rows.\n";

// The node's arguments and --nid N.
struct NodeArguments {
  FileArguments file;
  std::optional<std::uint32_t> nid;
};

NodeArguments parseNodeArguments(std::span<const std::string_view> args) {
  NodeArguments parsed;
  bool wantNid = false;
  parsed.file = parseFileArguments(args, [&](std::string_view arg) {
    if (wantNid) {
      wantNid = false;
      std::string text(arg);
      char* end = nullptr;
      unsigned long value = std::strtoul(text.c_str(), &end, 0);
      if (!text.empty() && end != nullptr && *end == '\0' && value <= 0xFFFFFFFFul)
        parsed.nid = static_cast<std::uint32_t>(value);
      else
        parsed.file.error = "--nid needs a number";
      return true;
    }
    if (arg == "--nid") return wantNid = true;
    return false;
  });
  if (parsed.file.error.empty() && wantNid) parsed.file.error = "--nid needs a number";
  if (parsed.file.error.empty() && !parsed.file.help && !parsed.nid) parsed.file.error = "no --nid given";
  return parsed;
}

template <typename Report, typename Run, typename Json, typename Text>
int runNodeCommand(std::string_view name, const char* usage, std::span<const std::string_view> args, Run run,
                   Json json, Text text) {
  NodeArguments parsed = parseNodeArguments(args);
  if (parsed.file.help) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (!parsed.file.error.empty()) return reportUsageError(name, parsed.file.error, usage);
  std::string error;
  std::optional<Report> report = run(parsed.file.path, parsed.file.variant, *parsed.nid, &error);
  if (!report) {
    std::fprintf(stderr, "vexl %.*s: %s\n", static_cast<int>(name.size()), name.data(), error.c_str());
    return kExitNothingRecovered;
  }
  std::fputs((parsed.file.json ? json(*report) : text(*report)).c_str(), stdout);
  return 0;
}

}  // namespace

int propsCommand(std::span<const std::string_view> args) {
  return runNodeCommand<PropsReport>("props", kPropsUsage, args, runPropsReport, formatPropsReportJson,
                                     formatPropsReportText);
}

int tableCommand(std::span<const std::string_view> args) {
  return runNodeCommand<TableReport>("table", kTableUsage, args, runTableReport, formatTableReportJson,
                                     formatTableReportText);
}

}  // namespace vexl::cli
