#include "engine/ndb/scan_report.h"

#include <chrono>
#include <cstdio>

#include "engine/core/engine_context.h"
#include "engine/file/file64_ex.h"
#include "engine/ndb/ndb_format.h"

namespace vexl {

namespace {

class ReportEngine final : public EngineContext {
 public:
  explicit ReportEngine(const ScanRequest& request) : EngineContext(nullptr, nullptr) {
    options_.FastRecovery = request.fastRecovery ? -1 : 0;
    options_.IgnoreZeroBlock = request.keepZeroBlocks ? 0 : -1;
  }
};

std::string number(std::uint64_t v) { return std::to_string(v); }

}  // namespace

std::optional<ScanReport> runScanReport(const std::string& path, const ScanRequest& request, std::string* error) {
  try {
    CFile64Ex file(65536);
    FileError openError;
    if (!file.open(path, kSourceOpenMode, &openError)) {
      if (error != nullptr) *error = "cannot open " + path;
      return std::nullopt;
    }
    ReportEngine engine(request);
    AnsiNdbFormat ansi(engine, file);
    UnicodeNdbFormat unicode(engine, file);
    ScanReport report;
    const auto start = std::chrono::steady_clock::now();
    std::uint8_t variant = request.variant == ScanRequest::Variant::Unicode ? 64 : 32;
    if (request.variant == ScanRequest::Variant::Auto) {
      const VariantCounts counts = countVariants(engine, file, 0, 6);
      report.decided = true;
      report.ansiPages = counts.ansiPages;
      report.unicodePages = counts.unicodePages;
      report.unicodeHeader = counts.unicodeHeader;
      report.decision = counts.decision();
      variant = report.decision;
    }
    NdbFormat& format = variant == 64 ? static_cast<NdbFormat&>(unicode) : static_cast<NdbFormat&>(ansi);
    format.scanOnly(17, 2);
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report.variant = variant;
    const ScanResults& results = format.scanResults();
    report.distinctBids = results.blocks.keyCount();
    for (const auto& list : results.blocks.lists()) {
      report.blocks += list.versions.size();
      for (const auto& e : list.versions) report.zeroBlocks += e.zero;
    }
    for (std::size_t level = 0; level < results.bbtPages.size(); ++level) {
      report.bbtPages += results.bbtPages[level].versionCount();
      report.nbtPages += results.nbtPages[level].versionCount();
    }
    report.nbtLeafPages = results.nbtPages[0].versionCount();
    report.headerOffset = results.header ? static_cast<std::int64_t>(results.header->offset) : -1;
    return report;
  } catch (const FileError&) {
    if (error != nullptr) *error = "cannot read " + path;
    return std::nullopt;
  }
}

std::string formatScanReportJson(const ScanReport& r) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  std::string out = "{";
  out += "\"ansi_pages\": " + (r.decided ? number(r.ansiPages) : "null");
  out += ", \"unicode_pages\": " + (r.decided ? number(r.unicodePages) : "null");
  out += ", \"unicode_header\": " + std::string(r.decided ? (r.unicodeHeader ? "true" : "false") : "null");
  out += ", \"decision\": " + (r.decided ? number(r.decision) : "null");
  out += ", \"variant\": " + number(r.variant);
  out += ", \"blocks\": " + number(r.blocks);
  out += ", \"zero_blocks\": " + number(r.zeroBlocks);
  out += ", \"distinct_bids\": " + number(r.distinctBids);
  out += ", \"bbt_pages\": " + number(r.bbtPages);
  out += ", \"nbt_pages\": " + number(r.nbtPages);
  out += ", \"nbt_leaf_pages\": " + number(r.nbtLeafPages);
  out += ", \"header_offset\": " + std::to_string(r.headerOffset);
  out += ", \"seconds\": " + std::string(seconds);
  out += "}\n";
  return out;
}

std::string formatScanReportText(const ScanReport& r) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  std::string out;
  if (r.decided) {
    out += "decision:        " + number(r.decision) + " (" + number(r.ansiPages) + " ANSI pages, " +
           number(r.unicodePages) + " Unicode pages, Unicode HEADER " + (r.unicodeHeader ? "found" : "not found") +
           ")\n";
  } else {
    out += "decision:        not run (variant given)\n";
  }
  out += "variant:         " + std::string(r.variant == 64 ? "Unicode" : "ANSI") + "\n";
  out += "blocks:          " + number(r.blocks) + " versions, " + number(r.distinctBids) + " distinct BIDs, " +
         number(r.zeroBlocks) + " zero blocks\n";
  out += "B-tree pages:    " + number(r.bbtPages) + " BBT, " + number(r.nbtPages) + " NBT (" + number(r.nbtLeafPages) +
         " NBT leaf)\n";
  out += "HEADER offset:   " + std::to_string(r.headerOffset) + "\n";
  out += "seconds:         " + std::string(seconds) + "\n";
  return out;
}

}  // namespace vexl
