// The scan report behind the command line's `scan` subcommand: runs the
// variant decision (unless the variant is given) and the whole-file scan on
// one file and sums up what the scan recorded, before any index rebuild.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vexl {

struct ScanRequest {
  enum class Variant { Auto, Ansi, Unicode };
  Variant variant = Variant::Auto;
  bool fastRecovery = false;  // --fast
  bool keepZeroBlocks = false;  // --keep-zero (by default zero blocks are ignored)
};

struct ScanReport {
  bool decided = false;  // the decision ran (Variant::Auto)
  std::uint64_t ansiPages = 0;
  std::uint64_t unicodePages = 0;
  bool unicodeHeader = false;
  std::uint8_t decision = 0;  // 32 or 64 when decided
  std::uint8_t variant = 0;   // 32 or 64, the variant scanned with
  std::uint64_t blocks = 0;   // block versions recorded
  std::uint64_t zeroBlocks = 0;
  std::uint64_t distinctBids = 0;
  std::uint64_t bbtPages = 0;
  std::uint64_t nbtPages = 0;
  std::uint64_t nbtLeafPages = 0;
  std::int64_t headerOffset = -1;  // the kept HEADER, -1 when none
  double seconds = 0;              // decision and scan together
};

// Opens `path` as the engine opens a source file and scans it. Empty, with
// `error` set, when the file cannot be opened or read.
std::optional<ScanReport> runScanReport(const std::string& path, const ScanRequest& request,
                                        std::string* error = nullptr);

// One JSON object with the keys ansi_pages, unicode_pages, unicode_header,
// decision, variant, blocks, zero_blocks, distinct_bids, bbt_pages,
// nbt_pages, nbt_leaf_pages, header_offset, seconds. The decision's three
// values and decision are null when the variant was given.
std::string formatScanReportJson(const ScanReport& report);
// The same as lines of text for people.
std::string formatScanReportText(const ScanReport& report);

}  // namespace vexl
