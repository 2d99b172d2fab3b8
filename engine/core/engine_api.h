// The engine's one entry point and everything that crosses it: the argument
// block, EngineOptions, EngineCallback and the callback codes. This header is
// included by the engine and by its callers (client/TRELD), so the key byte
// and the record layouts exist exactly once.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VEXL_EXPORT __declspec(dllexport)
#else
#define VEXL_EXPORT __attribute__((visibility("default")))
#endif

namespace vexl {

// XOR key of the argument block. Both deliverables compile it in.
inline constexpr std::uint8_t kArgumentBlockKey = 0xA7;

#pragma pack(push, 1)
// The options of one run, filled completely by the caller. bool32 fields are
// 0 for off and anything else for on (the window program writes -1).
struct EngineOptions {
  std::uint8_t SrcFormat;  // 0 auto, 1 ANSI, 2 Unicode, other: ANSI
  std::uint8_t DstFormat;  // 0 by the Outlook version, 1 ANSI, 2 Unicode, other: ANSI
  std::int32_t FastRecovery;
  std::int32_t HeuristicRecoverRoot;
  std::int32_t RecoverUnattchedAttach;
  std::int32_t SplitOversizePST;
  std::int32_t PSTFileSizeLimit;  // megabytes of 1,048,576 bytes
  std::int32_t IgnoreZeroBlock;
  std::int32_t AlwaysIPMSubtree;
  std::int32_t RemoveEmptyFolder;
  std::int32_t RecoverMultiPropInBatch;
  std::int32_t Level1Recovery;
  std::int32_t Level2Recovery;
  std::int32_t Level3Recovery;
  std::int32_t Level4Recovery;
  std::int32_t Level5Recovery;
  std::uint8_t SourceKind;  // 1 or 3: an offline folder file
};
#pragma pack(pop)

static_assert(sizeof(EngineOptions) == 59);
static_assert(offsetof(EngineOptions, SrcFormat) == 0);
static_assert(offsetof(EngineOptions, DstFormat) == 1);
static_assert(offsetof(EngineOptions, FastRecovery) == 2);
static_assert(offsetof(EngineOptions, HeuristicRecoverRoot) == 6);
static_assert(offsetof(EngineOptions, RecoverUnattchedAttach) == 10);
static_assert(offsetof(EngineOptions, SplitOversizePST) == 14);
static_assert(offsetof(EngineOptions, PSTFileSizeLimit) == 18);
static_assert(offsetof(EngineOptions, IgnoreZeroBlock) == 22);
static_assert(offsetof(EngineOptions, AlwaysIPMSubtree) == 26);
static_assert(offsetof(EngineOptions, RemoveEmptyFolder) == 30);
static_assert(offsetof(EngineOptions, RecoverMultiPropInBatch) == 34);
static_assert(offsetof(EngineOptions, Level1Recovery) == 38);
static_assert(offsetof(EngineOptions, Level2Recovery) == 42);
static_assert(offsetof(EngineOptions, Level3Recovery) == 46);
static_assert(offsetof(EngineOptions, Level4Recovery) == 50);
static_assert(offsetof(EngineOptions, Level5Recovery) == 54);
static_assert(offsetof(EngineOptions, SourceKind) == 58);

// What the engine sends through the callback.
enum CallbackCode : std::int32_t {
  Progress = 0,           // data: one unsigned byte, 0..100
  SourceFile = 11,        // data: source path
  LogLine = 44,           // data: text; "-" asks for a separator line
  QueryAbort = 51,        // data: null; a nonzero result stops the run
  ErrorText = 53,         // data: text
  RecoveredCount = 57,    // data: one int32
  CloseMainWindow = 58,   // data: null
  ShowMessage = 200,      // data: text for a modal message box
};

// All texts are zero-terminated ANSI strings owned by the engine and valid
// only during the call. The result is read for QueryAbort only.
using EngineCallback = std::int32_t (*)(std::int32_t code, void* data, void* user);

// Six pointer-sized words: 24 bytes on 32-bit, 48 on 64-bit.
struct ArgumentBlock {
  std::uintptr_t words[6];
};
static_assert(sizeof(ArgumentBlock) == 6 * sizeof(void*));

enum ArgumentWord : int {
  kWordSourcePath = 0,
  kWordOptions = 1,
  kWordReserved = 2,
  kWordTargetPath = 3,
  kWordCallback = 4,
  kWordUser = 5,
};

// The same operation scrambles and unscrambles.
inline void scrambleArgumentBlock(ArgumentBlock& block) {
  auto* bytes = reinterpret_cast<unsigned char*>(&block);
  for (std::size_t i = 0; i < sizeof block; ++i) bytes[i] ^= kArgumentBlockKey;
}

// The line the window draws for a "-" log line.
inline constexpr const char* kSeparatorLine = "--------------------------------------------------------";

}  // namespace vexl

// The library's single export: runs one recovery from a scrambled argument
// block and returns 1 when anything was recovered, else 0.
extern "C" VEXL_EXPORT std::int32_t vexl_run(const void* scrambledBlock);
