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

int usageError(const std::string& message) {
  std::fprintf(stderr, "vexl scan: %s\n\n%s", message.c_str(), kScanUsage);
  return kExitUsage;
}

}  // namespace

int scanCommand(std::span<const std::string_view> args) {
  ScanRequest request;
  std::string path;
  bool json = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kScanUsage, stdout);
      return 0;
    }
    if (arg == "--variant") {
      if (i + 1 >= args.size()) return usageError("--variant needs auto, ansi or unicode");
      std::optional<ScanRequest::Variant> variant = parseVariant(args[++i]);
      if (!variant) return usageError("unknown variant " + std::string(args[i]));
      request.variant = *variant;
    } else if (arg == "--fast") {
      request.fastRecovery = true;
    } else if (arg == "--keep-zero") {
      request.keepZeroBlocks = true;
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
  std::optional<ScanReport> report = runScanReport(path, request, &error);
  if (!report) {
    std::fprintf(stderr, "vexl scan: %s\n", error.c_str());
    return kExitNothingRecovered;
  }
  std::fputs((json ? formatScanReportJson(*report) : formatScanReportText(*report)).c_str(), stdout);
  return 0;
}

}  // namespace vexl::cli
