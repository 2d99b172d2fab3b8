// Damages a mailbox file the way a broken disk or an interrupted write
// would, so that its recovery has to rebuild the indexes from a scan and
// collect orphaned items: B-tree pages zeroed (an NBT leaf among them),
// 512-byte sectors inside data blocks zeroed, and one folder's entry taken
// out of the node index. Deterministic: the same file is damaged the same
// way every time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexl::demo {

struct DamageReport {
  std::vector<std::uint64_t> zeroedPages;    // file offsets of B-tree pages
  std::vector<std::uint64_t> zeroedSectors;  // file offsets of sectors in data blocks
  bool folderRemoved = false;                // its NBT entry was found and removed
};

// Damages the [MS-PST] file at `path` in place and removes the NBT entry
// of `folderNid`. None, with `error` set, when the file cannot be read or
// written or is not a node database with an intact B-tree.
std::optional<DamageReport> damageMailbox(const std::string& path, std::uint32_t folderNid, std::string& error);

}  // namespace vexl::demo
