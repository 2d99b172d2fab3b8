// The compound-file reader over arbitrary bytes; a tree it accepts is written
// back, which must succeed for anything it read.
#include <cstdlib>

#include "mapi/store/compound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vexl::mapi::store;
  CompoundEntry root;
  if (readCompoundFile(std::span<const std::uint8_t>(data, size), root) != CompoundRead::Ok) return 0;
  (void)writeCompoundFile(root);
  return 0;
}
