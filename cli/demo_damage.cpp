#include "cli/demo_damage.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>

#include "cli/demo_random.h"
#include "engine/ndb/ndb_checks.h"
#include "engine/ndb/ndb_crypto.h"
#include "engine/ndb/ndb_layout.h"

namespace vexl::demo {
namespace {

constexpr std::uint32_t kSectorSize = 512;
constexpr std::size_t kSectorsToZero = 6;
constexpr std::uint64_t kSeed = 0x0DA3A6E5ull;

// HEADER wVer ([MS-PST] 2.2.2.6): 14 and 15 are ANSI, 23 and above Unicode.
constexpr std::size_t kHeaderVersionOffset = 10;

struct Tree {
  std::vector<std::uint64_t> leaves;  // file offsets, in key order
};

class Damager {
 public:
  Damager(std::vector<unsigned char>& file, const NdbLayout& layout) : file_(file), layout_(layout) {}

  // The pages of the tree whose root page is at `offset`; false when a page
  // is missing or fails its checks.
  bool walk(std::uint64_t offset, unsigned depth, Tree& tree) {
    if (depth > kMaxPageLevel || offset + layout_.pageSize > file_.size()) return false;
    const unsigned char* page = file_.data() + offset;
    if (!ndbcheck::isBTreePage(layout_, page, layout_.pageSize)) return false;
    const unsigned level = page[layout_.cLevelOffset];
    if (level == 0) {
      tree.leaves.push_back(offset);
      return true;
    }
    const unsigned count = page[layout_.cEntOffset];
    for (unsigned k = 0; k < count; ++k) {
      const unsigned char* entry = page + k * layout_.btEntrySize;
      const std::uint64_t child = loadRef(layout_, entry + layout_.btEntryBrefOffset + layout_.refWidth);
      if (!walk(child, depth + 1, tree)) return false;
    }
    return true;
  }

  // Removes the NBT entry of `nid` from the leaf that holds it and seals
  // the page again; its offset, or none.
  std::optional<std::uint64_t> removeNode(const Tree& nbt, std::uint32_t nid) {
    for (std::uint64_t leaf : nbt.leaves) {
      unsigned char* page = file_.data() + leaf;
      const unsigned count = page[layout_.cEntOffset];
      for (unsigned k = 0; k < count; ++k) {
        unsigned char* entry = page + k * layout_.nbtEntrySize;
        if (static_cast<std::uint32_t>(loadRef(layout_, entry)) != nid) continue;
        std::memmove(entry, entry + layout_.nbtEntrySize, (count - 1 - k) * layout_.nbtEntrySize);
        std::memset(page + (count - 1) * layout_.nbtEntrySize, 0, layout_.nbtEntrySize);
        page[layout_.cEntOffset] = static_cast<unsigned char>(count - 1);
        const std::uint32_t crc = ndbcrypt::crc(0, page, layout_.pageCrcLength);
        for (int b = 0; b < 4; ++b) page[layout_.pageCrcOffset + b] = static_cast<unsigned char>(crc >> (8 * b));
        return leaf;
      }
    }
    return std::nullopt;
  }

  bool leafHolds(std::uint64_t leaf, std::uint32_t nid) const {
    const unsigned char* page = file_.data() + leaf;
    for (unsigned k = 0; k < page[layout_.cEntOffset]; ++k)
      if (static_cast<std::uint32_t>(loadRef(layout_, page + k * layout_.nbtEntrySize)) == nid) return true;
    return false;
  }

  // Data blocks of at least three sectors, from the BBT leaves: a sector
  // inside one never holds its trailer.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> largeDataBlocks(const Tree& bbt) const {
    std::vector<std::pair<std::uint64_t, std::uint32_t>> blocks;
    for (std::uint64_t leaf : bbt.leaves) {
      const unsigned char* page = file_.data() + leaf;
      for (unsigned k = 0; k < page[layout_.cEntOffset]; ++k) {
        const unsigned char* entry = page + k * layout_.bbtEntrySize;
        const std::uint64_t bid = loadRef(layout_, entry);
        const std::uint64_t ib = loadRef(layout_, entry + layout_.refWidth);
        const std::uint32_t cb = loadLe16(entry + layout_.bbtEntryCbOffset);
        const bool internal = (bid & 2) != 0;
        if (!internal && cb >= 3 * kSectorSize && ib + cb <= file_.size()) blocks.emplace_back(ib, cb);
      }
    }
    return blocks;
  }

  void zero(std::uint64_t offset, std::uint32_t size) {
    std::memset(file_.data() + offset, 0, size);
    changed_.insert(offset);
  }
  void markChanged(std::uint64_t offset) { changed_.insert(offset); }
  const std::set<std::uint64_t>& changed() const { return changed_; }

 private:
  std::vector<unsigned char>& file_;
  const NdbLayout& layout_;
  std::set<std::uint64_t> changed_;  // 512-byte ranges to write back
};

}  // namespace

std::optional<DamageReport> damageMailbox(const std::string& path, std::uint32_t folderNid, std::string& error) {
  std::vector<unsigned char> file;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      error = "cannot open " + path;
      return std::nullopt;
    }
    file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (file.size() < kUnicodeLayout.headerKeptSize) {
    error = path + " is not a mailbox file";
    return std::nullopt;
  }
  const unsigned version = loadLe16(file.data() + kHeaderVersionOffset);
  const NdbLayout& layout = version >= 23 ? kUnicodeLayout : kAnsiLayout;
  if (!ndbcheck::isHeader(layout, file.data(), static_cast<std::uint32_t>(file.size()))) {
    error = path + " has no valid [MS-PST] header";
    return std::nullopt;
  }

  Damager damager(file, layout);
  Tree nbt, bbt;
  if (!damager.walk(loadRef(layout, file.data() + layout.rootNbtIb), 0, nbt) ||
      !damager.walk(loadRef(layout, file.data() + layout.rootBbtIb), 0, bbt)) {
    error = path + " has a damaged B-tree already";
    return std::nullopt;
  }
  DamageReport report;
  // Everything is chosen before anything is zeroed.
  const auto blocks = damager.largeDataBlocks(bbt);

  if (auto leaf = damager.removeNode(nbt, folderNid)) {
    report.folderRemoved = true;
    damager.markChanged(*leaf);
  }

  // One NBT leaf from the middle of the tree (not the first, whose nodes
  // are the store's own, nor the one that lost the folder), and two BBT
  // leaves. A tree of one or two leaves keeps them: nothing would be left to
  // rebuild from.
  if (nbt.leaves.size() >= 3) {
    std::size_t pick = nbt.leaves.size() / 2;
    if (damager.leafHolds(nbt.leaves[pick], folderNid) || pick == 0) ++pick;
    if (pick < nbt.leaves.size()) report.zeroedPages.push_back(nbt.leaves[pick]);
  }
  if (bbt.leaves.size() >= 3) {
    report.zeroedPages.push_back(bbt.leaves[bbt.leaves.size() / 3]);
    report.zeroedPages.push_back(bbt.leaves[2 * bbt.leaves.size() / 3]);
  }
  for (std::uint64_t offset : report.zeroedPages) damager.zero(offset, layout.pageSize);

  Random random(kSeed);
  std::set<std::uint64_t> hit;
  for (std::size_t tries = 0; report.zeroedSectors.size() < kSectorsToZero && tries < 100 && !blocks.empty();
       ++tries) {
    const auto& [ib, cb] = blocks[random.below(blocks.size())];
    if (!hit.insert(ib).second) continue;
    // A whole disk sector inside the block's data.
    const std::uint64_t first = (ib + kSectorSize - 1) / kSectorSize * kSectorSize;
    const std::uint64_t sectors = (ib + cb - first) / kSectorSize;
    const std::uint64_t offset = first + random.below(sectors) * kSectorSize;
    damager.zero(offset, kSectorSize);
    report.zeroedSectors.push_back(offset);
  }

  std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
  for (std::uint64_t offset : damager.changed()) {
    out.seekp(static_cast<std::streamoff>(offset));
    out.write(reinterpret_cast<const char*>(file.data() + offset), kSectorSize);
  }
  out.flush();
  if (!out) {
    error = "cannot write " + path;
    return std::nullopt;
  }
  return report;
}

}  // namespace vexl::demo
