#include "mapi/store/prop_convert.h"

#include "engine/core/code_page.h"

#include <cstring>

#include "mapi/mapialloc.h"
#include "mapi/mapitags.h"

namespace vexl::mapi::store {

namespace {

void putLe(std::vector<std::uint8_t>& v, std::uint64_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

std::uint64_t getLe(const std::uint8_t* p, int bytes) {
  std::uint64_t x = 0;
  for (int i = 0; i < bytes; ++i) x |= std::uint64_t{p[i]} << (8 * i);
  return x;
}

std::vector<std::uint8_t> le16(const std::u16string& s) {
  std::vector<std::uint8_t> v;
  v.reserve(s.size() * 2);
  for (char16_t c : s) putLe(v, c, 2);
  return v;
}

// A string value in the file's width. PT_STRING8 values are in the system
// ANSI code page, as MAPI's are; a value of the other width is converted
// through it, as the PST provider does.
std::vector<std::uint8_t> stringBytes(const char* a, const char16_t* w, ULONG stringType) {
  if (stringType == PT_UNICODE) {
    if (w) return le16(std::u16string(w));
    return le16(ansiToUtf16(a ? a : ""));
  }
  std::string s = a ? std::string(a) : utf16ToAnsi(w ? std::u16string_view(w) : std::u16string_view());
  return {s.begin(), s.end()};
}

// Splits a multi-valued variable-size value ([MS-PST] 2.3.3.4.2).
std::vector<std::vector<std::uint8_t>> splitMulti(const std::vector<std::uint8_t>& b) {
  std::vector<std::vector<std::uint8_t>> items;
  if (b.size() < 4) return items;
  const std::uint32_t n = static_cast<std::uint32_t>(getLe(b.data(), 4));
  if (n > (b.size() - 4) / 4) return items;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::size_t from = getLe(b.data() + 4 + 4 * i, 4);
    const std::size_t to = i + 1 < n ? getLe(b.data() + 8 + 4 * i, 4) : b.size();
    if (from > to || to > b.size()) return {};
    items.emplace_back(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
  }
  return items;
}

void* more(void* parent, std::size_t size) {
  void* p = nullptr;
  if (MAPIAllocateMore(static_cast<ULONG>(size == 0 ? 1 : size), parent, &p) != S_OK) return nullptr;
  return p;
}

}  // namespace

std::u16string utf8ToUtf16(const std::string& s) { return vexl::utf8ToUtf16(s); }

std::string utf16ToUtf8(const std::u16string& s) { return vexl::utf16ToUtf8(s); }

std::u16string wideFromLe(const std::vector<std::uint8_t>& bytes) {
  std::u16string s;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) s.push_back(static_cast<char16_t>(getLe(&bytes[i], 2)));
  return s;
}

std::optional<std::pair<ULONG, std::vector<std::uint8_t>>> toStored(const SPropValue& v, ULONG stringType) {
  const ULONG type = PROP_TYPE(v.ulPropTag);
  std::vector<std::uint8_t> b;
  ULONG outType = type;
  switch (type) {
    case PT_I2: putLe(b, static_cast<std::uint16_t>(v.Value.i), 2); break;
    case PT_LONG: putLe(b, v.Value.ul, 4); break;
    case PT_R4: { std::uint32_t x; std::memcpy(&x, &v.Value.flt, 4); putLe(b, x, 4); break; }
    case PT_DOUBLE:
    case PT_APPTIME: { std::uint64_t x; std::memcpy(&x, &v.Value.dbl, 8); putLe(b, x, 8); break; }
    case PT_CURRENCY:
    case PT_I8: putLe(b, static_cast<std::uint64_t>(v.Value.li.QuadPart), 8); break;
    case PT_SYSTIME: putLe(b, v.Value.ft.dwLowDateTime, 4); putLe(b, v.Value.ft.dwHighDateTime, 4); break;
    case PT_BOOLEAN: b.push_back(v.Value.b ? 1 : 0); break;
    case PT_CLSID:
      if (!v.Value.lpguid) return std::nullopt;
      putLe(b, v.Value.lpguid->Data1, 4); putLe(b, v.Value.lpguid->Data2, 2); putLe(b, v.Value.lpguid->Data3, 2);
      b.insert(b.end(), v.Value.lpguid->Data4, v.Value.lpguid->Data4 + 8);
      break;
    case PT_STRING8:
    case PT_UNICODE:
      b = stringBytes(type == PT_STRING8 ? v.Value.lpszA : nullptr, type == PT_UNICODE ? v.Value.lpszW : nullptr,
                      stringType);
      outType = stringType;
      break;
    case PT_BINARY:
      if (v.Value.bin.cb && !v.Value.bin.lpb) return std::nullopt;
      b.assign(v.Value.bin.lpb, v.Value.bin.lpb + v.Value.bin.cb);
      break;
    case PT_MV_LONG:
      if (v.Value.MVl.cValues && !v.Value.MVl.lpl) return std::nullopt;
      for (ULONG i = 0; i < v.Value.MVl.cValues; ++i) putLe(b, static_cast<std::uint32_t>(v.Value.MVl.lpl[i]), 4);
      break;
    case PT_MV_STRING8:
    case PT_MV_UNICODE:
    case PT_MV_BINARY: {
      std::vector<std::vector<std::uint8_t>> items;
      const ULONG n = v.Value.MVbin.cValues;
      if (n && !v.Value.MVbin.lpbin) return std::nullopt;
      for (ULONG i = 0; i < n; ++i) {
        if (type == PT_MV_BINARY) {
          const SBinary& e = v.Value.MVbin.lpbin[i];
          items.emplace_back(e.lpb, e.lpb + (e.lpb ? e.cb : 0));
        } else {
          items.push_back(stringBytes(type == PT_MV_STRING8 ? v.Value.MVszA.lppszA[i] : nullptr,
                                      type == PT_MV_UNICODE ? v.Value.MVszW.lppszW[i] : nullptr, stringType));
        }
      }
      if (type != PT_MV_BINARY) outType = MV_FLAG | stringType;
      b = pst::value::multiVariable(items);
      break;
    }
    default:
      return std::nullopt;
  }
  return std::make_pair(PROP_TAG(outType, PROP_ID(v.ulPropTag)), std::move(b));
}

bool fromStored(ULONG tag, const std::vector<std::uint8_t>& b, ULONG wantType, void* parent, SPropValue& out) {
  ULONG type = PROP_TYPE(tag);
  const ULONG id = PROP_ID(tag);
  out.dwAlignPad = 0;
  out.ulPropTag = PROP_TAG(PT_ERROR, id);
  out.Value.err = MAPI_E_NOT_FOUND;
  const std::size_t fixed = pst::fixedValueSize(static_cast<pst::PropType>(type));
  if (fixed && b.size() < fixed) return false;
  switch (type) {
    case PT_I2: out.Value.i = static_cast<SHORT>(getLe(b.data(), 2)); break;
    case PT_LONG: out.Value.ul = static_cast<ULONG>(getLe(b.data(), 4)); break;
    case PT_R4: { std::uint32_t x = static_cast<std::uint32_t>(getLe(b.data(), 4)); std::memcpy(&out.Value.flt, &x, 4); break; }
    case PT_DOUBLE:
    case PT_APPTIME: { std::uint64_t x = getLe(b.data(), 8); std::memcpy(&out.Value.dbl, &x, 8); break; }
    case PT_CURRENCY:
    case PT_I8: out.Value.li.QuadPart = static_cast<LONGLONG>(getLe(b.data(), 8)); break;
    case PT_SYSTIME:
      out.Value.ft.dwLowDateTime = static_cast<DWORD>(getLe(b.data(), 4));
      out.Value.ft.dwHighDateTime = static_cast<DWORD>(getLe(b.data() + 4, 4));
      break;
    case PT_BOOLEAN: out.Value.b = b[0] ? 1 : 0; break;
    case PT_CLSID: {
      auto* g = static_cast<GUID*>(more(parent, sizeof(GUID)));
      if (!g) return false;
      g->Data1 = static_cast<ULONG>(getLe(b.data(), 4));
      g->Data2 = static_cast<USHORT>(getLe(b.data() + 4, 2));
      g->Data3 = static_cast<USHORT>(getLe(b.data() + 6, 2));
      std::memcpy(g->Data4, b.data() + 8, 8);
      out.Value.lpguid = g;
      break;
    }
    case PT_STRING8:
    case PT_UNICODE: {
      const bool wide = (wantType == PT_STRING8 || wantType == PT_UNICODE) ? wantType == PT_UNICODE : type == PT_UNICODE;
      if (wide) {
        const std::u16string s = type == PT_UNICODE ? wideFromLe(b) : utf8ToUtf16(std::string(b.begin(), b.end()));
        auto* p = static_cast<char16_t*>(more(parent, (s.size() + 1) * 2));
        if (!p) return false;
        std::memcpy(p, s.data(), s.size() * 2);
        p[s.size()] = 0;
        out.Value.lpszW = p;
        type = PT_UNICODE;
      } else {
        const std::string s = type == PT_STRING8 ? std::string(b.begin(), b.end()) : utf16ToUtf8(wideFromLe(b));
        auto* p = static_cast<char*>(more(parent, s.size() + 1));
        if (!p) return false;
        std::memcpy(p, s.data(), s.size());
        p[s.size()] = 0;
        out.Value.lpszA = p;
        type = PT_STRING8;
      }
      break;
    }
    case PT_BINARY: {
      auto* p = static_cast<BYTE*>(more(parent, b.size()));
      if (!p) return false;
      if (!b.empty()) std::memcpy(p, b.data(), b.size());
      out.Value.bin.cb = static_cast<ULONG>(b.size());
      out.Value.bin.lpb = p;
      break;
    }
    case PT_MV_LONG: {
      const ULONG n = static_cast<ULONG>(b.size() / 4);
      auto* p = static_cast<LONG*>(more(parent, n * 4));
      if (!p) return false;
      for (ULONG i = 0; i < n; ++i) p[i] = static_cast<LONG>(getLe(b.data() + 4 * i, 4));
      out.Value.MVl.cValues = n;
      out.Value.MVl.lpl = p;
      break;
    }
    case PT_MV_BINARY:
    case PT_MV_STRING8:
    case PT_MV_UNICODE: {
      const auto items = splitMulti(b);
      const ULONG n = static_cast<ULONG>(items.size());
      if (type == PT_MV_BINARY) {
        auto* arr = static_cast<SBinary*>(more(parent, n * sizeof(SBinary)));
        if (!arr) return false;
        for (ULONG i = 0; i < n; ++i) {
          arr[i].cb = static_cast<ULONG>(items[i].size());
          arr[i].lpb = static_cast<BYTE*>(more(parent, items[i].size()));
          if (!arr[i].lpb) return false;
          if (!items[i].empty()) std::memcpy(arr[i].lpb, items[i].data(), items[i].size());
        }
        out.Value.MVbin = {n, arr};
      } else if (type == PT_MV_UNICODE) {
        auto* arr = static_cast<LPWSTR*>(more(parent, n * sizeof(LPWSTR)));
        if (!arr) return false;
        for (ULONG i = 0; i < n; ++i) {
          const std::u16string s = wideFromLe(items[i]);
          arr[i] = static_cast<LPWSTR>(more(parent, (s.size() + 1) * 2));
          if (!arr[i]) return false;
          std::memcpy(arr[i], s.data(), s.size() * 2);
          arr[i][s.size()] = 0;
        }
        out.Value.MVszW = {n, arr};
      } else {
        auto* arr = static_cast<LPSTR*>(more(parent, n * sizeof(LPSTR)));
        if (!arr) return false;
        for (ULONG i = 0; i < n; ++i) {
          arr[i] = static_cast<LPSTR>(more(parent, items[i].size() + 1));
          if (!arr[i]) return false;
          if (!items[i].empty()) std::memcpy(arr[i], items[i].data(), items[i].size());
          arr[i][items[i].size()] = 0;
        }
        out.Value.MVszA = {n, arr};
      }
      break;
    }
    default:
      return false;
  }
  out.ulPropTag = PROP_TAG(type, id);
  return true;
}

HRESULT allocPropArray(const std::vector<WantedProp>& props, ULONG* count, LPSPropValue* out) {
  void* root = nullptr;
  const std::size_t n = props.empty() ? 1 : props.size();
  if (MAPIAllocateBuffer(static_cast<ULONG>(n * sizeof(SPropValue)), &root) != S_OK) return MAPI_E_NOT_ENOUGH_MEMORY;
  auto* values = static_cast<LPSPropValue>(root);
  HRESULT hr = S_OK;
  for (std::size_t i = 0; i < props.size(); ++i) {
    const auto& [tag, stored, bytes] = props[i];
    if (!bytes || !fromStored(stored, *bytes, PROP_TYPE(tag), root, values[i])) {
      values[i].ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
      values[i].dwAlignPad = 0;
      values[i].Value.err = MAPI_E_NOT_FOUND;
      hr = MAPI_W_ERRORS_RETURNED;
    }
  }
  *count = static_cast<ULONG>(props.size());
  *out = values;
  return hr;
}

PropMap::const_iterator findById(const PropMap& props, ULONG tag) {
  const ULONG id = PROP_ID(tag);
  auto it = props.lower_bound(PROP_TAG(0, id));
  if (it != props.end() && PROP_ID(it->first) == id) return it;
  return props.end();
}

}  // namespace vexl::mapi::store
