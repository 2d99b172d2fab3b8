// The walk that writes the source mailbox into one target file: the store
// step (display name, special folders), folders with their placeholders and
// the removal of folders that received nothing, messages with recipients
// and attachments, and attachments whose message is lost.
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/engine_context.h"
#include "engine/mailbox/run_state.h"
#include "engine/mapiout/prop_copy.h"
#include "engine/mapiout/target_store.h"
#include "engine/ndb/ndb_format.h"

namespace vexl {

inline constexpr std::uint32_t kNidMessageStore = 0x21;
inline constexpr std::uint32_t kNidRootFolder = 0x122;
inline constexpr std::uint32_t kNidOfflineIpmSubtree = 0x2142;
inline constexpr std::uint32_t kNidAttachmentTable = 0x671;
inline constexpr std::uint32_t kNidRecipientTable = 0x692;

// Folders nested deeper than this below the root are left unused (for the
// lost-and-found passes) instead of being recursed into: a hostile parent
// chain must not exhaust the stack.
inline constexpr int kMaxFolderDepth = 256;
// Embedded messages nested deeper than this are not filled: an object
// subnode that leads back to an ancestor's (a hostile file) must end.
inline constexpr int kMaxEmbeddingDepth = 32;

// True for "Recovered_Folder" followed by 1 or more digits that make an
// unsigned 32-bit number.
bool isPlaceholderText(const std::string& name);
// The next placeholder folder name; the counter belongs to the process.
std::string nextPlaceholderName();

class MailboxWriter {
 public:
  MailboxWriter(EngineContext& engine, NdbFormat& ndb, TargetStore& store, MailboxRunState& state);

  // Store step: 1 when the store node was read.
  int recoverStore();
  // Root walk: items recovered.
  std::int32_t recoverMessages();
  // Looks `nid` up and dispatches it by kind into `parent`; 0 for a zero,
  // unknown or used NID.
  std::int32_t recoverNode(std::uint32_t nid, mapi::IMAPIFolder* parent);
  // Dispatch of an opened node by its NID type.
  std::int32_t recoverByKind(NdbNode& node, mapi::IMAPIFolder* parent, int depth = 0);
  // Opens `node`, dispatches it and closes it again: its subnodes are
  // needed only while it is written, and the walk and the passes visit
  // every node of the index, so what they open must not stay loaded.
  std::int32_t recoverOpened(NdbNode& node, mapi::IMAPIFolder* parent, int depth = 0);

  std::int32_t recoverFolder(NdbNode& node, mapi::IMAPIFolder* parent, int depth = 0);
  std::int32_t recoverMessage(NdbNode& node, mapi::IMAPIFolder* parent);
  std::int32_t recoverOrphanAttachment(NdbNode& node, mapi::IMAPIFolder* parent);
  // Fills `message`, an embedded message the object copy opened on an
  // attachment, like a message (properties, attachments, recipients) and
  // saves it; the caller keeps the message. 1 on success.
  std::int32_t recoverEmbeddedMessage(NdbNode& node, mapi::IMessage* message);
  void recoverAttachments(NdbNode& node, mapi::IMessage* message);
  void recoverRecipients(NdbNode& node, mapi::IMessage* message);

  // Reads the folder's PR_DISPLAY_NAME and applies isPlaceholderText.
  static bool isPlaceholderName(mapi::IMAPIFolder* folder);

 private:
  PropCopySettings settings();
  // PT_OBJECT properties: OLE storages and embedded messages.
  ObjectCopy objectCopy();
  void setDefaultMessageClass(mapi::IMessage* message);
  void attachSubnode(NdbNode& subnode, mapi::IMessage* message);
  void checkSize();

  EngineContext& engine_;
  NdbFormat& ndb_;
  TargetStore& store_;
  MailboxRunState& state_;
  int embeddingDepth_ = 0;
};

}  // namespace vexl
