// The index rebuild over arbitrary bytes, then every node opened and its data
// assembled. The first byte picks the variant, so both layouts are reached
// whatever the bytes' own pages say.
#include <memory>
#include <vector>

#include "engine/file/file64_ex.h"
#include "engine/ndb/ndb_format.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool unicode = (data[0] & 1) != 0;
  const std::string& path = vexl::fuzz::inputFile().write(data + 1, size - 1);
  vexl::fuzz::QuietEngine engine;
  vexl::CFile64Ex file(65536);
  file.open(path, vexl::kSourceOpenMode, nullptr);
  std::unique_ptr<vexl::NdbFormat> format;
  if (unicode)
    format = std::make_unique<vexl::UnicodeNdbFormat>(engine, file);
  else
    format = std::make_unique<vexl::AnsiNdbFormat>(engine, file);
  format->scanFile(0, 1);
  format->collectDataTreeRoots();
  format->collectSubnodeTreeRoots();
  std::vector<unsigned char> buffer;
  for (const auto& list : format->nodeIndex().lists()) {
    if (list.versions.empty()) continue;
    vexl::NdbNode node = list.versions.back();
    node.open(vexl::CryptMode::Unknown);
    node.readData(buffer);
    for (const auto& sub : node.subnodes().lists())
      if (!sub.versions.empty()) node.readSubnodeData(static_cast<std::uint32_t>(sub.key), buffer);
  }
  return 0;
}
