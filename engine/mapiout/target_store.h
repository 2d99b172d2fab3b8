// TargetStore: the MAPI session, temporary profile and message store of one
// target PST file, with the store's standard folders. The driver reaches it
// only through this interface, so a run can be tested with a store that
// fails on purpose.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/core/engine_context.h"
#include "mapi/mapiinterfaces.h"

namespace vexl {

// PR_PST_ENCRYPTION value for no encryption.
inline constexpr std::uint32_t kPstNoEncryption = 0x80000000u;

// Keys of the standard folders: the entry-ID tags HrValidateIPMSubtree
// returns (0x00000102 is the Inbox's).
inline constexpr std::uint32_t kFolderIpmSubtree = 0x35E00102;
inline constexpr std::uint32_t kFolderInbox = 0x00000102;
inline constexpr std::uint32_t kFolderOutbox = 0x35E20102;
inline constexpr std::uint32_t kFolderDeletedItems = 0x35E30102;
inline constexpr std::uint32_t kFolderSentItems = 0x35E40102;
inline constexpr std::uint32_t kFolderViews = 0x35E50102;
inline constexpr std::uint32_t kFolderCommonViews = 0x35E60102;
inline constexpr std::uint32_t kFolderFinder = 0x35E70102;

class TargetStore {
 public:
  virtual ~TargetStore() = default;
  // Starts MAPI; false unless MAPIInitialize answered S_OK.
  virtual bool initialize() = 0;
  // Creates a new PST file at `path` (replacing any file of that name) and
  // opens its store; true when the IPM subtree folder is open.
  virtual bool create(const std::string& path, std::uint32_t encryption, const std::string& displayName,
                      const std::string& password, PstFormat format) = 0;
  // Releases the folders, the store, the session and the temporary profile;
  // create() may follow (the next split file).
  virtual void close() = 0;
  // close(), then shuts MAPI down.
  virtual void shutdown() = 0;

  // The open message store, or null. It belongs to the TargetStore.
  virtual mapi::IMsgStore* store() const { return nullptr; }
  // The open folder for a key above, or null; it belongs to the TargetStore.
  virtual mapi::IMAPIFolder* folder(std::uint32_t /*tag*/) const { return nullptr; }
  // The Inbox's display name found at create(), empty without an Inbox.
  virtual std::string inboxName() const { return {}; }
  // Creates or opens "Recovered_Group<n>" under the IPM subtree (n counts
  // from 1 for the whole process); the caller releases it. Null on failure.
  virtual mapi::IMAPIFolder* openGroupFolder() { return nullptr; }
  // Deletes the empty `folder` from `parent` by its PR_ENTRYID.
  virtual bool deleteFolder(mapi::IMAPIFolder* /*folder*/, mapi::IMAPIFolder* /*parent*/) { return false; }
  // The path of the open file, empty when none is open.
  virtual std::string openedPath() const { return {}; }
};

// The store over this library's MAPI subset.
std::unique_ptr<TargetStore> makeMapiTargetStore();

// Major version of the installed Outlook. There is no Outlook on this
// platform, so it answers 9 (which selects the ANSI format).
int probeOutlookVersion();

// The 8-bit text of string property `propId` of any MAPI object (the
// PT_STRING8 value, else the PT_UNICODE one converted), empty when absent.
std::string mapiStringProp(mapi::IMAPIProp* object, std::uint16_t propId);

// The name of the temporary profile of the open TargetStore, empty when
// none exists (one exists at a time in the process).
std::string currentTargetProfileName();

// Tests only: the next group folder is "Recovered_Group1" again, as in a
// fresh process.
void resetGroupFolderCounterForTesting();

}  // namespace vexl
