#include "mapi/pst/minimal_store.h"

#include <algorithm>
#include <cctype>
#include <random>

#include "mapi/pst/property_context.h"
#include "mapi/pst/table_context.h"

namespace vexl::pst {

namespace {

// Fixed NIDs ([MS-PST] 2.4.1).
constexpr Nid kNidSearchManagementQueue = 0x1E1;
constexpr Nid kNidSearchDomainObject = 0x261;
constexpr Nid kNidHierarchyTemplate = 0x60D;
constexpr Nid kNidContentsTemplate = 0x60E;
constexpr Nid kNidAssocContentsTemplate = 0x60F;
constexpr Nid kNidSearchContentsTemplate = 0x610;
constexpr Nid kNidAttachmentTable = 0x671;
constexpr Nid kNidRecipientTable = 0x692;

// Property ids used here.
constexpr std::uint16_t idMessageClass = 0x001A, idSubject = 0x0037, idImportance = 0x0017,
                        idSensitivity = 0x0036, idSentRepresentingName = 0x0042, idConversationTopic = 0x0070,
                        idClientSubmitTime = 0x0039, idSenderName = 0x0C1A, idSenderEmail = 0x0C1F,
                        idSenderAddrType = 0x0C1E, idRecipientType = 0x0C15, idDeliveryTime = 0x0E06,
                        idMessageFlags = 0x0E07, idResponsibility = 0x0E0F, idMessageStatus = 0x0E17,
                        idObjectType = 0x0FFE,
                        idBody = 0x1000, idDisplayName = 0x3001, idAddrType = 0x3002, idEmailAddress = 0x3003,
                        idCreationTime = 0x3007, idLastModificationTime = 0x3008, idSearchKey = 0x300B,
                        idContentCount = 0x3602, idContentUnread = 0x3603, idSubfolders = 0x360A,
                        idContainerClass = 0x3613, idAttachDataBin = 0x3701, idAttachFilename = 0x3704,
                        idAttachMethod = 0x3705, idAttachLongFilename = 0x3707, idDisplayType = 0x3900,
                        idTransmittableDisplayName = 0x39FF, idSendRichInfo = 0x3A40;

constexpr PropTag L(std::uint16_t id) { return makeTag(id, pt::Long); }
constexpr PropTag B(std::uint16_t id) { return makeTag(id, pt::Boolean); }
constexpr PropTag T(std::uint16_t id) { return makeTag(id, pt::SysTime); }
constexpr PropTag Bin(std::uint16_t id) { return makeTag(id, pt::Binary); }

}  // namespace

MinimalStoreBuilder::MinimalStoreBuilder(NdbWriter& ndb, std::string displayName)
    : ndb_(ndb),
      displayName_(std::move(displayName)),
      stringType_(ndb.format().variant == Variant::Unicode ? pt::Unicode : pt::String8) {
  std::random_device rd;
  for (int i = 0; i < 16; ++i) recordKey_.push_back(static_cast<std::uint8_t>(rd()));
}

std::vector<std::uint8_t> MinimalStoreBuilder::entryId(Nid nid) const {
  // rgbFlags, the store's record key (its provider UID), the NID.
  std::vector<std::uint8_t> id(24, 0);
  std::copy(recordKey_.begin(), recordKey_.end(), id.begin() + 4);
  for (int i = 0; i < 4; ++i) id[20 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(nid >> (8 * i));
  return id;
}

std::vector<PropTag> MinimalStoreBuilder::tags(std::initializer_list<PropTag> list) const {
  std::vector<PropTag> out;
  for (PropTag t : list) {
    if (tagType(t) == pt::Unicode) t = makeTag(tagId(t), stringType_);
    if (tagType(t) == (pt::Unicode | pt::MultiValued)) t = makeTag(tagId(t), stringType_ | pt::MultiValued);
    out.push_back(t);
  }
  return out;
}

// Column sets of Outlook's template tables, in Outlook's layout order.
std::vector<PropTag> MinimalStoreBuilder::hierarchyColumns() const {
  return tags({0x3001001F, 0x36020003, 0x36030003, 0x0E300102, 0x0E330014, 0x0E340102, 0x0E380003, 0x3613001F,
               0x66350003, 0x66360003, 0x360A000B});
}
std::vector<PropTag> MinimalStoreBuilder::contentsColumns() const {
  return tags({0x0E170003, 0x001A001F, 0x0E070003, 0x00170003, 0x0042001F, 0x0037001F, 0x0E060040, 0x00390040,
               0x0E080003, 0x0E04001F, 0x0E03001F, 0x00360003, 0x10970003, 0x0070001F, 0x00710102, 0x30130102,
               0x65C60003, 0x30080040, 0x0E300102, 0x0E330014, 0x0E340102, 0x0E3D0102, 0x0E3C0102, 0x0E380003,
               0x0057000B, 0x0058000B});
}
std::vector<PropTag> MinimalStoreBuilder::assocColumns() const {
  return tags({0x0E170003, 0x001A001F, 0x0E070003, 0x3001001F, 0x70030003, 0x70040102, 0x70050102, 0x7006001F,
               0x70070003, 0x6800001F, 0x68051003, 0x682F001F, 0x6803000B});
}
std::vector<PropTag> MinimalStoreBuilder::searchContentsColumns() const {
  return tags({0x67F10003, 0x0E05001F, 0x0E170003, 0x001A001F, 0x0E070003, 0x00170003, 0x0042001F, 0x0037001F,
               0x0E060040, 0x0E080003, 0x0E04001F, 0x0E03001F, 0x00360003, 0x30080040, 0x0057000B, 0x0058000B,
               0x0E2A000B});
}
std::vector<PropTag> MinimalStoreBuilder::attachmentColumns() const {
  return tags({0x370B0003, 0x0E200003, 0x37050003, 0x3704001F});
}
std::vector<PropTag> MinimalStoreBuilder::recipientColumns() const {
  return tags({0x3002001F, 0x3003001F, 0x0FFF0102, 0x3001001F, 0x0C150003, 0x300B0102, 0x0FF90102, 0x0FFE0003,
               0x39000003, 0x39FF001F, 0x0E0F000B, 0x3A40000B});
}

void MinimalStoreBuilder::put(Nid nid, Nid parent, const NodeContent& content) {
  if (ndb_.findNode(nid))
    ndb_.replaceNode(nid, parent, content);
  else
    ndb_.createNode(nid, parent, content);
}

void MinimalStoreBuilder::createStore() {
  const NdbFormat& f = ndb_.format();
  ipmSubtree_ = ndb_.allocateNid(NidType::NormalFolder);
  searchRoot_ = ndb_.allocateNid(NidType::NormalFolder);
  deletedItems_ = ndb_.allocateNid(NidType::NormalFolder);
  commonViews_ = ndb_.allocateNid(NidType::NormalFolder);

  storeDirty_ = true;
  // PidLidReminderDelta in PSETID_Common as 0x8000: readers expect a
  // non-empty entry stream.
  PropertyName reminder;
  reminder.guid = {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  reminder.lid = 0x8501;
  namedPropertyId(reminder, true);
  // PidNameKeywords in PS_PUBLIC_STRINGS as 0x8001, as every Outlook store
  // has it: a reader (pst-extractor) refuses a store whose string stream is
  // empty.
  PropertyName keywords;
  keywords.guid = {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  keywords.isString = true;
  for (char c : std::string("Keywords")) keywords.name.insert(keywords.name.end(), {static_cast<std::uint8_t>(c), 0});
  namedPropertyId(keywords, true);
  writeStoreNode();
  writeNameMap();

  ndb_.createNode(kNidSearchManagementQueue, 0, 0, 0);
  ndb_.createNode(kNidSearchDomainObject, 0, 0, 0);

  // Template tables, among the mandatory nodes ([MS-PST] 2.7.1).
  put(kNidHierarchyTemplate, 0, TableContextBuilder(f, hierarchyColumns()).build());
  put(kNidContentsTemplate, 0, TableContextBuilder(f, contentsColumns()).build());
  put(kNidAssocContentsTemplate, 0, TableContextBuilder(f, assocColumns()).build());
  put(kNidSearchContentsTemplate, 0, TableContextBuilder(f, searchContentsColumns()).build());
  put(kNidAttachmentTable, 0, TableContextBuilder(f, attachmentColumns()).build());
  put(kNidRecipientTable, 0, TableContextBuilder(f, recipientColumns()).build());

  // The root folder is its own parent ([MS-PST] 2.4.4).
  newFolder(kNidRootFolder, "", "", kNidRootFolder);
  newFolder(ipmSubtree_, "Top of Personal Folders", "", kNidRootFolder);
  newFolder(searchRoot_, "Search Root", "", kNidRootFolder);
  newFolder(commonViews_, "IPM_COMMON_VIEWS", "", kNidRootFolder);
  newFolder(deletedItems_, "Deleted Items", "IPF.Note", ipmSubtree_);
  folders_[kNidRootFolder].children = {ipmSubtree_, searchRoot_, commonViews_};
  folders_[ipmSubtree_].children = {deletedItems_};
  dirty_.insert({deletedItems_, ipmSubtree_, searchRoot_, commonViews_, kNidRootFolder});
  flush();
}

void MinimalStoreBuilder::flush() {
  // A folder's counts also live in its parent's hierarchy table row.
  std::set<Nid> parents;
  for (Nid nid : dirty_) parents.insert(folders_.at(nid).parent);
  dirty_.insert(parents.begin(), parents.end());
  for (Nid nid : dirty_) writeFolder(nid);
  dirty_.clear();
  if (storeDirty_) writeStoreNode();
  if (namesDirty_) writeNameMap();
}

void MinimalStoreBuilder::commit() {
  flush();
  ndb_.commit();
}

MinimalStoreBuilder::Folder& MinimalStoreBuilder::newFolder(Nid nid, std::string name, std::string containerClass,
                                                           Nid parent) {
  Folder& folder = folders_[nid];
  folder.name = std::move(name);
  folder.containerClass = std::move(containerClass);
  folder.parent = parent;
  folder.contents = std::make_shared<TableContextWriter>(ndb_, withType(nid, NidType::ContentsTable), 0, contentsColumns());
  return folder;
}

std::size_t MinimalStoreBuilder::messageCount(Nid nid) const { return folders_.at(nid).contents->rowCount(); }

std::map<PropTag, std::vector<std::uint8_t>> MinimalStoreBuilder::hierarchyRow(Nid nid) const {
  const Folder& folder = folders_.at(nid);
  std::map<PropTag, std::vector<std::uint8_t>> row;
  row[stringTag(idDisplayName)] = value::string(stringType_, folder.name);
  row[L(idContentCount)] = value::int32(static_cast<std::int32_t>(messageCount(nid)));
  row[L(idContentUnread)] = value::int32(static_cast<std::int32_t>(unreadCount(nid)));
  row[B(idSubfolders)] = value::boolean(!folder.children.empty());
  if (!folder.containerClass.empty())
    row[stringTag(idContainerClass)] = value::string(stringType_, folder.containerClass);
  return row;
}

void MinimalStoreBuilder::writeFolder(Nid nid) {
  const NdbFormat& f = ndb_.format();
  Folder& folder = folders_.at(nid);
  PropertyContextBuilder pc(f);
  for (const auto& [tag, bytes] : folder.props) pc.set(tag, bytes);
  pc.setString(stringTag(idDisplayName), folder.name);
  pc.setInt32(L(idContentCount), static_cast<std::int32_t>(messageCount(nid)));
  pc.setInt32(L(idContentUnread), static_cast<std::int32_t>(unreadCount(nid)));
  pc.setBool(B(idSubfolders), !folder.children.empty());
  if (!folder.containerClass.empty()) pc.setString(stringTag(idContainerClass), folder.containerClass);
  put(nid, folder.parent, pc.build());

  TableContextBuilder hierarchy(f, hierarchyColumns());
  for (Nid child : folder.children) hierarchy.addRow(child, hierarchyRow(child));
  put(withType(nid, NidType::HierarchyTable), 0, hierarchy.build());

  folder.contents->write();

  if (!folder.written) put(withType(nid, NidType::AssocContentsTable), 0, TableContextBuilder(f, assocColumns()).build());
  folder.written = true;
}

Nid MinimalStoreBuilder::addFolder(Nid parent, const std::string& name, const std::string& containerClass) {
  const Nid nid = ndb_.allocateNid(NidType::NormalFolder);
  newFolder(nid, name, containerClass, parent);
  folders_.at(parent).children.push_back(nid);
  dirty_.insert(nid);
  dirty_.insert(parent);
  return nid;
}

Nid MinimalStoreBuilder::addMessage(Nid folderNid, const MessageSpec& m) {
  const PropType s = stringType_;
  MessageData data;
  PropMap& p = data.props;
  p[makeTag(idMessageClass, s)] = value::string(s, m.messageClass);
  p[makeTag(idSubject, s)] = value::string(s, m.subject);
  p[makeTag(idConversationTopic, s)] = value::string(s, m.subject);
  p[makeTag(idBody, s)] = value::string(s, m.body);
  p[makeTag(idSenderName, s)] = value::string(s, m.senderName);
  p[makeTag(idSenderEmail, s)] = value::string(s, m.senderEmail);
  p[makeTag(idSenderAddrType, s)] = value::string(s, "SMTP");
  p[makeTag(idSentRepresentingName, s)] = value::string(s, m.senderName);
  p[L(idMessageFlags)] = value::int32(0x01);  // MSGFLAG_READ
  p[L(idImportance)] = value::int32(1);
  p[L(idSensitivity)] = value::int32(0);
  p[L(idMessageStatus)] = value::int32(0);
  for (std::uint16_t id : {idDeliveryTime, idClientSubmitTime, idCreationTime, idLastModificationTime})
    p[T(id)] = value::fileTime(m.time);

  // Recipients ([MS-PST] 2.4.5.2).
  for (const auto& r : m.recipients) {
    std::string key = "SMTP:" + r.email;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    key.push_back('\0');
    PropMap row;
    row[L(idRecipientType)] = value::int32(r.type);
    row[makeTag(idDisplayName, s)] = value::string(s, r.name);
    row[makeTag(idTransmittableDisplayName, s)] = value::string(s, r.name);
    row[makeTag(idAddrType, s)] = value::string(s, "SMTP");
    row[makeTag(idEmailAddress, s)] = value::string(s, r.email);
    row[Bin(idSearchKey)] = value::string8(key);
    row[L(idObjectType)] = value::int32(6);  // MAPI_MAILUSER
    row[L(idDisplayType)] = value::int32(0);
    row[B(idResponsibility)] = value::boolean(true);
    row[B(idSendRichInfo)] = value::boolean(false);
    data.recipients.push_back(std::move(row));
  }
  // Attachments by value ([MS-PST] 2.4.6).
  for (const auto& a : m.attachments) {
    AttachmentData attach;
    attach.props[L(idAttachMethod)] = value::int32(1);  // ATTACH_BY_VALUE
    attach.props[Bin(idAttachDataBin)] = a.data;
    attach.props[makeTag(idAttachFilename, s)] = value::string(s, a.filename);
    attach.props[makeTag(idAttachLongFilename, s)] = value::string(s, a.filename);
    attach.props[makeTag(idDisplayName, s)] = value::string(s, a.filename);
    data.attachments.push_back(std::move(attach));
  }
  const Nid nid = allocateMessageNid();
  writeMessage(folderNid, nid, data);
  return nid;
}

}  // namespace vexl::pst
