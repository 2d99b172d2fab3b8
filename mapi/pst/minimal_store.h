// A small messaging layer over the NDB and LTP writers: the nodes a new
// message store needs ([MS-PST] 2.7.1 "Mandatory nodes"), the template
// tables, the root folder with the IPM subtree, Deleted Items, the search
// root and common views, and folders and plain messages (subject, body,
// recipients, attachments by value) with their hierarchy, contents and
// associated-contents tables kept consistent with their children
// ([MS-PST] 2.4). The full MAPI store (named properties, embedded messages,
// search folders) grows from here.
#pragma once

#include <cstdint>
#include <array>
#include <map>
#include <memory>
#include <tuple>
#include <set>
#include <string>
#include <vector>

#include "mapi/pst/ndb_writer.h"
#include "mapi/pst/prop_types.h"
#include "mapi/pst/property_context.h"
#include "mapi/pst/table_context.h"

namespace vexl::pst {

inline constexpr Nid kNidMessageStore = 0x21;
inline constexpr Nid kNidNameToIdMap = 0x61;
inline constexpr Nid kNidRootFolder = 0x122;

struct RecipientSpec {
  std::string name;
  std::string email;
  std::int32_t type = 1;  // MAPI_TO
};

struct AttachmentSpec {
  std::string filename;
  std::vector<std::uint8_t> data;
};

// Property values as the LTP layer stores them, by their full tag. String
// values are in the store's string type (PT_UNICODE in Unicode files,
// PT_STRING8 in ANSI files); the MAPI layer converts before it hands them on.
using PropMap = std::map<PropTag, std::vector<std::uint8_t>>;

// A message as the MAPI layer saves it: its own properties, its recipients
// (one property map per row) and its attachments.
struct AttachmentData;
struct MessageData {
  PropMap props;
  std::vector<PropMap> recipients;
  std::vector<AttachmentData> attachments;
};
struct AttachmentData {
  PropMap props;
  // PR_ATTACH_DATA_OBJ ([MS-PST] 2.3.3.5, PtypObject): an embedded message,
  // or the bytes of an OLE compound file. At most one is used.
  std::shared_ptr<MessageData> embedded;
  std::vector<std::uint8_t> object;
  bool hasObject = false;
};

// A named property ([MS-PST] 2.4.7): a property set GUID and a number or a
// UTF-16LE name.
struct PropertyName {
  std::array<std::uint8_t, 16> guid{};
  bool isString = false;
  std::uint32_t lid = 0;
  std::vector<std::uint8_t> name;  // UTF-16LE, no terminator
  friend bool operator<(const PropertyName& a, const PropertyName& b) {
    return std::tie(a.guid, a.isString, a.lid, a.name) < std::tie(b.guid, b.isString, b.lid, b.name);
  }
};

enum class DeleteFolderResult { Deleted, NotFound, HasFolders, HasMessages, Refused };

struct MessageSpec {
  std::string messageClass = "IPM.Note";
  std::string subject;
  std::string body;
  std::string senderName;
  std::string senderEmail;
  std::uint64_t time = 0x01D9000000000000;  // FILETIME
  std::vector<RecipientSpec> recipients;
  std::vector<AttachmentSpec> attachments;
};

class MinimalStoreBuilder {
 public:
  MinimalStoreBuilder(NdbWriter& ndb, std::string displayName);

  // Writes the store, the name-to-ID map, templates and standard folders.
  void createStore();
  Nid ipmSubtree() const { return ipmSubtree_; }
  const std::string& displayName() const { return displayName_; }
  Nid deletedItems() const { return deletedItems_; }

  Nid addFolder(Nid parent, const std::string& name, const std::string& containerClass = "IPF.Note");
  // A plain message (one written through writeMessage).
  Nid addMessage(Nid folder, const MessageSpec& message);

  // --- The messaging layer under MAPI ---------------------------------------
  Nid rootFolder() const { return kNidRootFolder; }
  Nid searchRoot() const { return searchRoot_; }
  Nid commonViews() const { return commonViews_; }
  bool hasFolder(Nid nid) const { return folders_.count(nid) != 0; }
  Nid parentOf(Nid nid) const { return folders_.at(nid).parent; }
  const std::string& folderName(Nid nid) const { return folders_.at(nid).name; }
  std::size_t messageCount(Nid nid) const;
  std::size_t unreadCount(Nid nid) const { return folders_.at(nid).unread; }
  const std::vector<Nid>& childFolders(Nid nid) const { return folders_.at(nid).children; }
  // The child of `parent` whose display name equals `name` (ASCII case
  // folded, as folder names compare in MAPI), or 0.
  Nid findChildFolder(Nid parent, const std::string& name) const;
  // Sets folder properties; PR_DISPLAY_NAME and PR_CONTAINER_CLASS rename
  // and reclassify it. Folder counts are never taken from `props`.
  void setFolderProps(Nid nid, const PropMap& props);
  PropMap folderProps(Nid nid) const;
  // Removes an empty folder and its tables ([MS-PST] 2.4.4); the standard
  // folders are refused.
  DeleteFolderResult deleteFolder(Nid parent, Nid nid);

  // The standard folders that a full IPM tree has; creates those missing.
  struct StandardFolders {
    Nid inbox = 0, outbox = 0, sentItems = 0, views = 0;
  };
  const StandardFolders& ensureStandardFolders();

  // Store properties beyond those the store node already has.
  void setStoreProps(const PropMap& props);
  const PropMap& storeProps() const { return storeProps_; }

  // Messages: writes (or rewrites) message `nid` in `folder`.
  Nid allocateMessageNid() { return ndb_.allocateNid(NidType::NormalMessage); }
  // The NID of a new message of `folder` before its first save; the store
  // remembers it until the message is written or forgotten.
  Nid reserveMessageNid(Nid folder);
  void forgetMessageNid(Nid nid) { unsavedMessages_.erase(nid); }
  void writeMessage(Nid folder, Nid nid, const MessageData& message);
  // Removes message `nid` from `folder`: its node, its contents table row
  // and its share of the counts. A reserved NID whose message was never
  // written (its first save was refused) is removed as well: nothing of it
  // is in the file. False when `nid` is not a message of `folder`.
  bool deleteMessage(Nid folder, Nid nid);

  // Named properties: the id of `name` (0x8000 and up), 0 when the name is
  // unknown and `create` is false. The map node is rewritten at flush.
  std::uint16_t namedPropertyId(const PropertyName& name, bool create);
  std::size_t namedPropertyCount() const { return names_.size(); }

  // NID of an entry ID made by entryId() for this store, or 0.
  Nid nidFromEntryId(const std::uint8_t* bytes, std::size_t size) const;

  // Folders whose counts or tables changed are rewritten here, once per
  // flush rather than once per message; commit() flushes, then commits.
  void flush();
  void commit();

  // PT_UNICODE in Unicode files, PT_STRING8 in ANSI files.
  PropTag stringTag(std::uint16_t id) const { return makeTag(id, stringType_); }
  std::vector<std::uint8_t> entryId(Nid nid) const;

 private:
  struct Folder {
    std::string name;
    std::string containerClass;
    Nid parent = 0;
    std::vector<Nid> children;
    PropMap props;
    // The contents table grows row by row; rows are not kept in memory.
    std::shared_ptr<TableContextWriter> contents;
    std::size_t unread = 0;
    bool written = false;
  };
  Folder& newFolder(Nid nid, std::string name, std::string containerClass, Nid parent);
  void writeFolder(Nid nid);
  std::map<PropTag, std::vector<std::uint8_t>> hierarchyRow(Nid nid) const;
  std::vector<PropTag> tags(std::initializer_list<PropTag> list) const;
  std::vector<PropTag> hierarchyColumns() const;
  std::vector<PropTag> contentsColumns() const;
  std::vector<PropTag> assocColumns() const;
  std::vector<PropTag> searchContentsColumns() const;
  std::vector<PropTag> attachmentColumns() const;
  std::vector<PropTag> recipientColumns() const;
  void put(Nid nid, Nid parent, const NodeContent& content);
  void writeStoreNode();
  void writeNameMap();
  NodeContent buildMessage(const MessageData& m, SubnodeNids& nids) const;
  PropMap computedMessageProps(const MessageData& m) const;
  PropMap contentsRow(const PropMap& props) const;

  NdbWriter& ndb_;
  std::set<Nid> dirty_;
  std::string displayName_;
  PropType stringType_;
  std::vector<std::uint8_t> recordKey_;
  std::map<Nid, Folder> folders_;
  std::map<Nid, Nid> unsavedMessages_;  // reserved message NID -> folder
  PropMap storeProps_;
  bool storeDirty_ = false;
  std::map<PropertyName, std::uint16_t> names_;
  std::vector<PropertyName> nameOrder_;
  bool namesDirty_ = false;
  StandardFolders standard_;
  Nid ipmSubtree_ = 0, deletedItems_ = 0, searchRoot_ = 0, commonViews_ = 0;
};

}  // namespace vexl::pst
