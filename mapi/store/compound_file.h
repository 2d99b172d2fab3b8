// Writes a compound file ([MS-CFB], version 3: 512-byte sectors, a mini
// stream for streams below 4096 bytes) from a tree of storages and streams:
// the bytes an OLE attachment's PR_ATTACH_DATA_OBJ holds.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vexl::mapi::store {

struct CompoundEntry {
  std::u16string name;  // at most 31 characters
  bool storage = false;
  std::vector<std::uint8_t> data;         // streams
  std::array<std::uint8_t, 16> clsid{};   // storages
  std::vector<std::unique_ptr<CompoundEntry>> children;
  CompoundEntry* find(const std::u16string& childName);
};

// The file's bytes for the root storage `root`; none when it needs more
// than the header's 109 FAT sectors (about 6.8 MiB) or a name is too long.
std::optional<std::vector<std::uint8_t>> writeCompoundFile(const CompoundEntry& root);

}  // namespace vexl::mapi::store
