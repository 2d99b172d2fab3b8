#include "engine/ltp/property_context.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "engine/core/code_page.h"
#include "engine/ndb/ndb_layout.h"
#include "mapi/mapialloc.h"
#include "mapi/mapitags.h"

namespace vexl {

using namespace mapi;

namespace {

constexpr std::size_t kMaxAllocation = std::numeric_limits<ULONG>::max();

// A linked block of `size` bytes, or null (also for sizes MAPI cannot take).
void* allocateMore(std::size_t size, void* parent) {
  if (size > kMaxAllocation) return nullptr;
  void* p = nullptr;
  if (MAPIAllocateMore(static_cast<ULONG>(size), parent, &p) != S_OK) return nullptr;
  return p;
}

char* makeString8(const unsigned char* p, std::size_t n, void* parent) {
  if (n == kMaxAllocation) return nullptr;
  auto* s = static_cast<char*>(allocateMore(n + 1, parent));
  if (s == nullptr) return nullptr;
  if (n != 0) std::memcpy(s, p, n);
  s[n] = '\0';
  return s;
}

// An odd last byte is overwritten by the terminator, which sits at n
// rounded down to even.
WCHAR* makeUnicode(const unsigned char* p, std::size_t n, void* parent) {
  if (n >= kMaxAllocation - 1) return nullptr;
  auto* s = static_cast<unsigned char*>(allocateMore(n + 2, parent));
  if (s == nullptr) return nullptr;
  if (n != 0) std::memcpy(s, p, n);
  const std::size_t at = n & ~std::size_t{1};
  s[at] = 0;
  s[at + 1] = 0;
  return reinterpret_cast<WCHAR*>(s);
}

// false when a non-empty binary cannot be allocated.
bool makeBinary(const unsigned char* p, std::size_t n, void* parent, SBinary& out) {
  out.cb = 0;
  out.lpb = nullptr;
  if (n == 0) return true;
  auto* b = static_cast<BYTE*>(allocateMore(n, parent));
  if (b == nullptr) return false;
  std::memcpy(b, p, n);
  out.cb = static_cast<ULONG>(n);
  out.lpb = b;
  return true;
}

// An array of n / elementSize elements copied from the bytes; trailing
// bytes are ignored. `cValues` and `pointer` are the Value's MV members.
bool makeFixedArray(const unsigned char* p, std::size_t n, std::size_t elementSize, void* parent, ULONG& cValues,
                    void*& pointer) {
  const std::size_t count = n / elementSize;
  cValues = 0;
  pointer = nullptr;
  if (count == 0) return true;
  if (count > kMaxAllocation) return false;
  void* a = allocateMore(count * elementSize, parent);
  if (a == nullptr) return false;
  std::memcpy(a, p, count * elementSize);
  cValues = static_cast<ULONG>(count);
  pointer = a;
  return true;
}

// [MS-PST] 2.3.3.4.2 multi-valued variable-size layout: ulCount,
// rgulDataOffsets[ulCount], data. Element i spans from its offset to the
// next one's (the last to the end), both clamped to n; an element whose
// end lies before its start, or whose allocation fails, stays null.
template <typename Element, typename Build>
bool makeVariableArray(const unsigned char* p, std::size_t n, void* parent, ULONG& cValues, Element*& elements,
                       Build build) {
  cValues = 0;
  elements = nullptr;
  if (n < 4) return false;
  const std::uint32_t count = loadLe32(p);
  if (count == 0) return true;
  if (n < 4 * std::uint64_t{count} + 4) return false;
  auto* a = static_cast<Element*>(allocateMore(std::size_t{count} * sizeof(Element), parent));
  if (a == nullptr) return false;
  std::memset(static_cast<void*>(a), 0, std::size_t{count} * sizeof(Element));
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t start = std::min<std::size_t>(loadLe32(p + 4 + 4 * std::size_t{i}), n);
    const std::size_t end = i + 1 < count ? std::min<std::size_t>(loadLe32(p + 8 + 4 * std::size_t{i}), n) : n;
    if (end < start) continue;
    build(p + start, end - start, a[i]);
  }
  cValues = count;
  elements = a;
  return true;
}

// The bytes of a variable-size value: HNID 0 is empty; a NID names a
// subnode of this node (its whole stream); else a heap item.
bool variableBytes(const NdbNode& node, const unsigned char* bytes, std::size_t length,
                   std::vector<unsigned char>& out) {
  out.clear();
  if (length < 4) return false;
  const std::uint32_t hnid = loadLe32(bytes);
  if (hnid == 0) return true;
  if (hnidIsNid(hnid)) {
    const NdbNode* sub = node.subnodes().find(hnid);
    return sub != nullptr && sub->readData(out) == 1;
  }
  return readHeapItem(node, hnid, out) == 1;
}

bool heapItem(const NdbNode& node, const unsigned char* bytes, std::size_t length, std::size_t least,
              std::vector<unsigned char>& out) {
  if (length < 4) return false;
  return readHeapItem(node, loadLe32(bytes), out) == 1 && out.size() >= least;
}

void setError(SPropValue& v, ULONG tag, SCODE code) {
  v.ulPropTag = tag;
  v.dwAlignPad = 0;
  std::memset(&v.Value, 0, sizeof v.Value);
  v.Value.err = code;
}

bool isPcRecord(std::uint8_t sig, std::uint8_t cbKey, std::uint8_t cbEnt) {
  return sig == kHeapSigPropertyContext && cbKey == 2 && cbEnt == 6;
}

}  // namespace

bool isVariableSizeType(ULONG type) {
  switch (type) {
    case PT_STRING8:
    case PT_UNICODE:
    case PT_BINARY:
    case PT_MV_I2:
    case PT_MV_LONG:
    case PT_MV_R4:
    case PT_MV_DOUBLE:
    case PT_MV_CURRENCY:
    case PT_MV_APPTIME:
    case PT_MV_I8:
    case PT_MV_SYSTIME:
    case PT_MV_CLSID:
    case PT_MV_STRING8:
    case PT_MV_UNICODE:
    case PT_MV_BINARY:
      return true;
    default:
      return false;
  }
}

int decodeValue(const NdbNode& node, bool inTable, const unsigned char* bytes, std::size_t length, void* parent,
                SPropValue& out) {
  const ULONG type = PROP_TYPE(out.ulPropTag) & ~MV_INSTANCE;
  std::vector<unsigned char> item;
  switch (type) {
    case PT_NULL:
      return 1;
    case PT_I2:
      if (length < 2) return 0;
      out.Value.i = static_cast<SHORT>(loadLe16(bytes));
      return 1;
    case PT_LONG:
    case PT_R4:
      if (length < 4) return 0;
      std::memcpy(&out.Value, bytes, 4);
      return 1;
    case PT_BOOLEAN:
      if (length < 1) return 0;
      out.Value.b = bytes[0];
      return 1;
    case PT_DOUBLE:
    case PT_CURRENCY:
    case PT_APPTIME:
    case PT_I8:
    case PT_SYSTIME:
      if (inTable) {
        if (length < 8) return 0;
        std::memcpy(&out.Value, bytes, 8);
        return 1;
      }
      if (!heapItem(node, bytes, length, 8, item)) return 0;
      std::memcpy(&out.Value, item.data(), 8);
      return 1;
    case PT_OBJECT:
      // The heap item holds the NID of the object's subnode and its size.
      if (inTable || !heapItem(node, bytes, length, 8, item)) return 0;
      std::memcpy(&out.Value, item.data(), 8);
      return 1;
    case PT_CLSID: {
      if (!heapItem(node, bytes, length, 16, item)) return 0;
      auto* guid = static_cast<GUID*>(allocateMore(sizeof(GUID), parent));
      if (guid == nullptr) return 0;
      std::memcpy(guid, item.data(), sizeof(GUID));
      out.Value.lpguid = guid;
      return 1;
    }
    default:  // PT_UNSPECIFIED, PT_ERROR and every type we do not know
      if (!isVariableSizeType(type)) return 0;
      break;
  }

  if (!variableBytes(node, bytes, length, item)) return 0;
  const unsigned char* p = item.data();
  const std::size_t n = item.size();
  void* array = nullptr;
  bool ok = false;
  switch (type) {
    case PT_STRING8:
      return (out.Value.lpszA = makeString8(p, n, parent)) != nullptr;
    case PT_UNICODE:
      return (out.Value.lpszW = makeUnicode(p, n, parent)) != nullptr;
    case PT_BINARY:
      return makeBinary(p, n, parent, out.Value.bin);
    case PT_MV_I2:
      ok = makeFixedArray(p, n, 2, parent, out.Value.MVi.cValues, array);
      out.Value.MVi.lpi = static_cast<SHORT*>(array);
      return ok;
    case PT_MV_LONG:
    case PT_MV_R4:
      ok = makeFixedArray(p, n, 4, parent, out.Value.MVl.cValues, array);
      out.Value.MVl.lpl = static_cast<LONG*>(array);
      return ok;
    case PT_MV_DOUBLE:
    case PT_MV_CURRENCY:
    case PT_MV_APPTIME:
    case PT_MV_I8:
    case PT_MV_SYSTIME:
      // Every 8-byte MV member has the same layout: cValues, pointer.
      ok = makeFixedArray(p, n, 8, parent, out.Value.MVli.cValues, array);
      out.Value.MVli.lpli = static_cast<LARGE_INTEGER*>(array);
      return ok;
    case PT_MV_CLSID:
      ok = makeFixedArray(p, n, 16, parent, out.Value.MVguid.cValues, array);
      out.Value.MVguid.lpguid = static_cast<GUID*>(array);
      return ok;
    case PT_MV_STRING8:
      return makeVariableArray(p, n, parent, out.Value.MVszA.cValues, out.Value.MVszA.lppszA,
                               [parent](const unsigned char* e, std::size_t len, LPSTR& s) {
                                 s = makeString8(e, len, parent);
                               });
    case PT_MV_UNICODE:
      return makeVariableArray(p, n, parent, out.Value.MVszW.cValues, out.Value.MVszW.lppszW,
                               [parent](const unsigned char* e, std::size_t len, LPWSTR& s) {
                                 s = makeUnicode(e, len, parent);
                               });
    case PT_MV_BINARY:
      return makeVariableArray(p, n, parent, out.Value.MVbin.cValues, out.Value.MVbin.lpbin,
                               [parent](const unsigned char* e, std::size_t len, SBinary& b) {
                                 if (!makeBinary(e, len, parent, b)) b = SBinary{0, nullptr};
                               });
    default:
      return 0;
  }
}

int getAllProps(const NdbNode& node, std::uint32_t& count, SPropValue*& props) {
  count = 0;
  props = nullptr;
  std::uint32_t records = 0;
  if (walkBthWith(node, [&](std::uint8_t, const unsigned char*, std::uint8_t, const unsigned char*, std::uint8_t) {
        if (records < kMaxPropertyRecords) ++records;
      }) == 0)
    records = 0;
  if (records == 0) return 1;

  void* block = nullptr;
  if (MAPIAllocateBuffer(static_cast<ULONG>(std::size_t{records} * sizeof(SPropValue)), &block) != S_OK) return 0;
  auto* array = static_cast<SPropValue*>(block);
  std::memset(static_cast<void*>(array), 0, std::size_t{records} * sizeof(SPropValue));
  std::uint32_t filled = 0;
  const int walked = walkBthWith(node, [&](std::uint8_t sig, const unsigned char* key, std::uint8_t cbKey,
                                           const unsigned char* data, std::uint8_t cbEnt) {
    if (filled >= records) return;
    SPropValue& slot = array[filled++];
    if (sig != kHeapSigPropertyContext) {
      setError(slot, PT_ERROR, MAPI_E_NO_SUPPORT);
      return;
    }
    if (cbKey != 2 || cbEnt != 6) {
      setError(slot, PT_ERROR, MAPI_E_CORRUPT_DATA);
      return;
    }
    slot.ulPropTag = (ULONG{loadLe16(key)} << 16) | loadLe16(data);
    if (decodeValue(node, false, data + 2, 4, array, slot) == 0) setError(slot, errorTwin(slot.ulPropTag), MAPI_E_BAD_VALUE);
  });
  // The file is read again for the second walk; should it yield fewer
  // records, only those filled are delivered.
  if (walked == 0 || filled == 0) {
    MAPIFreeBuffer(array);
    return walked == 0 ? 0 : 1;
  }
  count = filled;
  props = array;
  return 1;
}

int getProp(const NdbNode& node, std::uint32_t tag, SPropValue*& value) {
  value = nullptr;
  if (tag == PR_NULL) return 0;
  void* block = nullptr;
  if (MAPIAllocateBuffer(sizeof(SPropValue), &block) != S_OK) return 0;
  auto* record = static_cast<SPropValue*>(block);
  std::memset(static_cast<void*>(record), 0, sizeof(SPropValue));
  bool found = false;
  const int walked = walkBthWith(node, [&](std::uint8_t sig, const unsigned char* key, std::uint8_t cbKey,
                                           const unsigned char* data, std::uint8_t cbEnt) {
    if (found || !isPcRecord(sig, cbKey, cbEnt)) return;
    if (((ULONG{loadLe16(key)} << 16) | loadLe16(data)) != tag) return;
    found = true;
    record->ulPropTag = tag;
    if (decodeValue(node, false, data + 2, 4, record, *record) == 0) setError(*record, errorTwin(tag), MAPI_E_BAD_VALUE);
  });
  if (walked == 0 || !found || record->ulPropTag != tag) {
    MAPIFreeBuffer(record);
    return 0;
  }
  value = record;
  return 1;
}

std::string getStringProp(const NdbNode& node, std::uint16_t propId) {
  if (heapKind(node) != HeapKind::PropertyContext) return {};
  std::string text;
  SPropValue* v = nullptr;
  if (getProp(node, PROP_TAG(PT_STRING8, propId), v) == 1) {
    text = v->Value.lpszA;
  } else if (getProp(node, PROP_TAG(PT_UNICODE, propId), v) == 1) {
    text = utf16ToAnsi(std::u16string_view(v->Value.lpszW), systemAnsiCodePage());
  }
  MAPIFreeBuffer(v);
  return text;
}

std::string getDisplayName(const NdbNode& node) { return getStringProp(node, 0x3001); }

}  // namespace vexl
