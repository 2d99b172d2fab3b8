// Compound files ([MS-CFB]): the bytes an OLE attachment's
// PR_ATTACH_DATA_OBJ holds, as a tree of storages and streams. The writer
// makes version 3 files (512-byte sectors, a mini stream for streams below
// 4096 bytes, a DIFAT when the FAT needs more than the header's 109
// sectors); the reader takes versions 3 and 4 and checks every structure
// before it hands anything out.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vexl::mapi::store {

struct CompoundEntry {
  std::u16string name;  // at most 31 characters
  bool storage = false;
  std::vector<std::uint8_t> data;         // streams
  std::array<std::uint8_t, 16> clsid{};   // storages
  std::uint32_t stateBits = 0;            // storages
  std::vector<std::unique_ptr<CompoundEntry>> children;
  CompoundEntry* find(const std::u16string& childName);
};

// The file's bytes for the root storage `root`; none when a name is too
// long or a stream does not fit a version 3 file (4 GiB).
std::optional<std::vector<std::uint8_t>> writeCompoundFile(const CompoundEntry& root);

// Storages nested deeper than this are taken for damage: nobody writes
// them, and every walk over the tree recurses.
inline constexpr int kMaxCompoundNesting = 64;

enum class CompoundRead {
  Ok,
  NotCompoundFile,  // no compound-file signature
  Damaged,          // the signature, but a structure that does not hold
};

// Reads the whole tree of `bytes` into `root` (its name stays empty). Sector
// chains are followed only inside the file and never through a sector
// twice, the directory tree must be acyclic, and every stream must fit its
// chain; `root` is left empty unless the result is Ok.
CompoundRead readCompoundFile(std::span<const std::uint8_t> bytes, CompoundEntry& root);

}  // namespace vexl::mapi::store
