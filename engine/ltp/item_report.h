// The item reports behind the command line's `props` and `table`
// subcommands: one node of a scanned file, its properties as getAllProps
// decodes them, or its table as readTable reads it.
//
// Values are shown as: integers and floating-point numbers as numbers,
// booleans as true / false, times as ISO 8601 UTC, strings as UTF-8
// (PT_STRING8 converted from the system ANSI code page), binaries as
// lower-case hex, GUIDs in registry form, PT_OBJECT as its subnode NID and
// size, errors as their code in hex (0x80040301), multi-values as lists.
// Tags are 8 hex digits with 0x in front, in text and in JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/ndb/scan_report.h"
#include "mapi/mapidefs.h"

namespace vexl {

struct ItemValue {
  std::uint32_t tag = 0;
  std::string type;   // "PT_UNICODE", "PT_MV_LONG", ...; "0x%04X" for unknown types
  std::string text;   // for people
  std::string json;   // a JSON value
};

struct PropsReport {
  std::uint8_t variant = 0;  // 32 or 64
  std::uint32_t nid = 0;
  std::vector<ItemValue> props;  // in BTH order
};

struct TableReport {
  std::uint8_t variant = 0;
  std::uint32_t nid = 0;
  std::vector<std::uint32_t> columns;
  std::vector<std::vector<ItemValue>> rows;  // one entry per column
};

// Open and scan `path` as the node report does, then read node `nid` (the
// last version in the node index). Empty with `error` set when the file
// cannot be read, the node does not exist, or (table) is not a TC.
std::optional<PropsReport> runPropsReport(const std::string& path, ScanRequest::Variant variant, std::uint32_t nid,
                                          std::string* error = nullptr);
std::optional<TableReport> runTableReport(const std::string& path, ScanRequest::Variant variant, std::uint32_t nid,
                                          std::string* error = nullptr);

// A JSON array of {"tag", "type", "value"} objects.
std::string formatPropsReportJson(const PropsReport& report);
// One line per property: tag, type, value.
std::string formatPropsReportText(const PropsReport& report);
// {"columns": [{"tag", "type"}...], "rows": [[{"tag", "type", "value"}...]...]}.
std::string formatTableReportJson(const TableReport& report);
// The column tags, then one block of lines per row.
std::string formatTableReportText(const TableReport& report);

// The name of a property type ("PT_LONG"), MV_INSTANCE shown as "|MVI".
std::string propTypeName(std::uint32_t type);
// One decoded value as the reports show it.
ItemValue describeValue(const mapi::SPropValue& value);

}  // namespace vexl
