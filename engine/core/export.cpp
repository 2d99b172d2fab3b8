// The library's single export. The block arrives scrambled with the shared
// key byte; it is copied before it is unscrambled, so the caller's memory is
// read once and never written.
#include <cstring>

#include "engine/core/engine_api.h"
#include "engine/core/recovery_engine.h"

extern "C" VEXL_EXPORT std::int32_t vexl_run(const void* scrambledBlock) {
  if (scrambledBlock == nullptr) return 0;
  vexl::ArgumentBlock block;
  std::memcpy(&block, scrambledBlock, sizeof block);
  vexl::scrambleArgumentBlock(block);

  const auto* sourcePath = reinterpret_cast<const char*>(block.words[vexl::kWordSourcePath]);
  const auto* options = reinterpret_cast<const vexl::EngineOptions*>(block.words[vexl::kWordOptions]);
  const auto* targetPath = reinterpret_cast<const char*>(block.words[vexl::kWordTargetPath]);
  auto callback = reinterpret_cast<vexl::EngineCallback>(block.words[vexl::kWordCallback]);
  void* user = reinterpret_cast<void*>(block.words[vexl::kWordUser]);

  try {
    vexl::RecoveryEngine engine(callback, user);
    return engine.run(sourcePath, options, block.words[vexl::kWordReserved], targetPath);
  } catch (...) {
    // run() catches everything; this only guards the engine's construction.
    return 0;
  }
}
