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

}  // namespace

int nodesCommand(std::span<const std::string_view> args) {
  FileArguments parsed = parseFileArguments(args);
  if (parsed.help) {
    std::fputs(kNodesUsage, stdout);
    return 0;
  }
  if (!parsed.error.empty()) return reportUsageError("nodes", parsed.error, kNodesUsage);

  std::string error;
  std::optional<NodeReport> report = runNodeReport(parsed.path, parsed.variant, &error);
  if (!report) {
    std::fprintf(stderr, "vexl nodes: %s\n", error.c_str());
    return kExitNothingRecovered;
  }
  std::fputs((parsed.json ? formatNodeReportJson(*report) : formatNodeReportText(*report)).c_str(), stdout);
  return 0;
}

}  // namespace vexl::cli
