#include "engine/mailbox/named_prop_map.h"

#include <cstring>
#include <vector>

#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/ndb_node.h"
#include "engine/ltp/property_context.h"
#include "mapi/mapialloc.h"
#include "mapi/mapicode.h"
#include "mapi/mapiguid.h"
#include "mapi/mapitags.h"

namespace vexl {
namespace {

using namespace mapi;

using Bytes = std::vector<unsigned char>;

std::uint32_t le32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// GUIDs are stored in their in-memory (little-endian) layout.
GUID guidAt(const unsigned char* p) {
  GUID g{};
  g.Data1 = le32(p);
  g.Data2 = le16(p + 4);
  g.Data3 = le16(p + 6);
  std::memcpy(g.Data4, p + 8, 8);
  return g;
}

struct Streams {
  Bytes guids, entries, strings;
};

// The three streams of the map's property array; a stream of another type
// than PT_BINARY leaves its buffer empty, a later one replaces an earlier.
void collectStreams(const SPropValue* props, std::uint32_t count, Streams& s) {
  for (std::uint32_t i = 0; i < count; ++i) {
    const SPropValue& p = props[i];
    Bytes* target = nullptr;
    switch (PROP_ID(p.ulPropTag)) {
      case PROP_ID(kTagNameidStreamGuid): target = &s.guids; break;
      case PROP_ID(kTagNameidStreamEntry): target = &s.entries; break;
      case PROP_ID(kTagNameidStreamString): target = &s.strings; break;
      default: continue;
    }
    target->clear();
    if (PROP_TYPE(p.ulPropTag) == PT_BINARY && p.Value.bin.lpb != nullptr)
      target->assign(p.Value.bin.lpb, p.Value.bin.lpb + p.Value.bin.cb);
  }
}

// Fills `name` (a MAPIAllocateBuffer root) for the NAMEID record at `entry`;
// false when the record is not to be mapped or an allocation failed.
bool fillName(const Streams& s, const unsigned char* entry, MAPINAMEID* name) {
  const std::uint32_t propertyId = le32(entry);
  const std::uint16_t flags = le16(entry + 4);
  const bool isString = (flags & 1) != 0;
  const std::uint32_t wGuid = flags >> 1;

  GUID guid{};
  if (wGuid >= 3) {
    const std::uint64_t number = wGuid - 3;
    if (number >= s.guids.size() / 16) return false;
    guid = guidAt(s.guids.data() + number * 16);
  } else if (wGuid == 2) {
    guid = PS_PUBLIC_STRINGS;
  } else {
    return false;  // none, or PS_MAPI: those ids are the same in every store
  }
  void* guidBlock = nullptr;
  if (MAPIAllocateMore(sizeof(GUID), name, &guidBlock) != S_OK) return false;
  std::memcpy(guidBlock, &guid, sizeof(GUID));
  name->lpguid = static_cast<LPGUID>(guidBlock);

  if (!isString) {
    name->ulKind = MNID_ID;
    name->Kind.lID = static_cast<LONG>(propertyId);
    return true;
  }
  // 64-bit sums: an offset near 2^32 must not wrap round into the stream.
  const std::uint64_t offset = propertyId;
  const std::uint64_t size = s.strings.size();
  if (offset + 4 > size) return false;
  std::uint64_t length = le32(s.strings.data() + offset);
  const std::uint64_t available = size - offset - 4;
  if (length >= available) length = available;
  void* text = nullptr;
  if (MAPIAllocateMore(static_cast<ULONG>(length + 4), name, &text) != S_OK) return false;
  std::memset(text, 0, static_cast<std::size_t>(length + 4));
  std::memcpy(text, s.strings.data() + offset + 4, static_cast<std::size_t>(length));
  name->ulKind = MNID_STRING;
  name->Kind.lpwstrName = static_cast<LPWSTR>(text);
  return true;
}

// Registers one name with the store; the id it answered, or 0.
std::uint32_t registerName(IMsgStore* store, MAPINAMEID* name) {
  LPMAPINAMEID names[1] = {name};
  LPSPropTagArray tags = nullptr;
  const HRESULT hr = store->GetIDsFromNames(1, names, MAPI_CREATE, &tags);
  std::uint32_t id = 0;
  if (SUCCEEDED(hr) && tags != nullptr && tags->cValues == 1) {
    const ULONG tag = tags->aulPropTag[0];
    // A name the store could not map comes back as PT_ERROR (id 0): writing
    // properties under id 0 would put them on PR_NULL.
    if (PROP_TYPE(tag) != PT_ERROR && PROP_ID(tag) >= 0x8000 && PROP_ID(tag) != PROP_ID_INVALID) id = PROP_ID(tag);
  }
  MAPIFreeBuffer(tags);
  return id;
}

}  // namespace

int buildNamedPropMap(NdbFormat& ndb, IMsgStore* store, NamedPropIds& ids) {
  ids.clear();
  NdbNode* node = ndb.nodeIndex().find(kNidNameToIdMap);
  if (node == nullptr || store == nullptr) return 0;
  node->open(CryptMode::Unknown);
  if (heapKind(*node) != HeapKind::PropertyContext) return 0;
  std::uint32_t count = 0;
  SPropValue* props = nullptr;
  if (getAllProps(*node, count, props) == 0) return 0;
  Streams streams;
  collectStreams(props, count, streams);
  node->markUsed(1);
  MAPIFreeBuffer(props);

  const std::size_t entryCount = streams.entries.size() / 8;
  for (std::size_t i = 0; i < entryCount; ++i) {
    const unsigned char* entry = streams.entries.data() + i * 8;
    void* block = nullptr;
    if (MAPIAllocateBuffer(sizeof(MAPINAMEID), &block) != S_OK) continue;
    auto* name = static_cast<MAPINAMEID*>(block);
    std::memset(name, 0, sizeof(MAPINAMEID));
    if (fillName(streams, entry, name)) {
      const std::uint32_t targetId = registerName(store, name);
      if (targetId != 0) ids.set(0x8000u + le16(entry + 6), targetId);
    }
    MAPIFreeBuffer(block);
  }
  return 1;
}

}  // namespace vexl
