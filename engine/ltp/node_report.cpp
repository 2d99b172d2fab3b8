#include "engine/ltp/node_report.h"

#include <cinttypes>
#include <cstdio>

#include "engine/core/engine_context.h"
#include "engine/file/file64_ex.h"
#include "engine/ndb/ndb_format.h"

namespace vexl {

namespace {

class ReportEngine final : public EngineContext {
 public:
  ReportEngine() : EngineContext(nullptr, nullptr) { options_.IgnoreZeroBlock = -1; }
};

}  // namespace

std::optional<NodeReport> runNodeReport(const std::string& path, ScanRequest::Variant variant, std::string* error) {
  try {
    CFile64Ex file(65536);
    if (!file.open(path, kSourceOpenMode, nullptr)) {
      if (error != nullptr) *error = "cannot open " + path;
      return std::nullopt;
    }
    ReportEngine engine;
    AnsiNdbFormat ansi(engine, file);
    UnicodeNdbFormat unicode(engine, file);
    std::uint8_t chosen = variant == ScanRequest::Variant::Unicode ? 64 : 32;
    if (variant == ScanRequest::Variant::Auto) chosen = countVariants(engine, file, 0, 6).decision();
    NdbFormat& format = chosen == 64 ? static_cast<NdbFormat&>(unicode) : static_cast<NdbFormat&>(ansi);
    format.scanFile(17, 2);
    NodeReport report;
    report.variant = chosen;
    for (const auto& list : format.nodeIndex().lists()) {
      if (list.versions.empty()) continue;
      const NdbNode& last = list.versions.back();
      report.rows.push_back(NodeReportRow{last.nid, last.dataBid, last.subnodeBid, last.parentNid,
                                          static_cast<std::uint32_t>(list.versions.size()),
                                          static_cast<std::uint32_t>(last.childNids.size())});
    }
    return report;
  } catch (const FileError&) {
    if (error != nullptr) *error = "cannot read " + path;
    return std::nullopt;
  }
}

std::string formatNodeReportJson(const NodeReport& report) {
  std::string out = "[";
  char line[256];
  for (std::size_t i = 0; i < report.rows.size(); ++i) {
    const NodeReportRow& r = report.rows[i];
    std::snprintf(line, sizeof line,
                  "%s\n  {\"nid\": %" PRIu32 ", \"data_bid\": %" PRIu64 ", \"subnode_bid\": %" PRIu64
                  ", \"parent_nid\": %" PRIu32 ", \"versions\": %" PRIu32 ", \"children\": %" PRIu32 "}",
                  i == 0 ? "" : ",", r.nid, r.dataBid, r.subnodeBid, r.parentNid, r.versions, r.children);
    out += line;
  }
  out += report.rows.empty() ? "]" : "\n]";
  return out;
}

std::string formatNodeReportText(const NodeReport& report) {
  std::string out;
  char line[256];
  std::snprintf(line, sizeof line, "variant %u, %zu nodes\n", unsigned{report.variant}, report.rows.size());
  out += line;
  out += "nid        data_bid           subnode_bid        parent_nid versions children\n";
  for (const NodeReportRow& r : report.rows) {
    std::snprintf(line, sizeof line, "0x%08" PRIX32 " 0x%016" PRIX64 " 0x%016" PRIX64 " 0x%08" PRIX32 " %8" PRIu32
                  " %8" PRIu32 "\n",
                  r.nid, r.dataBid, r.subnodeBid, r.parentNid, r.versions, r.children);
    out += line;
  }
  return out;
}

}  // namespace vexl
