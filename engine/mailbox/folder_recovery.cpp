// Store step and folder step of the walk.
#include <cstring>
#include <limits>
#include <set>

#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/ndb_node.h"
#include "engine/ltp/property_context.h"
#include "engine/mailbox/mailbox_writer.h"
#include "mapi/mapialloc.h"
#include "mapi/mapiguid.h"
#include "mapi/mapitags.h"

namespace vexl {
namespace {

using namespace mapi;

constexpr ULONG kTagDisplayNameA = 0x3001001E;
constexpr ULONG kTagDisplayNameW = 0x3001001F;
constexpr std::uint32_t kSpecialFolderTags[] = {kFolderIpmSubtree, kFolderOutbox,    kFolderDeletedItems,
                                                kFolderSentItems,  kFolderViews,     kFolderCommonViews,
                                                kFolderFinder};
// The target's own folders that take a source folder of the same name when
// the source store does not name its folder of that kind.
constexpr ULONG kFoldersMatchedByName[] = {kFolderOutbox, kFolderDeletedItems, kFolderSentItems};
// Bytes 20 to 23 of a store entry ID of the source name the folder's NID.
constexpr ULONG kEntryIdNidOffset = 20;

bool isSpecialFolderTag(ULONG tag) {
  for (std::uint32_t t : kSpecialFolderTags)
    if (t == tag) return true;
  return false;
}

bool hasText(const SPropValue& p) {
  if (p.ulPropTag == kTagDisplayNameA) return p.Value.lpszA != nullptr && p.Value.lpszA[0] != '\0';
  return p.Value.lpszW != nullptr && p.Value.lpszW[0] != u'\0';
}

// The process-wide placeholder counter.
std::uint32_t gPlaceholderCounter = 0;

}  // namespace

bool isPlaceholderText(const std::string& name) {
  const std::string_view prefix(loadString(kStrPlaceholderFolder));
  constexpr std::size_t kPrefixBytes = 16;  // "Recovered_Folder"
  if (prefix.size() < kPrefixBytes || name.size() <= kPrefixBytes) return false;
  if (name.compare(0, kPrefixBytes, prefix.substr(0, kPrefixBytes)) != 0) return false;
  std::uint64_t value = 0;
  for (std::size_t i = kPrefixBytes; i < name.size(); ++i) {
    const char c = name[i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > std::numeric_limits<std::uint32_t>::max()) return false;
  }
  return true;
}

std::string nextPlaceholderName() {
  return formatPrintf(loadString(kStrPlaceholderFolder), {++gPlaceholderCounter});
}

bool MailboxWriter::isPlaceholderName(IMAPIFolder* folder) {
  return folder != nullptr && isPlaceholderText(mapiStringProp(folder, 0x3001));
}

MailboxWriter::MailboxWriter(EngineContext& engine, NdbFormat& ndb, TargetStore& store, MailboxRunState& state)
    : engine_(engine), ndb_(ndb), store_(store), state_(state) {}

PropCopySettings MailboxWriter::settings() { return propCopySettings(engine_, state_.namedPropIds, objectCopy()); }

int MailboxWriter::recoverStore() {
  state_.clearFolders();
  NdbNode* node = ndb_.nodeIndex().find(kNidMessageStore);
  IMsgStore* target = store_.store();
  if (node == nullptr || target == nullptr) return 0;
  node->open(CryptMode::Unknown);
  if (heapKind(*node) != HeapKind::PropertyContext) return 0;
  std::uint32_t count = 0;
  SPropValue* props = nullptr;
  if (getAllProps(*node, count, props) == 0) return 0;

  const PropCopySettings copy = settings();
  std::set<ULONG> namedTags;
  for (std::uint32_t i = 0; i < count; ++i) {
    const SPropValue& p = props[i];
    if (p.ulPropTag == kTagDisplayNameA || p.ulPropTag == kTagDisplayNameW) {
      if (hasText(p)) copyProp(copy, *node, p, target);
    } else if (isSpecialFolderTag(p.ulPropTag)) {
      if (p.Value.bin.cb < kEntryIdNidOffset + 4 || p.Value.bin.lpb == nullptr) continue;
      const unsigned char* b = p.Value.bin.lpb + kEntryIdNidOffset;
      const std::uint32_t nid = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                                static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
      state_.specialFolders[nid] = store_.folder(p.ulPropTag);
      namedTags.insert(p.ulPropTag);
    }
  }
  target->SaveChanges(kCopySaveFlags);
  node->markUsed(1);
  MAPIFreeBuffer(props);

  const std::int32_t kind = engine_.options().SourceKind;
  if (kind == 1 || kind == 3) state_.specialFolders[kNidOfflineIpmSubtree] = store_.folder(kFolderIpmSubtree);
  // A folder without a readable name must not land in the Inbox, so an
  // empty Inbox name is not entered.
  const std::string inbox = store_.inboxName();
  if (!inbox.empty()) state_.foldersByName[inbox] = store_.folder(kFolderInbox);
  // An Exchange OST's store names its mail folders by server entry IDs, not
  // by NIDs, so nothing above maps them. Such a folder would then come back
  // as a second "Sent Items" beside the target's own; like the Inbox, it is
  // matched by the target folder's name instead.
  for (ULONG tag : kFoldersMatchedByName) {
    if (namedTags.count(tag) != 0) continue;
    IMAPIFolder* own = store_.folder(tag);
    if (own == nullptr) continue;
    const std::string name = mapiStringProp(own, 0x3001);
    if (!name.empty()) state_.foldersByName.emplace(name, own);
  }
  return 1;
}

std::int32_t MailboxWriter::recoverFolder(NdbNode& node, IMAPIFolder* parent, int depth) {
  const bool isPc = heapKind(node) == HeapKind::PropertyContext;
  if (!isPc && node.childNids.empty()) {
    node.markUsed(1);
    return 0;
  }
  // Too deep for a sound tree: left for the lost-and-found passes.
  if (depth > kMaxFolderDepth) return 0;

  const std::string name = isPc ? getDisplayName(node) : std::string();
  IMAPIFolder* target = nullptr;
  bool created = false;
  if (auto s = state_.specialFolders.find(node.nid); s != state_.specialFolders.end() && s->second != nullptr) {
    target = s->second;
  } else if (auto f = state_.foldersByName.find(name); f != state_.foldersByName.end() && f->second != nullptr) {
    target = f->second;
  } else {
    if (parent == nullptr) return 0;
    std::string placeholder = nextPlaceholderName();
    if (FAILED(parent->CreateFolder(FOLDER_GENERIC, placeholder.data(), nullptr, nullptr,
                                    OPEN_IF_EXISTS | MAPI_DEFERRED_ERRORS, &target)) ||
        target == nullptr) {
      if (target != nullptr) target->Release();
      return 0;
    }
    created = true;
  }

  if (isPc) {
    std::uint32_t count = 0;
    SPropValue* props = nullptr;
    if (getAllProps(node, count, props) != 0) copyProps(settings(), node, count, props, target);
    MAPIFreeBuffer(props);
  }
  target->SaveChanges(kCopySaveFlags);
  node.markUsed(1);

  std::int32_t sum = 0;
  for (std::uint32_t childNid : node.childNids) {
    if (engine_.splitPending) break;
    if (childNid == 0) continue;
    NdbNode* child = ndb_.nodeIndex().find(childNid);
    if (child == nullptr || child->isUsed() != 0) continue;
    sum += recoverOpened(*child, target, depth + 1);
  }

  std::int32_t result = 0;
  if (sum > 0 || (isPc && engine_.options().RemoveEmptyFolder == 0 && !isPlaceholderName(target))) {
    engine_.report(LogLine, kStrRecoverFolder, {name});
    result = sum + 1;
  } else if (created) {
    store_.deleteFolder(target, parent);
  }
  if (created) target->Release();
  return result;
}

std::int32_t MailboxWriter::recoverByKind(NdbNode& node, IMAPIFolder* parent, int depth) {
  switch (node.nid & 0x1F) {
    case 2:
    case 3:
      return recoverFolder(node, parent, depth);
    case 4:
    case 8:
      return recoverMessage(node, parent);
    case 5:
      return recoverOrphanAttachment(node, parent);
    default:
      return 0;
  }
}

std::int32_t MailboxWriter::recoverNode(std::uint32_t nid, IMAPIFolder* parent) {
  if (nid == 0) return 0;
  NdbNode* node = ndb_.nodeIndex().find(nid);
  if (node == nullptr || node->isUsed() != 0) return 0;
  return recoverOpened(*node, parent);
}

std::int32_t MailboxWriter::recoverOpened(NdbNode& node, IMAPIFolder* parent, int depth) {
  node.open(CryptMode::Unknown);
  const std::int32_t recovered = recoverByKind(node, parent, depth);
  node.close();
  return recovered;
}

std::int32_t MailboxWriter::recoverMessages() {
  std::uint32_t rootNid = kNidRootFolder;
  if (engine_.options().HeuristicRecoverRoot != 0) {
    rootNid = 0;
    for (const auto& list : ndb_.nodeIndex().lists()) {
      if (list.versions.empty()) continue;
      const NdbNode& n = list.versions.back();
      if (n.parentNid != 0 && n.parentNid == n.nid) {
        rootNid = n.nid;
        break;
      }
    }
    if (rootNid == 0) return 0;
  }
  NdbNode* root = ndb_.nodeIndex().find(rootNid);
  IMsgStore* target = store_.store();
  if (root == nullptr || root->isUsed() != 0 || target == nullptr) return 0;
  ULONG type = 0;
  IUnknown* opened = nullptr;
  if (FAILED(target->OpenEntry(0, nullptr, &IID_IMAPIFolder, MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS | MAPI_MODIFY,
                               &type, &opened)) ||
      opened == nullptr) {
    if (opened != nullptr) opened->Release();
    return 0;
  }
  auto* rootFolder = static_cast<IMAPIFolder*>(opened);

  root->open(CryptMode::Unknown);
  if (heapKind(*root) == HeapKind::PropertyContext) {
    std::uint32_t count = 0;
    SPropValue* props = nullptr;
    if (getAllProps(*root, count, props) != 0) copyProps(settings(), *root, count, props, rootFolder);
    MAPIFreeBuffer(props);
  }
  rootFolder->SaveChanges(kCopySaveFlags);
  root->markUsed(1);

  std::int32_t sum = 0;
  IMAPIFolder* parent = rootFolder;
  if (engine_.options().AlwaysIPMSubtree != 0) parent = store_.folder(kFolderIpmSubtree);
  if (parent != nullptr) {
    for (std::uint32_t childNid : root->childNids) {
      if (engine_.splitPending) break;
      if (childNid == 0) continue;
      NdbNode* child = ndb_.nodeIndex().find(childNid);
      if (child == nullptr || child->isUsed() != 0) continue;
      sum += recoverOpened(*child, parent, 1);
    }
  }
  rootFolder->Release();
  return sum;
}

}  // namespace vexl
