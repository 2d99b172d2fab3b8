#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/arguments.h"
#include "cli/cli.h"
#include "engine/core/json.h"
#include "engine/ltp/node_report.h"
#include "engine/ndb/ndb_layout.h"
#include "engine/ndb/scan_report.h"

namespace vexl::cli {
namespace {

constexpr const char* kInfoUsage =
    "Usage: vexl info FILE [--variant auto|ansi|unicode] [--json]\n"
    "\n"
    "A quick look at FILE before a long recovery: what its header at offset 0\n"
    "says (variant, client magic, version, encryption, sizes), the variant the\n"
    "scan decides on with its page counts, and the nodes of the rebuilt node\n"
    "index counted by kind (folders, messages).\n"
    "\n"
    "  --variant V   auto (default), ansi or unicode\n"
    "  --json        one JSON object\n";

// The HEADER fields at offset 0 ([MS-PST] 2.2.2.6), as the file states them.
struct HeaderFacts {
  bool magic = false;  // "!BDN"
  std::uint16_t wMagicClient = 0;
  std::uint16_t wVer = 0;
  std::uint16_t wVerClient = 0;
  bool unicode = false;  // wVer of 23 or more
  std::uint64_t ibFileEof = 0;
  std::uint8_t bCryptMethod = 0;
};

std::uint64_t readLittle(const unsigned char* bytes, int width) {
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

HeaderFacts readHeader(const std::string& path) {
  HeaderFacts facts;
  unsigned char bytes[564] = {};
  std::ifstream file(path, std::ios::binary);
  file.read(reinterpret_cast<char*>(bytes), sizeof bytes);
  if (file.gcount() < 512) return facts;
  facts.magic = readLittle(bytes, 4) == kHeaderMagic;
  facts.wMagicClient = static_cast<std::uint16_t>(readLittle(bytes + 8, 2));
  facts.wVer = static_cast<std::uint16_t>(readLittle(bytes + 10, 2));
  facts.wVerClient = static_cast<std::uint16_t>(readLittle(bytes + 12, 2));
  facts.unicode = facts.wVer >= 23;
  // ROOT.ibFileEof and bCryptMethod sit at other offsets in the two variants.
  facts.ibFileEof = facts.unicode ? readLittle(bytes + 184, 8) : readLittle(bytes + 168, 4);
  facts.bCryptMethod = facts.unicode ? bytes[513] : bytes[461];
  return facts;
}

const char* clientName(std::uint16_t magic) {
  if (magic == 0x4D53) return "personal folders (SM)";
  if (magic == 0x4F53) return "offline folders (SO)";
  if (magic == 0x4142) return "address book (AB)";
  return "unknown";
}

const char* cryptName(std::uint8_t method) {
  switch (method) {
    case 0: return "none";
    case 1: return "permute";
    case 2: return "cyclic";
    default: return "unknown";
  }
}

// Node counts by the NID type in the low five bits ([MS-PST] 2.2.2.1).
struct NodeCounts {
  std::size_t nodes = 0, folders = 0, searchFolders = 0, messages = 0, associated = 0;
};

NodeCounts countNodes(const NodeReport& report) {
  NodeCounts counts;
  counts.nodes = report.rows.size();
  for (const NodeReportRow& row : report.rows) {
    switch (row.nid & 0x1F) {
      case 0x02: ++counts.folders; break;
      case 0x03: ++counts.searchFolders; break;
      case 0x04: ++counts.messages; break;
      case 0x08: ++counts.associated; break;
      default: break;
    }
  }
  return counts;
}

std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

int infoCommand(std::span<const std::string_view> args) {
  FileArguments parsed = parseFileArguments(args);
  if (parsed.help) {
    std::fputs(kInfoUsage, stdout);
    return 0;
  }
  if (!parsed.error.empty()) return reportUsageError("info", parsed.error, kInfoUsage);
  if (std::filesystem::is_directory(parsed.path)) {
    std::fprintf(stderr, "vexl info: %s is a folder, not a file\n", parsed.path.c_str());
    return kExitNothingRecovered;
  }

  ScanRequest request;
  request.variant = parsed.variant;
  request.fastRecovery = true;
  std::string error;
  std::optional<ScanReport> scan = runScanReport(parsed.path, request, &error);
  if (!scan) {
    std::fprintf(stderr, "vexl info: %s\n", error.c_str());
    return kExitNothingRecovered;
  }
  // The node index of the variant the scan used.
  const ScanRequest::Variant scanned = scan->variant == 64 ? ScanRequest::Variant::Unicode : ScanRequest::Variant::Ansi;
  std::optional<NodeReport> nodes = runNodeReport(parsed.path, scanned, &error);
  if (!nodes) {
    std::fprintf(stderr, "vexl info: %s\n", error.c_str());
    return kExitNothingRecovered;
  }
  std::error_code sizeError;
  const std::uintmax_t fileSize = std::filesystem::file_size(parsed.path, sizeError);
  const HeaderFacts header = readHeader(parsed.path);
  const NodeCounts counts = countNodes(*nodes);
  const char* variantName = scan->variant == 64 ? "unicode" : "ansi";

  if (parsed.json) {
    std::string out = "{\"file_size\": " + std::to_string(sizeError ? 0 : fileSize) +
                      ", \"header\": " + (header.magic ? "true" : "false");
    if (header.magic) {
      out += ", \"header_variant\": " + jsonString(header.unicode ? "unicode" : "ansi") +
             ", \"wMagicClient\": " + std::to_string(header.wMagicClient) + ", \"wVer\": " + std::to_string(header.wVer) +
             ", \"wVerClient\": " + std::to_string(header.wVerClient) +
             ", \"bCryptMethod\": " + std::to_string(header.bCryptMethod) +
             ", \"ibFileEof\": " + std::to_string(header.ibFileEof);
    }
    out += ", \"variant\": " + jsonString(variantName) +
           ", \"decided\": " + (scan->decided ? "true" : "false") +
           ", \"ansi_pages\": " + std::to_string(scan->ansiPages) +
           ", \"unicode_pages\": " + std::to_string(scan->unicodePages) + ", \"blocks\": " + std::to_string(scan->blocks) +
           ", \"bbt_pages\": " + std::to_string(scan->bbtPages) + ", \"nbt_pages\": " + std::to_string(scan->nbtPages) +
           ", \"nodes\": " + std::to_string(counts.nodes) + ", \"folders\": " + std::to_string(counts.folders) +
           ", \"search_folders\": " + std::to_string(counts.searchFolders) +
           ", \"messages\": " + std::to_string(counts.messages) +
           ", \"associated_messages\": " + std::to_string(counts.associated) + "}\n";
    std::fputs(out.c_str(), stdout);
    return 0;
  }

  std::printf("File:               %s\n", parsed.path.c_str());
  std::printf("File size:          %llu bytes\n", static_cast<unsigned long long>(sizeError ? 0 : fileSize));
  if (header.magic) {
    std::printf("Header variant:     %s (wVer %u, wVerClient %u)\n", header.unicode ? "Unicode" : "ANSI", header.wVer,
                header.wVerClient);
    std::printf("wMagicClient:       %s, %s\n", hex(header.wMagicClient).c_str(), clientName(header.wMagicClient));
    std::printf("Encryption:         %s (bCryptMethod %u)\n", cryptName(header.bCryptMethod), header.bCryptMethod);
    std::printf("End of file (ROOT): %llu bytes\n", static_cast<unsigned long long>(header.ibFileEof));
  } else {
    std::printf("Header:             none at offset 0 (damaged or not a PST/OST file)\n");
  }
  if (scan->decided) {
    std::printf("Variant decision:   %s (%llu ANSI pages, %llu Unicode pages%s)\n", variantName,
                static_cast<unsigned long long>(scan->ansiPages), static_cast<unsigned long long>(scan->unicodePages),
                scan->unicodeHeader ? ", Unicode header" : "");
  } else {
    std::printf("Variant:            %s (as given)\n", variantName);
  }
  std::printf("Scan:               %llu block(s), %llu BBT page(s), %llu NBT page(s)\n",
              static_cast<unsigned long long>(scan->blocks), static_cast<unsigned long long>(scan->bbtPages),
              static_cast<unsigned long long>(scan->nbtPages));
  std::printf("Nodes:              %zu\n", counts.nodes);
  std::printf("Folders:            %zu (and %zu search folder(s))\n", counts.folders, counts.searchFolders);
  std::printf("Messages:           %zu (and %zu associated)\n", counts.messages, counts.associated);
  return 0;
}

}  // namespace vexl::cli
