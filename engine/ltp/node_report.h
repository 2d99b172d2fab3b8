// The node report behind the command line's `nodes` subcommand: scans one
// file, rebuilds the block and node indexes and lists every NID with its
// last version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/ndb/scan_report.h"

namespace vexl {

struct NodeReportRow {
  std::uint32_t nid = 0;
  std::uint64_t dataBid = 0;     // of the last version
  std::uint64_t subnodeBid = 0;  // of the last version
  std::uint32_t parentNid = 0;   // of the last version
  std::uint32_t versions = 0;    // versions left after the rebuild
  std::uint32_t children = 0;    // childNids of the last version
};

struct NodeReport {
  std::uint8_t variant = 0;  // 32 or 64
  std::vector<NodeReportRow> rows;  // in node index order
};

// Opens `path` as the engine opens a source file, decides the variant
// unless given, scans (zero blocks ignored, no fast scan) and rebuilds.
// Empty, with `error` set, when the file cannot be opened or read.
std::optional<NodeReport> runNodeReport(const std::string& path, ScanRequest::Variant variant,
                                        std::string* error = nullptr);

// A JSON array of objects with exactly the keys nid, data_bid, subnode_bid,
// parent_nid, versions, children (numbers as numbers).
std::string formatNodeReportJson(const NodeReport& report);
// One line per NID for people (hexadecimal identifiers).
std::string formatNodeReportText(const NodeReport& report);

}  // namespace vexl
