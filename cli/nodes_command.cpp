#include <cstdio>
#include <string>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "engine/ltp/node_report.h"

namespace vexl::cli {
namespace {

constexpr const char* kNodesUsage =
    "Usage: vexl nodes FILE [--variant auto|ansi|unicode] [--json]\n"
    "\n"
    "Scans FILE, rebuilds its block and node indexes and lists one row per NID:\n"
    "its last version's data BID, subnode BID and parent NID, the number of\n"
    "versions and the number of children.\n"
    "\n"
    "  --variant V   auto (default), ansi or unicode\n"
    "  --json        an array of objects with the keys nid, data_bid, subnode_bid,\n"
    "                parent_nid, versions, children\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "vexl nodes: %s\n\n%s", message.c_str(), kNodesUsage);
  return kExitUsage;
}

}  // namespace

int nodesCommand(std::span<const std::string_view> args) {
  ScanRequest::Variant variant = ScanRequest::Variant::Auto;
  std::string path;
  bool json = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kNodesUsage, stdout);
      return 0;
    }
    if (arg == "--variant") {
      if (i + 1 >= args.size()) return usageError("--variant needs auto, ansi or unicode");
      std::optional<ScanRequest::Variant> parsed = parseVariant(args[++i]);
      if (!parsed) return usageError("unknown variant " + std::string(args[i]));
      variant = *parsed;
    } else if (arg == "--json") {
      json = true;
    } else if (arg.starts_with("-") && arg.size() > 1) {
      return usageError("unknown option " + std::string(arg));
    } else if (path.empty()) {
      path = arg;
    } else {
      return usageError("more than one file given");
    }
  }
  if (path.empty()) return usageError("no file given");

  std::string error;
  std::optional<NodeReport> report = runNodeReport(path, variant, &error);
  if (!report) {
    std::fprintf(stderr, "vexl nodes: %s\n", error.c_str());
    return kExitNothingRecovered;
  }
  std::fputs((json ? formatNodeReportJson(*report) : formatNodeReportText(*report)).c_str(), stdout);
  return 0;
}

}  // namespace vexl::cli
