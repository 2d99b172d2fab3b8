#include "engine/mailbox/lost_and_found.h"

#include <cstddef>

#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/ndb_node.h"
#include "engine/ltp/property_context.h"
#include "engine/mapiout/object_kind.h"
#include "mapi/mapialloc.h"

namespace vexl {

using namespace mapi;

namespace {

// A node loaded afresh from a subnode tree has no mark of its own; its data
// block's mark tells whether an earlier file already wrote it.
bool dataBlockUsed(const NdbNode& node) {
  if (node.format == nullptr || node.dataBid == 0) return false;
  const BlockEntry* e = node.format->blockIndex().find(node.dataBid);
  return e != nullptr && e->usedMark != 0;
}

}  // namespace

LostAndFound::LostAndFound(EngineContext& engine, NdbFormat& ndb, TargetStore& store, MailboxWriter& writer)
    : engine_(engine), ndb_(ndb), store_(store), writer_(writer) {}

std::int32_t LostAndFound::runPass(int level) {
  switch (level) {
    case 1: return passUnparented();
    case 2: return passOldVersions();
    case 3: return passLostSubnodes();
    case 4: return passLostDataBlocks();
    case 5: return passOldBlockVersions();
    default: return 0;
  }
}

template <typename Body>
std::int32_t LostAndFound::inGroupFolder(Body&& body) {
  IMAPIFolder* group = store_.openGroupFolder();
  if (group == nullptr) return 0;
  const std::int32_t sum = body(group);
  // The number stays used up even when the folder goes again.
  if (sum == 0) store_.deleteFolder(group, store_.folder(kFolderIpmSubtree));
  group->Release();
  return sum;
}

std::int32_t LostAndFound::passUnparented() {
  return inGroupFolder([&](IMAPIFolder* group) {
    NodeMap& index = ndb_.nodeIndex();
    std::int32_t sum = 0;
    // Lists are visited by number: recovering a node never adds lists, but
    // it may touch the vectors they live in.
    const std::size_t lists = index.lists().size();
    for (std::size_t i = 0; i < lists && !engine_.splitPending; ++i) {
      const auto& list = index.lists()[i];
      if (list.versions.empty()) continue;
      const NdbNode& node = list.versions.back();
      if (node.isUsed() != 0) continue;
      if (node.parentNid != 0 && index.find(node.parentNid) != nullptr) continue;
      sum += writer_.recoverNode(node.nid, group);
    }
    // Nodes whose parents exist but were never reached.
    for (std::size_t i = 0; i < lists && !engine_.splitPending; ++i) {
      const auto& list = index.lists()[i];
      if (list.versions.empty() || list.versions.back().isUsed() != 0) continue;
      sum += writer_.recoverNode(list.versions.back().nid, group);
    }
    return sum;
  });
}

std::int32_t LostAndFound::passOldVersions() {
  return inGroupFolder([&](IMAPIFolder* group) {
    std::int32_t sum = 0;
    for (auto& list : ndb_.nodeIndex().mutableLists()) {
      if (engine_.splitPending) break;
      if (list.key == 0 || list.versions.size() < 2) continue;
      for (std::size_t v = 0; v + 1 < list.versions.size() && !engine_.splitPending; ++v) {
        NdbNode& old = list.versions[v];
        if (old.isUsed() != 0) continue;
        sum += writer_.recoverOpened(old, group);
      }
    }
    return sum;
  });
}

std::int32_t LostAndFound::passLostSubnodes() {
  return inGroupFolder([&](IMAPIFolder* group) {
    std::int32_t sum = 0;
    NodeMap subnodes;
    // Visited in place: a copy of the roots would be one more array the
    // size of the set, alive while the passes run, at the run's peak.
    ndb_.subnodeTreeRoots().forEach([&](std::uint64_t bid) {
      if (engine_.splitPending) return;
      BlockEntry* entry = ndb_.blockIndex().find(bid);
      if (entry == nullptr || entry->usedMark != 0) return;
      ndb_.loadSubnodes(bid & ~std::uint64_t{1}, subnodes);
      for (auto& list : subnodes.mutableLists()) {
        if (engine_.splitPending) break;
        if (list.key == 0 || list.versions.empty()) continue;
        NdbNode& node = list.versions.back();
        if (node.isUsed() != 0 || dataBlockUsed(node)) continue;
        sum += writer_.recoverOpened(node, group);
      }
      // A tree cut short by the split stays unused for the next file, where
      // the nodes already written are known by their used data blocks.
      if (!engine_.splitPending) {
        if (BlockEntry* again = ndb_.blockIndex().find(bid)) again->usedMark = 1;
      }
    });
    return sum;
  });
}

std::int32_t LostAndFound::passLostDataBlocks() {
  return inGroupFolder([&](IMAPIFolder* group) {
    std::int32_t sum = 0;
    ndb_.dataTreeRoots().forEach([&](std::uint64_t bid) {
      if (engine_.splitPending) return;
      BlockEntry* entry = ndb_.blockIndex().find(bid);
      if (entry == nullptr || entry->usedMark != 0) return;
      const std::int32_t got = recoverFromDataBlock(bid, group);
      sum += got;
      // A block whose item was refused for size stays for the next file.
      if (got == 0 && engine_.splitPending) return;
      if (BlockEntry* again = ndb_.blockIndex().find(bid)) again->usedMark = 1;
    });
    return sum;
  });
}

std::int32_t LostAndFound::passOldBlockVersions() {
  return inGroupFolder([&](IMAPIFolder* group) {
    std::int32_t sum = 0;
    for (auto& list : ndb_.blockIndex().mutableLists()) {
      if (engine_.splitPending) break;
      if (list.key == 0 || (list.key & 2) != 0 || list.versions.size() < 2) continue;
      while (list.versions.size() >= 2 && !engine_.splitPending) {
        // The BID now resolves to the version before the removed one.
        BlockEntry removed = list.versions.back();
        list.versions.pop_back();
        const std::int32_t got = recoverFromDataBlock(list.key, group);
        sum += got;
        if (got == 0 && engine_.splitPending) {
          // Refused for size: the next file removes it again and retries.
          list.versions.push_back(removed);
          break;
        }
      }
    }
    return sum;
  });
}

std::int32_t LostAndFound::recoverFromDataBlock(std::uint64_t bid, IMAPIFolder* group) {
  NdbNode node(&ndb_, 0, bid, 0, 0, 0);
  node.open(CryptMode::Unknown);
  if (heapKind(node) != HeapKind::PropertyContext) return 0;
  std::uint32_t count = 0;
  SPropValue* props = nullptr;
  if (getAllProps(node, count, props) == 0 || count == 0) {
    MAPIFreeBuffer(props);
    return 0;
  }
  const ULONG kind = objectKindOfProps(count, props);
  MAPIFreeBuffer(props);
  switch (kind) {
    case MAPI_FOLDER: return writer_.recoverFolder(node, group);
    case MAPI_MESSAGE: return writer_.recoverMessage(node, group);
    case MAPI_ATTACH: return writer_.recoverOrphanAttachment(node, group);
    default: return 0;
  }
}

}  // namespace vexl
