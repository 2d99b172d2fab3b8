#include "client/TRELD.h"

namespace vexl::client {
namespace {

constexpr std::int32_t kOn = -1;

// The callback stub: the user word points at a slot that holds the events
// object; its boolean answer becomes -1 or 0.
std::int32_t forwardToEvents(std::int32_t code, void* data, void* user) {
  auto* slot = static_cast<EngineEvents**>(user);
  return (*slot)->onMessage(code, data) ? -1 : 0;
}

}  // namespace

EngineOptions defaultEngineOptions() {
  EngineOptions o{};
  o.SrcFormat = 0;
  o.DstFormat = 0;
  o.FastRecovery = kOn;
  o.HeuristicRecoverRoot = 0;
  o.RecoverUnattchedAttach = kOn;
  o.SplitOversizePST = 0;
  o.PSTFileSizeLimit = 1000;
  o.IgnoreZeroBlock = kOn;
  o.AlwaysIPMSubtree = kOn;
  o.RemoveEmptyFolder = 0;
  o.RecoverMultiPropInBatch = 0;
  o.Level1Recovery = kOn;
  o.Level2Recovery = kOn;
  o.Level3Recovery = kOn;
  o.Level4Recovery = kOn;
  o.Level5Recovery = kOn;
  o.SourceKind = 1;
  return o;
}

std::int32_t callEngine(const char* sourcePath, const EngineOptions* options, const char* targetPath,
                        EngineCallback callback, void* user) {
  ArgumentBlock block{};
  block.words[kWordSourcePath] = reinterpret_cast<std::uintptr_t>(sourcePath);
  block.words[kWordOptions] = reinterpret_cast<std::uintptr_t>(options);
  block.words[kWordReserved] = 0;
  block.words[kWordTargetPath] = reinterpret_cast<std::uintptr_t>(targetPath);
  block.words[kWordCallback] = reinterpret_cast<std::uintptr_t>(callback);
  block.words[kWordUser] = reinterpret_cast<std::uintptr_t>(user);
  scrambleArgumentBlock(block);
  return vexl_run(&block);
}

std::int32_t runRecovery(const std::string& sourcePath, const EngineOptions& options, const std::string& targetPath,
                         EngineEvents* events) {
  EngineOptions copy = options;
  EngineEvents* slot = events;
  return callEngine(sourcePath.c_str(), &copy, targetPath.c_str(), events != nullptr ? &forwardToEvents : nullptr,
                    &slot);
}

}  // namespace vexl::client
