#include <cstdio>
#include <string>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "engine/ndb/scan_report.h"

namespace vexl::cli {
namespace {

constexpr const char* kScanUsage =
    "Usage: vexl scan FILE [--variant auto|ansi|unicode] [--fast] [--keep-zero] [--json]\n"
    "\n"
    "Runs the variant decision (unless --variant names one) and the whole-file scan\n"
    "over FILE and prints what the scan recorded, before the indexes are rebuilt.\n"
    "\n"
    "  --variant V   auto (default), ansi or unicode\n"
    "  --fast        fast scan: skip over the structures found\n"
    "  --keep-zero   record blocks whose content is all zero bytes\n"
    "  --json        one JSON object\n";

}  // namespace

int scanCommand(std::span<const std::string_view> args) {
  ScanRequest request;
  FileArguments parsed = parseFileArguments(args, [&request](std::string_view arg) {
    if (arg == "--fast") return request.fastRecovery = true;
    if (arg == "--keep-zero") return request.keepZeroBlocks = true;
    return false;
  });
  if (parsed.help) {
    std::fputs(kScanUsage, stdout);
    return 0;
  }
  if (!parsed.error.empty()) return reportUsageError("scan", parsed.error, kScanUsage);
  request.variant = parsed.variant;

  std::string error;
  std::optional<ScanReport> report = runScanReport(parsed.path, request, &error);
  if (!report) {
    std::fprintf(stderr, "vexl scan: %s\n", error.c_str());
    return kExitNothingRecovered;
  }
  std::fputs((parsed.json ? formatScanReportJson(*report) : formatScanReportText(*report)).c_str(), stdout);
  return 0;
}

}  // namespace vexl::cli
