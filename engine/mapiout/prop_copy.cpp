#include "engine/mapiout/prop_copy.h"

#include <deque>
#include <limits>
#include <string>

#include "engine/core/code_page.h"
#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/property_context.h"
#include "mapi/mapialloc.h"
#include "mapi/mapicode.h"
#include "mapi/mapitags.h"

namespace vexl {
namespace {

using namespace mapi;

// Converted strings and new pointer arrays of one copy; they live until the
// SetProps that uses them has returned.
class Conversions {
 public:
  Conversions() = default;
  Conversions(const Conversions&) = delete;
  Conversions& operator=(const Conversions&) = delete;
  ~Conversions() {
    for (void* block : blocks_) MAPIFreeBuffer(block);
  }

  LPSTR toAnsi(LPCWSTR text) {
    if (text == nullptr) return nullptr;
    return ansi_.emplace_back(utf16ToAnsi(std::u16string_view(text))).data();
  }
  LPWSTR toWide(LPCSTR text) {
    if (text == nullptr) return nullptr;
    return wide_.emplace_back(ansiToUtf16(std::string_view(text))).data();
  }
  // A pointer array of `count` entries, or null when it cannot be had.
  void** pointerArray(ULONG count) {
    if (count > std::numeric_limits<ULONG>::max() / sizeof(void*)) return nullptr;
    void* block = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(count * sizeof(void*)), &block) != S_OK || block == nullptr)
      return nullptr;
    blocks_.push_back(block);
    return static_cast<void**>(block);
  }

 private:
  std::deque<std::string> ansi_;
  std::deque<std::u16string> wide_;
  std::vector<void*> blocks_;
};

enum class Prepared { Write, Dropped, RtfInSync, Object };

constexpr ULONG kRtfCompressedHeaderSize = 16;

// A multi-valued string converted element by element; false when the
// record must be dropped.
bool convertStrings(bool unicode, SPropValue& out, Conversions& conversions) {
  const ULONG count = out.Value.MVszA.cValues;
  if (count == 0) {
    out.Value.MVszA.lppszA = nullptr;
    return true;
  }
  // Both members share the layout { cValues, pointer array }.
  void* const* source = unicode ? reinterpret_cast<void* const*>(out.Value.MVszA.lppszA)
                                : reinterpret_cast<void* const*>(out.Value.MVszW.lppszW);
  if (source == nullptr) return false;
  void** converted = conversions.pointerArray(count);
  if (converted == nullptr) return false;
  for (ULONG i = 0; i < count; ++i) {
    if (unicode)
      converted[i] = conversions.toWide(static_cast<LPCSTR>(source[i]));
    else
      converted[i] = conversions.toAnsi(static_cast<LPCWSTR>(source[i]));
  }
  if (unicode)
    out.Value.MVszW.lppszW = reinterpret_cast<LPWSTR*>(converted);
  else
    out.Value.MVszA.lppszA = reinterpret_cast<LPSTR*>(converted);
  return true;
}

Prepared prepare(const PropCopySettings& settings, const SPropValue& in, SPropValue& out,
                 Conversions& conversions) {
  ULONG type = PROP_TYPE(in.ulPropTag) & ~MV_INSTANCE;
  if (!isCopiedPropType(type)) return Prepared::Dropped;
  const ULONG sourceId = PROP_ID(in.ulPropTag);
  if (PROP_TAG(type, sourceId) == PR_RTF_IN_SYNC) return Prepared::RtfInSync;
  // Every compressed RTF stream starts with a 16-byte header ([MS-OXRTFCP]
  // 2.1.3.1). A shorter value (old node versions hold empty ones) has nothing
  // to decompress, and readers of the target would report the body damaged.
  if (PROP_TAG(type, sourceId) == PR_RTF_COMPRESSED && in.Value.bin.cb < kRtfCompressedHeaderSize)
    return Prepared::Dropped;

  out = in;
  ULONG id = sourceId;
  if (id >= 0x8000 && settings.namedPropIds != nullptr) {
    if (const std::uint32_t* mapped = settings.namedPropIds->find(id)) id = *mapped;
  }
  if (settings.unicode && type == PT_STRING8) {
    type = PT_UNICODE;
    out.Value.lpszW = conversions.toWide(in.Value.lpszA);
  } else if (!settings.unicode && type == PT_UNICODE) {
    type = PT_STRING8;
    out.Value.lpszA = conversions.toAnsi(in.Value.lpszW);
  } else if ((settings.unicode && type == PT_MV_STRING8) || (!settings.unicode && type == PT_MV_UNICODE)) {
    type = settings.unicode ? PT_MV_UNICODE : PT_MV_STRING8;
    if (!convertStrings(settings.unicode, out, conversions)) return Prepared::Dropped;
  }
  out.ulPropTag = PROP_TAG(type, id);
  return type == PT_OBJECT ? Prepared::Object : Prepared::Write;
}

int copyObject(const PropCopySettings& settings, NdbNode& node, const SPropValue& record,
               IMAPIProp* target) {
  return settings.copyObject ? settings.copyObject(node, record, target) : 0;
}

void copyOneByOne(const PropCopySettings& settings, NdbNode& node, std::uint32_t count,
                  const SPropValue* props, IMAPIProp* target) {
  for (std::uint32_t i = 0; i < count; ++i) copyProp(settings, node, props[i], target);
}

}  // namespace

PropCopySettings propCopySettings(const EngineContext& engine, const NamedPropIds& ids, ObjectCopy copyObject) {
  PropCopySettings settings;
  settings.unicode = engine.pstFormat == PstFormat::Unicode;
  settings.batch = engine.options().RecoverMultiPropInBatch != 0;
  settings.namedPropIds = &ids;
  settings.copyObject = std::move(copyObject);
  return settings;
}

bool isCopiedPropType(ULONG type) {
  switch (type & ~MV_INSTANCE) {
    case PT_I2: case PT_LONG: case PT_R4: case PT_DOUBLE: case PT_CURRENCY: case PT_APPTIME:
    case PT_BOOLEAN: case PT_OBJECT: case PT_I8: case PT_STRING8: case PT_UNICODE: case PT_SYSTIME:
    case PT_CLSID: case PT_BINARY: case PT_MV_I2: case PT_MV_LONG: case PT_MV_R4: case PT_MV_DOUBLE:
    case PT_MV_CURRENCY: case PT_MV_APPTIME: case PT_MV_I8: case PT_MV_SYSTIME: case PT_MV_CLSID:
    case PT_MV_STRING8: case PT_MV_UNICODE: case PT_MV_BINARY:
      return true;
    default:
      return false;
  }
}

int copyProp(const PropCopySettings& settings, NdbNode& node, const SPropValue& prop, IMAPIProp* target) {
  if (target == nullptr) return 0;
  Conversions conversions;
  SPropValue record{};
  switch (prepare(settings, prop, record, conversions)) {
    case Prepared::Dropped: return 0;
    case Prepared::RtfInSync: return 1;
    case Prepared::Object: return copyObject(settings, node, record, target);
    case Prepared::Write: break;
  }
  return SUCCEEDED(target->SetProps(1, &record, nullptr)) ? 1 : 0;
}

void copyProps(const PropCopySettings& settings, NdbNode& node, std::uint32_t count, const SPropValue* props,
               IMAPIProp* target) {
  if (count == 0 || props == nullptr || target == nullptr) return;
  void* block = nullptr;
  if (settings.batch && count <= std::numeric_limits<ULONG>::max() / sizeof(SPropValue))
    if (MAPIAllocateBuffer(static_cast<ULONG>(count * sizeof(SPropValue)), &block) != S_OK) block = nullptr;
  if (block == nullptr) {
    // One at a time, also when the batch cannot be allocated: that costs
    // speed, not the object's properties.
    copyOneByOne(settings, node, count, props, target);
    target->SaveChanges(kCopySaveFlags);
    return;
  }

  auto* batch = static_cast<SPropValue*>(block);
  {
    Conversions conversions;
    ULONG n = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
      SPropValue record{};
      switch (prepare(settings, props[i], record, conversions)) {
        case Prepared::Write: batch[n++] = record; break;
        case Prepared::Object: copyObject(settings, node, record, target); break;
        case Prepared::Dropped:
        case Prepared::RtfInSync: break;
      }
    }
    if (n > 0) {
      LPSPropProblemArray problems = nullptr;
      if (FAILED(target->SetProps(n, batch, &problems))) {
        for (ULONG i = 0; i < n; ++i) target->SetProps(1, &batch[i], nullptr);
      } else if (problems != nullptr) {
        for (ULONG p = 0; p < problems->cProblem; ++p) {
          const SPropProblem& problem = problems->aProblem[p];
          // The index comes from the store; one outside the batch is ignored.
          if (problem.scode == E_OUTOFMEMORY && problem.ulIndex < n)
            target->SetProps(1, &batch[problem.ulIndex], nullptr);
        }
      }
      MAPIFreeBuffer(problems);
    }
  }
  MAPIFreeBuffer(block);
  target->SaveChanges(kCopySaveFlags);
}

void copyMessageProps(const PropCopySettings& settings, NdbNode& node, IMessage* message) {
  if (message == nullptr || heapKind(node) != HeapKind::PropertyContext) return;
  std::uint32_t count = 0;
  SPropValue* props = nullptr;
  if (getAllProps(node, count, props) == 0) return;
  copyProps(settings, node, count, props, message);
  MAPIFreeBuffer(props);
}

ULONG objectTypeOfNid(std::uint32_t nid) {
  switch (nid & 0x1F) {
    case 0x02:
    case 0x03: return MAPI_FOLDER;
    case 0x04:
    case 0x08: return MAPI_MESSAGE;
    case 0x05: return MAPI_ATTACH;
    default: return 0;
  }
}

std::vector<unsigned char> binaryBytes(const SPropValue& value) {
  std::vector<unsigned char> bytes;
  if (PROP_TYPE(value.ulPropTag) == PT_BINARY && value.Value.bin.lpb != nullptr)
    bytes.assign(value.Value.bin.lpb, value.Value.bin.lpb + value.Value.bin.cb);
  return bytes;
}

}  // namespace vexl
