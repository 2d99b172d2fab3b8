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
#include <map>
#include <set>
#include <string>
#include <vector>

#include "mapi/pst/ndb_writer.h"
#include "mapi/pst/prop_types.h"

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
  Nid deletedItems() const { return deletedItems_; }

  Nid addFolder(Nid parent, const std::string& name, const std::string& containerClass = "IPF.Note");
  Nid addMessage(Nid folder, const MessageSpec& message);

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
    std::vector<std::pair<Nid, std::map<PropTag, std::vector<std::uint8_t>>>> contentRows;
    bool written = false;
  };
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

  NdbWriter& ndb_;
  std::set<Nid> dirty_;
  std::string displayName_;
  PropType stringType_;
  std::vector<std::uint8_t> recordKey_;
  std::map<Nid, Folder> folders_;
  Nid ipmSubtree_ = 0, deletedItems_ = 0, searchRoot_ = 0, commonViews_ = 0;
};

}  // namespace vexl::pst
