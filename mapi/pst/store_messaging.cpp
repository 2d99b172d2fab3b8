// The part of MinimalStoreBuilder that the MAPI layer drives: folder
// properties and deletion, the standard IPM folders, store properties,
// messages given as property maps (recipients, attachments, embedded
// messages, OLE objects) and the name-to-ID map.
#include <algorithm>
#include <cctype>

#include "engine/core/code_page.h"
#include "mapi/pst/minimal_store.h"
#include "mapi/pst/ndb_crypt.h"
#include "mapi/pst/property_context.h"
#include "mapi/pst/pst_error.h"
#include "mapi/pst/table_context.h"

namespace vexl::pst {

namespace {

constexpr Nid kNidAttachmentTable = 0x671;
constexpr Nid kNidRecipientTable = 0x692;
constexpr std::uint32_t kNameBuckets = 251;

constexpr std::uint16_t idDisplayName = 0x3001, idContainerClass = 0x3613, idMessageClass = 0x001A,
                        idRecipientType = 0x0C15, idDisplayBcc = 0x0E02, idDisplayCc = 0x0E03,
                        idDisplayTo = 0x0E04, idMessageFlags = 0x0E07, idMessageSize = 0x0E08,
                        idHasAttach = 0x0E1B, idAttachSize = 0x0E20, idAttachDataObj = 0x3701,
                        idAttachMethod = 0x3705, idRenderingPosition = 0x370B, idRowId = 0x3000,
                        idValidFolderMask = 0x35DF, idOutbox = 0x35E2, idSentMail = 0x35E4, idViews = 0x35E5;

constexpr std::int32_t kMsgFlagRead = 0x01, kMsgFlagHasAttach = 0x10;

std::string lowerAscii(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::int32_t readInt32(const std::vector<std::uint8_t>& v) {
  if (v.size() < 4) return 0;
  return static_cast<std::int32_t>(std::uint32_t{v[0]} | std::uint32_t{v[1]} << 8 | std::uint32_t{v[2]} << 16 |
                                   std::uint32_t{v[3]} << 24);
}

// The display name of a recipient as UTF-8-free bytes of the store's type:
// joined as stored, with "; " in the store's string type.
void appendName(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& name, PropType type) {
  if (!out.empty()) {
    const std::vector<std::uint8_t> sep = value::string(type, "; ");
    out.insert(out.end(), sep.begin(), sep.end());
  }
  out.insert(out.end(), name.begin(), name.end());
}

std::size_t propBytes(const PropMap& props) {
  std::size_t n = 0;
  for (const auto& [tag, bytes] : props) n += bytes.size() + 8;
  return n;
}

std::size_t messageBytes(const MessageData& m) {
  std::size_t n = propBytes(m.props);
  for (const auto& r : m.recipients) n += propBytes(r);
  for (const auto& a : m.attachments) {
    n += propBytes(a.props) + a.object.size();
    if (a.embedded) n += messageBytes(*a.embedded);
  }
  return n;
}

}  // namespace

Nid MinimalStoreBuilder::findChildFolder(Nid parent, const std::string& name) const {
  const std::string wanted = lowerAscii(name);
  for (Nid child : folders_.at(parent).children)
    if (lowerAscii(folders_.at(child).name) == wanted) return child;
  return 0;
}

void MinimalStoreBuilder::setFolderProps(Nid nid, const PropMap& props) {
  Folder& folder = folders_.at(nid);
  for (const auto& [tag, bytes] : props) {
    const std::uint16_t id = tagId(tag);
    // Counts and the subfolder flag follow the folder's children.
    if (id == 0x3602 || id == 0x3603 || id == 0x360A || id == 0x3617) continue;
    std::string text;
    if (tagType(tag) == pt::String8 || tagType(tag) == pt::Unicode) {
      // The folder keeps its texts in UTF-8; ANSI values are in the system
      // ANSI code page, Unicode values UTF-16LE.
      if (tagType(tag) == pt::String8) {
        text = ansiToUtf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
      } else {
        std::u16string wide;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
          wide.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        text = utf16ToUtf8(wide);
      }
      if (id == idDisplayName) {
        folder.name = text;
        continue;
      }
      if (id == idContainerClass) {
        folder.containerClass = text;
        continue;
      }
    }
    folder.props[tag] = bytes;
  }
  dirty_.insert(nid);
  if (folder.parent != nid) dirty_.insert(folder.parent);
}

PropMap MinimalStoreBuilder::folderProps(Nid nid) const {
  const Folder& folder = folders_.at(nid);
  PropMap props = folder.props;
  props[stringTag(idDisplayName)] = value::string(stringType_, folder.name);
  if (!folder.containerClass.empty())
    props[stringTag(idContainerClass)] = value::string(stringType_, folder.containerClass);
  props[makeTag(0x3602, pt::Long)] = value::int32(static_cast<std::int32_t>(messageCount(nid)));
  props[makeTag(0x3603, pt::Long)] = value::int32(static_cast<std::int32_t>(folder.unread));
  props[makeTag(0x360A, pt::Boolean)] = value::boolean(!folder.children.empty());
  return props;
}

DeleteFolderResult MinimalStoreBuilder::deleteFolder(Nid parent, Nid nid) {
  auto it = folders_.find(nid);
  if (it == folders_.end() || it->second.parent != parent || nid == parent) return DeleteFolderResult::NotFound;
  if (nid == kNidRootFolder || nid == ipmSubtree_ || nid == deletedItems_ || nid == searchRoot_ ||
      nid == commonViews_ || nid == standard_.inbox || nid == standard_.outbox || nid == standard_.sentItems ||
      nid == standard_.views)
    return DeleteFolderResult::Refused;
  if (!it->second.children.empty()) return DeleteFolderResult::HasFolders;
  if (messageCount(nid) != 0) return DeleteFolderResult::HasMessages;
  for (Nid table : {nid, withType(nid, NidType::HierarchyTable), withType(nid, NidType::ContentsTable),
                    withType(nid, NidType::AssocContentsTable)})
    if (ndb_.findNode(table)) ndb_.deleteNode(table);
  auto& siblings = folders_.at(parent).children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), nid), siblings.end());
  folders_.erase(it);
  dirty_.erase(nid);
  dirty_.insert(parent);
  return DeleteFolderResult::Deleted;
}

const MinimalStoreBuilder::StandardFolders& MinimalStoreBuilder::ensureStandardFolders() {
  if (standard_.inbox != 0) return standard_;
  standard_.inbox = addFolder(ipmSubtree_, "Inbox", "IPF.Note");
  standard_.outbox = addFolder(ipmSubtree_, "Outbox", "IPF.Note");
  standard_.sentItems = addFolder(ipmSubtree_, "Sent Items", "IPF.Note");
  standard_.views = addFolder(kNidRootFolder, "IPM_VIEWS", "");
  storeDirty_ = true;
  return standard_;
}

void MinimalStoreBuilder::setStoreProps(const PropMap& props) {
  for (const auto& [tag, bytes] : props) storeProps_[tag] = bytes;
  storeDirty_ = true;
}

void MinimalStoreBuilder::writeStoreNode() {
  // The message store ([MS-PST] 2.4.3).
  PropertyContextBuilder store(ndb_.format());
  for (const auto& [tag, bytes] : storeProps_) store.set(tag, bytes);
  store.set(makeTag(0x0FF9, pt::Binary), recordKey_);
  if (!store.has(idDisplayName)) store.setString(stringTag(idDisplayName), displayName_);
  store.set(makeTag(0x35E0, pt::Binary), entryId(ipmSubtree_));
  store.set(makeTag(0x35E3, pt::Binary), entryId(deletedItems_));
  store.set(makeTag(0x35E6, pt::Binary), entryId(commonViews_));
  store.set(makeTag(0x35E7, pt::Binary), entryId(searchRoot_));
  std::int32_t mask = 0x01 | 0x08 | 0x40 | 0x80;
  if (standard_.inbox != 0) {
    store.set(makeTag(idOutbox, pt::Binary), entryId(standard_.outbox));
    store.set(makeTag(idSentMail, pt::Binary), entryId(standard_.sentItems));
    store.set(makeTag(idViews, pt::Binary), entryId(standard_.views));
    mask = 0xFF;
  }
  store.setInt32(makeTag(idValidFolderMask, pt::Long), mask);
  store.setInt32(makeTag(0x67FF, pt::Long), 0);  // PidTagPstPassword: none
  put(kNidMessageStore, 0, store.build());
  storeDirty_ = false;
}

std::uint16_t MinimalStoreBuilder::namedPropertyId(const PropertyName& name, bool create) {
  auto it = names_.find(name);
  if (it != names_.end()) return it->second;
  if (!create) return 0;
  if (nameOrder_.size() >= 0x7FFF) throw PstError(PstErrorCode::InvalidArgument, "the named property map is full");
  const auto id = static_cast<std::uint16_t>(0x8000 + nameOrder_.size());
  names_.emplace(name, id);
  nameOrder_.push_back(name);
  namesDirty_ = true;
  return id;
}

void MinimalStoreBuilder::writeNameMap() {
  // [MS-PST] 2.4.7: the GUID, entry and string streams, and the hash
  // buckets. wGuid 1 is PS_MAPI, 2 PS_PUBLIC_STRINGS, 3 and up index the
  // GUID stream.
  static constexpr std::array<std::uint8_t, 16> kPsMapi{0x28, 0x03, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  static constexpr std::array<std::uint8_t, 16> kPsPublicStrings{0x29, 0x03, 0x02, 0, 0,    0, 0, 0,
                                                                 0xC0, 0,    0,    0, 0,    0, 0, 0x46};
  std::vector<std::uint8_t> guids, entries, strings;
  std::vector<std::vector<std::uint8_t>> buckets(kNameBuckets);
  std::vector<std::array<std::uint8_t, 16>> guidList;
  auto put32 = [](std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
  };
  auto put16 = [](std::vector<std::uint8_t>& v, std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
  };
  for (std::size_t index = 0; index < nameOrder_.size(); ++index) {
    const PropertyName& n = nameOrder_[index];
    std::uint16_t wGuid = 0;
    if (n.guid == kPsMapi) {
      wGuid = 1;
    } else if (n.guid == kPsPublicStrings) {
      wGuid = 2;
    } else {
      auto g = std::find(guidList.begin(), guidList.end(), n.guid);
      if (g == guidList.end()) {
        guidList.push_back(n.guid);
        guids.insert(guids.end(), n.guid.begin(), n.guid.end());
        g = guidList.end() - 1;
      }
      wGuid = static_cast<std::uint16_t>(3 + (g - guidList.begin()));
    }
    const std::uint16_t guidField = static_cast<std::uint16_t>((wGuid << 1) | (n.isString ? 1 : 0));
    std::uint32_t key = n.lid;
    std::uint32_t hashKey = n.lid;
    if (n.isString) {
      key = static_cast<std::uint32_t>(strings.size());
      put32(strings, static_cast<std::uint32_t>(n.name.size()));
      strings.insert(strings.end(), n.name.begin(), n.name.end());
      while (strings.size() % 4 != 0) strings.push_back(0);
      hashKey = computeCrc(n.name);
    }
    put32(entries, key);
    put16(entries, guidField);
    put16(entries, static_cast<std::uint16_t>(index));
    // Bucket records carry the string's hash in place of its offset.
    auto& bucket = buckets[(hashKey ^ guidField) % kNameBuckets];
    put32(bucket, hashKey);
    put16(bucket, guidField);
    put16(bucket, static_cast<std::uint16_t>(index));
  }
  PropertyContextBuilder names(ndb_.format());
  names.setInt32(makeTag(0x0001, pt::Long), static_cast<std::int32_t>(kNameBuckets));
  names.set(makeTag(0x0002, pt::Binary), guids);
  names.set(makeTag(0x0003, pt::Binary), entries);
  names.set(makeTag(0x0004, pt::Binary), strings);
  for (std::uint32_t b = 0; b < kNameBuckets; ++b)
    names.set(makeTag(static_cast<std::uint16_t>(0x1000 + b), pt::Binary), buckets[b]);
  put(kNidNameToIdMap, 0, names.build());
  namesDirty_ = false;
}

Nid MinimalStoreBuilder::nidFromEntryId(const std::uint8_t* bytes, std::size_t size) const {
  if (bytes == nullptr || size != 24) return 0;
  if (!std::equal(recordKey_.begin(), recordKey_.end(), bytes + 4)) return 0;
  return std::uint32_t{bytes[20]} | std::uint32_t{bytes[21]} << 8 | std::uint32_t{bytes[22]} << 16 |
         std::uint32_t{bytes[23]} << 24;
}

PropMap MinimalStoreBuilder::computedMessageProps(const MessageData& m) const {
  PropMap props = m.props;
  const PropType s = stringType_;
  if (!props.count(makeTag(idMessageClass, s))) props[makeTag(idMessageClass, s)] = value::string(s, "IPM.Note");
  std::vector<std::uint8_t> to, cc, bcc;
  for (const auto& r : m.recipients) {
    auto name = r.find(makeTag(idDisplayName, s));
    auto type = r.find(makeTag(idRecipientType, pt::Long));
    if (name == r.end()) continue;
    const std::int32_t t = type == r.end() ? 1 : readInt32(type->second);
    appendName(t == 2 ? cc : t == 3 ? bcc : to, name->second, s);
  }
  props[makeTag(idDisplayTo, s)] = to;
  props[makeTag(idDisplayCc, s)] = cc;
  props[makeTag(idDisplayBcc, s)] = bcc;
  auto flagsIt = props.find(makeTag(idMessageFlags, pt::Long));
  std::int32_t flags = flagsIt == props.end() ? kMsgFlagRead : readInt32(flagsIt->second);
  flags = m.attachments.empty() ? (flags & ~kMsgFlagHasAttach) : (flags | kMsgFlagHasAttach);
  props[makeTag(idMessageFlags, pt::Long)] = value::int32(flags);
  props[makeTag(idHasAttach, pt::Boolean)] = value::boolean(!m.attachments.empty());
  props[makeTag(idMessageSize, pt::Long)] =
      value::int32(static_cast<std::int32_t>(std::min<std::size_t>(messageBytes(m), 0x7FFFFFFF)));
  return props;
}

PropMap MinimalStoreBuilder::contentsRow(const PropMap& props) const {
  PropMap row;
  for (PropTag col : contentsColumns()) {
    auto it = props.find(col);
    if (it != props.end()) row[col] = it->second;
  }
  return row;
}

NodeContent MinimalStoreBuilder::buildMessage(const MessageData& m, SubnodeNids& nids) const {
  const NdbFormat& f = ndb_.format();
  NodeContent node;

  // Recipients ([MS-PST] 2.4.5.2): the template's columns and every other
  // tag a row carries; PR_ROWID numbers the rows.
  std::vector<PropTag> columns = recipientColumns();
  const PropTag rowIdTag = makeTag(idRowId, pt::Long);
  auto addColumn = [&columns](PropTag tag) {
    if (std::find(columns.begin(), columns.end(), tag) == columns.end()) columns.push_back(tag);
  };
  addColumn(rowIdTag);
  for (const auto& r : m.recipients)
    for (const auto& [tag, bytes] : r) addColumn(tag);
  TableContextBuilder recipients(f, columns);
  for (std::size_t i = 0; i < m.recipients.size(); ++i) {
    PropMap row = m.recipients[i];
    row[rowIdTag] = value::int32(static_cast<std::int32_t>(i));
    recipients.addRow(static_cast<std::uint32_t>(i), row);
  }
  SubnodeContent recipientNode{kNidRecipientTable, {}};
  recipients.build(recipientNode.content, nids);
  node.subnodes.push_back(std::move(recipientNode));

  // Attachments ([MS-PST] 2.4.6): one PC subnode each, and the table.
  if (!m.attachments.empty()) {
    TableContextBuilder table(f, attachmentColumns());
    for (const auto& a : m.attachments) {
      const Nid attachNid = nids.allocate(NidType::Attachment);
      SubnodeContent attach{attachNid, {}};
      SubnodeNids inner;
      PropertyContextBuilder pc(f);
      for (const auto& [tag, bytes] : a.props) pc.set(tag, bytes);
      std::size_t size = propBytes(a.props);
      if (a.embedded || a.hasObject) {
        // PtypObject ([MS-PST] 2.3.3.5): the NID of a subnode of the
        // attachment and the size of the object.
        SubnodeContent object{inner.allocate(NidType::NormalMessage), {}};
        std::uint32_t objectSize = 0;
        if (a.embedded) {
          SubnodeNids embeddedNids;
          object.content = buildMessage(*a.embedded, embeddedNids);
          objectSize = static_cast<std::uint32_t>(std::min<std::size_t>(messageBytes(*a.embedded), 0xFFFFFFFF));
        } else {
          object.nid = withType(object.nid, NidType::Ltp);
          const std::size_t max = f.maxBlockPayload();
          for (std::size_t at = 0; at < a.object.size(); at += max)
            object.content.blocks.emplace_back(
                a.object.begin() + static_cast<std::ptrdiff_t>(at),
                a.object.begin() + static_cast<std::ptrdiff_t>(std::min(a.object.size(), at + max)));
          objectSize = static_cast<std::uint32_t>(a.object.size());
        }
        size += objectSize;
        std::vector<std::uint8_t> ref = value::uint32(object.nid);
        for (std::uint8_t b : value::uint32(objectSize)) ref.push_back(b);
        pc.set(makeTag(idAttachDataObj, pt::Object), ref);
        attach.content.subnodes.push_back(std::move(object));
      } else if (!pc.has(idAttachDataObj)) {
        // [MS-PST] 2.4.6.2 requires the attachment's data. One whose data
        // was lost (a recovery may have only its name and method) gets an
        // empty PR_ATTACH_DATA_BIN, so readers still open the attachment.
        pc.set(makeTag(idAttachDataObj, pt::Binary), {});
      }
      const std::int32_t method = a.embedded ? 5 : a.hasObject ? 6 : 1;
      if (!pc.has(idAttachMethod)) pc.setInt32(makeTag(idAttachMethod, pt::Long), method);
      const std::int32_t attachSize = static_cast<std::int32_t>(std::min<std::size_t>(size, 0x7FFFFFFF));
      if (!pc.has(idAttachSize)) pc.setInt32(makeTag(idAttachSize, pt::Long), attachSize);
      if (!pc.has(idRenderingPosition)) pc.setInt32(makeTag(idRenderingPosition, pt::Long), -1);
      pc.build(attach.content, inner);
      node.subnodes.push_back(std::move(attach));

      PropMap row;
      for (PropTag col : attachmentColumns()) {
        auto it = a.props.find(col);
        if (it != a.props.end()) row[col] = it->second;
      }
      if (!row.count(makeTag(idAttachSize, pt::Long))) row[makeTag(idAttachSize, pt::Long)] = value::int32(attachSize);
      if (!row.count(makeTag(idRenderingPosition, pt::Long)))
        row[makeTag(idRenderingPosition, pt::Long)] = value::int32(-1);
      if (!row.count(makeTag(idAttachMethod, pt::Long))) row[makeTag(idAttachMethod, pt::Long)] = value::int32(method);
      table.addRow(attachNid, row);
    }
    SubnodeContent tableNode{kNidAttachmentTable, {}};
    table.build(tableNode.content, nids);
    node.subnodes.push_back(std::move(tableNode));
  }

  PropertyContextBuilder pc(f);
  for (const auto& [tag, bytes] : computedMessageProps(m)) pc.set(tag, bytes);
  pc.build(node, nids);
  return node;
}

void MinimalStoreBuilder::writeMessage(Nid folderNid, Nid nid, const MessageData& m) {
  Folder& folder = folders_.at(folderNid);
  SubnodeNids nids;
  const NodeContent node = buildMessage(m, nids);
  const PropMap row = contentsRow(computedMessageProps(m));
  const PropTag flagsTag = makeTag(idMessageFlags, pt::Long);
  auto unread = [](const std::vector<std::uint8_t>& flags) { return (readInt32(flags) & kMsgFlagRead) == 0; };
  // A message saved again keeps its row; PR_CONTENT_UNREAD follows its flags.
  const auto old = folder.contents->cell(nid, flagsTag);
  // Refused before the node is written, so no message is left without a row.
  if (!folder.contents->hasRow(nid) && folder.contents->rowCount() >= folder.contents->rowLimit())
    throw PstError(PstErrorCode::TooMuchData, "the folder holds as many messages as its contents table can");
  put(nid, folderNid, node);
  unsavedMessages_.erase(nid);
  folder.contents->setRow(nid, row);
  if (old && unread(*old)) --folder.unread;
  if (unread(row.at(flagsTag))) ++folder.unread;
  dirty_.insert(folderNid);
}

Nid MinimalStoreBuilder::reserveMessageNid(Nid folder) {
  const Nid nid = allocateMessageNid();
  unsavedMessages_[nid] = folder;
  return nid;
}

bool MinimalStoreBuilder::deleteMessage(Nid folderNid, Nid nid) {
  auto f = folders_.find(folderNid);
  if (f == folders_.end() || nidType(nid) != NidType::NormalMessage) return false;
  Folder& folder = f->second;
  const NbtEntry* node = ndb_.findNode(nid);
  const bool hasRow = folder.contents->hasRow(nid);
  if (node && node->parent != folderNid) return false;
  if (!node && !hasRow) {
    auto unsaved = unsavedMessages_.find(nid);
    if (unsaved == unsavedMessages_.end() || unsaved->second != folderNid) return false;
    unsavedMessages_.erase(unsaved);
    return true;
  }
  if (hasRow) {
    const auto flags = folder.contents->cell(nid, makeTag(idMessageFlags, pt::Long));
    if (flags && (readInt32(*flags) & kMsgFlagRead) == 0 && folder.unread > 0) --folder.unread;
    folder.contents->deleteRow(nid);
  }
  if (node) ndb_.deleteNode(nid);
  dirty_.insert(folderNid);
  return true;
}

}  // namespace vexl::pst
