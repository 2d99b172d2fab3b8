// NdbFormat: everything that depends on the [MS-PST] NDB variant (ANSI or
// Unicode) behind one interface. This first form only carries what the
// driver calls; the scan and the index rebuild fill it in.
#pragma once

#include <cstdint>

#include "engine/core/engine_context.h"
#include "engine/file/file64_ex.h"

namespace vexl {

class NdbFormat {
 public:
  NdbFormat(EngineContext& engine, CFile64Ex& source) : engine_(engine), source_(source) {}
  virtual ~NdbFormat() = default;
  NdbFormat(const NdbFormat&) = delete;
  NdbFormat& operator=(const NdbFormat&) = delete;

  // The whole-file scan followed by the index rebuild; the number of
  // structures found (0: nothing to recover).
  virtual std::uint32_t scanFile(std::uint8_t startPercent, std::uint32_t divisor) = 0;
  virtual std::uint32_t collectDataTreeRoots() = 0;
  virtual std::uint32_t collectSubnodeTreeRoots() = 0;

 protected:
  EngineContext& engine_;
  CFile64Ex& source_;
};

class AnsiNdbFormat final : public NdbFormat {
 public:
  using NdbFormat::NdbFormat;
  std::uint32_t scanFile(std::uint8_t, std::uint32_t) override { return 0; }
  std::uint32_t collectDataTreeRoots() override { return 0; }
  std::uint32_t collectSubnodeTreeRoots() override { return 0; }
};

class UnicodeNdbFormat final : public NdbFormat {
 public:
  using NdbFormat::NdbFormat;
  std::uint32_t scanFile(std::uint8_t, std::uint32_t) override { return 0; }
  std::uint32_t collectDataTreeRoots() override { return 0; }
  std::uint32_t collectSubnodeTreeRoots() override { return 0; }
};

// 32 for ANSI, 64 for Unicode.
inline std::uint8_t decideVariant(EngineContext&, CFile64Ex&, AnsiNdbFormat&, UnicodeNdbFormat&,
                                  std::uint8_t /*startPercent*/, std::uint32_t /*divisor*/) {
  return 32;
}

}  // namespace vexl
