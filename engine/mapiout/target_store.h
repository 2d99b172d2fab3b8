// TargetStore: the MAPI session, temporary profile and message store of one
// target PST file. The driver reaches it only through this interface, so a
// run can be tested with a store that fails on purpose.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/core/engine_context.h"

namespace vexl {

// PR_PST_ENCRYPTION value for no encryption.
inline constexpr std::uint32_t kPstNoEncryption = 0x80000000u;

class TargetStore {
 public:
  virtual ~TargetStore() = default;
  // Starts MAPI; false unless MAPIInitialize answered S_OK.
  virtual bool initialize() = 0;
  // Creates a new PST file at `path` (replacing any file of that name) and
  // opens its store; false on failure.
  virtual bool create(const std::string& path, std::uint32_t encryption, const std::string& displayName,
                      const std::string& password, PstFormat format) = 0;
  // Releases the store, the session and the temporary profile.
  virtual void close() = 0;
  // close(), then shuts MAPI down.
  virtual void shutdown() = 0;
};

// The store over this library's MAPI subset.
std::unique_ptr<TargetStore> makeMapiTargetStore();

// Major version of the installed Outlook. There is no Outlook on this
// platform, so it answers 9 (which selects the ANSI format).
int probeOutlookVersion();

}  // namespace vexl
