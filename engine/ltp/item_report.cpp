#include "engine/ltp/item_report.h"

#include "engine/core/json.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string_view>

#include "engine/core/code_page.h"
#include "engine/core/engine_context.h"
#include "engine/file/file64_ex.h"
#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/property_context.h"
#include "engine/ltp/table_context.h"
#include "engine/ndb/ndb_format.h"
#include "mapi/mapialloc.h"
#include "mapi/mapitags.h"

namespace vexl {

using namespace mapi;

namespace {

class ReportEngine final : public EngineContext {
 public:
  ReportEngine() : EngineContext(nullptr, nullptr) { options_.IgnoreZeroBlock = -1; }
};

std::string hex32(std::uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08" PRIX32, v);
  return b;
}

std::string hexBytes(const BYTE* p, std::size_t n) {
  std::string out;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02x", p[i]);
    out += b;
  }
  return out;
}

std::string number(double d) {
  if (!std::isfinite(d)) return "null";
  char b[40];
  std::snprintf(b, sizeof b, "%.17g", d);
  return b;
}

std::string fileTime(const FILETIME& ft) {
  const std::uint64_t ticks = (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
  const std::int64_t seconds = static_cast<std::int64_t>(ticks / 10000000) - 11644473600LL;
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (gmtime_r(&t, &tm) == nullptr) return std::to_string(ticks);
  char b[64];
  std::snprintf(b, sizeof b, "%04d-%02d-%02dT%02d:%02d:%02d.%07" PRIu64 "Z", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ticks % 10000000);
  return b;
}

std::string guidText(const GUID& g) {
  char b[48];
  std::snprintf(b, sizeof b, "{%08" PRIX32 "-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return b;
}

std::string currency(std::int64_t v) {
  char b[40];
  const std::uint64_t a = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  std::snprintf(b, sizeof b, "%s%" PRIu64 ".%04" PRIu64, v < 0 ? "-" : "", a / 10000, a % 10000);
  return b;
}

// A value's text and JSON forms; `quoted` says whether the text goes into
// JSON as a string.
struct Shown {
  std::string text;
  bool quoted;
};

Shown single(ULONG type, const void* v) {
  switch (type) {
    case PT_I2:
      return {std::to_string(*static_cast<const SHORT*>(v)), false};
    case PT_LONG:
      return {std::to_string(*static_cast<const LONG*>(v)), false};
    case PT_R4:
      return {number(*static_cast<const float*>(v)), false};
    case PT_DOUBLE:
    case PT_APPTIME:
      return {number(*static_cast<const double*>(v)), false};
    case PT_CURRENCY:
      return {currency(static_cast<const CURRENCY*>(v)->int64), false};
    case PT_I8:
      return {std::to_string(static_cast<const LARGE_INTEGER*>(v)->QuadPart), false};
    case PT_SYSTIME:
      return {fileTime(*static_cast<const FILETIME*>(v)), true};
    case PT_CLSID:
      return {guidText(*static_cast<const GUID*>(v)), true};
    case PT_STRING8: {
      const char* s = *static_cast<const LPSTR*>(v);
      return {s == nullptr ? "" : ansiToUtf8(s), s != nullptr};
    }
    case PT_UNICODE: {
      const WCHAR* s = *static_cast<const LPWSTR*>(v);
      return {s == nullptr ? "" : utf16ToUtf8(std::u16string_view(s)), s != nullptr};
    }
    case PT_BINARY: {
      const auto* b = static_cast<const SBinary*>(v);
      return {hexBytes(b->lpb, b->lpb == nullptr ? 0 : b->cb), true};
    }
    default:
      return {"", false};
  }
}

std::size_t elementSize(ULONG type) {
  switch (type) {
    case PT_I2: return sizeof(SHORT);
    case PT_LONG: case PT_R4: return 4;
    case PT_CLSID: return sizeof(GUID);
    case PT_STRING8: case PT_UNICODE: return sizeof(void*);
    case PT_BINARY: return sizeof(SBinary);
    default: return 8;
  }
}

}  // namespace

std::string propTypeName(std::uint32_t type) {
  static const struct {
    ULONG type;
    const char* name;
  } kNames[] = {{PT_UNSPECIFIED, "PT_UNSPECIFIED"}, {PT_NULL, "PT_NULL"}, {PT_I2, "PT_I2"}, {PT_LONG, "PT_LONG"},
                {PT_R4, "PT_R4"}, {PT_DOUBLE, "PT_DOUBLE"}, {PT_CURRENCY, "PT_CURRENCY"},
                {PT_APPTIME, "PT_APPTIME"}, {PT_ERROR, "PT_ERROR"}, {PT_BOOLEAN, "PT_BOOLEAN"},
                {PT_OBJECT, "PT_OBJECT"}, {PT_I8, "PT_I8"}, {PT_STRING8, "PT_STRING8"}, {PT_UNICODE, "PT_UNICODE"},
                {PT_SYSTIME, "PT_SYSTIME"}, {PT_CLSID, "PT_CLSID"}, {PT_BINARY, "PT_BINARY"}};
  const ULONG base = type & ~MVI_FLAG & 0xFFFF;
  for (const auto& n : kNames) {
    if (n.type != base) continue;
    std::string name = n.name;
    if (type & MV_FLAG) name.insert(3, "MV_");
    if (type & MV_INSTANCE) name += "|MVI";
    return name;
  }
  char b[16];
  std::snprintf(b, sizeof b, "0x%04" PRIX32, type & 0xFFFF);
  return b;
}

ItemValue describeValue(const SPropValue& v) {
  ItemValue out;
  out.tag = v.ulPropTag;
  out.type = propTypeName(PROP_TYPE(v.ulPropTag));
  const ULONG type = PROP_TYPE(v.ulPropTag) & ~MV_INSTANCE;
  if (type == PT_ERROR) {
    out.text = hex32(static_cast<std::uint32_t>(v.Value.err));
    out.json = jsonString(out.text);
  } else if (type == PT_BOOLEAN) {
    out.text = v.Value.b != 0 ? "true" : "false";
    out.json = out.text;
  } else if (type == PT_NULL || type == PT_UNSPECIFIED) {
    out.json = "null";
  } else if (type == PT_OBJECT) {
    std::uint32_t nidSize[2];
    std::memcpy(nidSize, &v.Value, sizeof nidSize);
    out.text = "nid " + hex32(nidSize[0]) + " size " + std::to_string(nidSize[1]);
    out.json = "{\"nid\": " + std::to_string(nidSize[0]) + ", \"size\": " + std::to_string(nidSize[1]) + "}";
  } else if ((type & MV_FLAG) != 0) {
    const ULONG base = type & ~MV_FLAG;
    const ULONG count = v.Value.MVi.cValues;  // every MV member starts with cValues, then the pointer
    const auto* elements = static_cast<const unsigned char*>(static_cast<const void*>(v.Value.MVi.lpi));
    out.text = "[";
    out.json = "[";
    for (ULONG i = 0; elements != nullptr && i < count; ++i) {
      const Shown s = single(base, elements + i * elementSize(base));
      out.text += (i ? ", " : "") + s.text;
      out.json += (i ? ", " : "") + (s.quoted ? jsonString(s.text) : s.text.empty() ? std::string("null") : s.text);
    }
    out.text += "]";
    out.json += "]";
  } else {
    const Shown s = single(type, &v.Value);
    out.text = s.text;
    out.json = s.quoted ? jsonString(s.text) : s.text.empty() ? "null" : s.text;
  }
  return out;
}

namespace {

// Opens, scans and hands the node's last version to `use`.
bool withNode(const std::string& path, ScanRequest::Variant variant, std::uint32_t nid, std::string* error,
              std::uint8_t& chosen, const std::function<bool(NdbNode&)>& use) {
  try {
    CFile64Ex file(65536);
    if (!file.open(path, kSourceOpenMode, nullptr)) {
      if (error != nullptr) *error = "cannot open " + path;
      return false;
    }
    ReportEngine engine;
    AnsiNdbFormat ansi(engine, file);
    UnicodeNdbFormat unicode(engine, file);
    chosen = variant == ScanRequest::Variant::Unicode ? 64 : 32;
    if (variant == ScanRequest::Variant::Auto) chosen = countVariants(engine, file, 0, 6).decision();
    NdbFormat& format = chosen == 64 ? static_cast<NdbFormat&>(unicode) : static_cast<NdbFormat&>(ansi);
    format.scanFile(17, 2);
    NdbNode* node = format.nodeIndex().find(nid);
    if (node == nullptr) {
      if (error != nullptr) *error = "no node " + hex32(nid) + " in " + path;
      return false;
    }
    node->open(CryptMode::Unknown);
    return use(*node);
  } catch (const FileError&) {
    if (error != nullptr) *error = "cannot read " + path;
    return false;
  }
}

}  // namespace

std::optional<PropsReport> runPropsReport(const std::string& path, ScanRequest::Variant variant, std::uint32_t nid,
                                          std::string* error) {
  PropsReport report;
  report.nid = nid;
  const bool ok = withNode(path, variant, nid, error, report.variant, [&](NdbNode& node) {
    std::uint32_t count = 0;
    SPropValue* props = nullptr;
    if (getAllProps(node, count, props) == 0) {
      if (error != nullptr) *error = "cannot allocate the properties of " + hex32(nid);
      return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) report.props.push_back(describeValue(props[i]));
    MAPIFreeBuffer(props);
    return true;
  });
  if (!ok) return std::nullopt;
  return report;
}

std::optional<TableReport> runTableReport(const std::string& path, ScanRequest::Variant variant, std::uint32_t nid,
                                          std::string* error) {
  TableReport report;
  report.nid = nid;
  const bool ok = withNode(path, variant, nid, error, report.variant, [&](NdbNode& node) {
    std::vector<SPropValue*> rows;
    if (readTable(node, report.columns, rows) == 0) {
      if (error != nullptr) *error = "node " + hex32(nid) + " is not a table context";
      return false;
    }
    for (const SPropValue* row : rows) {
      std::vector<ItemValue>& out = report.rows.emplace_back();
      for (std::size_t i = 0; i < report.columns.size(); ++i) out.push_back(describeValue(row[i]));
    }
    freeRows(rows);
    return true;
  });
  if (!ok) return std::nullopt;
  return report;
}

namespace {

std::string valueJson(const ItemValue& v) {
  return "{\"tag\": \"" + hex32(v.tag) + "\", \"type\": \"" + v.type + "\", \"value\": " + v.json + "}";
}

std::string valueLine(const ItemValue& v) { return hex32(v.tag) + "  " + v.type + "  " + v.text + "\n"; }

}  // namespace

std::string formatPropsReportJson(const PropsReport& report) {
  std::string out = "[";
  for (std::size_t i = 0; i < report.props.size(); ++i) out += (i ? ",\n  " : "\n  ") + valueJson(report.props[i]);
  return out + (report.props.empty() ? "]" : "\n]");
}

std::string formatPropsReportText(const PropsReport& report) {
  std::string out = "node " + hex32(report.nid) + ", " + std::to_string(report.props.size()) + " properties\n";
  for (const ItemValue& v : report.props) out += valueLine(v);
  return out;
}

std::string formatTableReportJson(const TableReport& report) {
  std::string out = "{\"columns\": [";
  for (std::size_t i = 0; i < report.columns.size(); ++i)
    out += std::string(i ? ", " : "") + "{\"tag\": \"" + hex32(report.columns[i]) + "\", \"type\": \"" +
           propTypeName(PROP_TYPE(report.columns[i])) + "\"}";
  out += "],\n \"rows\": [";
  for (std::size_t r = 0; r < report.rows.size(); ++r) {
    out += r ? ",\n  [" : "\n  [";
    for (std::size_t i = 0; i < report.rows[r].size(); ++i) out += (i ? ", " : "") + valueJson(report.rows[r][i]);
    out += "]";
  }
  return out + (report.rows.empty() ? "]}" : "\n ]}");
}

std::string formatTableReportText(const TableReport& report) {
  std::string out = "node " + hex32(report.nid) + ", " + std::to_string(report.columns.size()) + " columns, " +
                    std::to_string(report.rows.size()) + " rows\ncolumns:";
  for (std::uint32_t c : report.columns) out += " " + hex32(c);
  out += "\n";
  for (std::size_t r = 0; r < report.rows.size(); ++r) {
    out += "row " + std::to_string(r) + "\n";
    for (const ItemValue& v : report.rows[r]) out += "  " + valueLine(v);
  }
  return out;
}

}  // namespace vexl
