// Test support: small wrappers that make MAPI calls readable in tests.
#pragma once

#include <string>
#include <vector>

#include "mapi/mapialloc.h"
#include "mapi/mapicode.h"
#include "mapi/mapiguid.h"
#include "mapi/mapiinterfaces.h"
#include "mapi/mapitags.h"

namespace vexl::mapi::test {

inline SPropValue longProp(ULONG tag, LONG v) {
  SPropValue p{};
  p.ulPropTag = tag;
  p.Value.l = v;
  return p;
}
inline SPropValue stringProp(ULONG tag, const char* s) {
  SPropValue p{};
  p.ulPropTag = tag;
  p.Value.lpszA = const_cast<char*>(s);
  return p;
}
inline SPropValue wideProp(ULONG tag, const char16_t* s) {
  SPropValue p{};
  p.ulPropTag = tag;
  p.Value.lpszW = const_cast<char16_t*>(s);
  return p;
}
inline SPropValue binaryProp(ULONG tag, std::vector<BYTE>& bytes) {
  SPropValue p{};
  p.ulPropTag = tag;
  p.Value.bin = {static_cast<ULONG>(bytes.size()), bytes.data()};
  return p;
}

// One property read back with GetProps: its tag and, for strings and
// binaries, its bytes; tag PT_ERROR when absent.
struct ReadProp {
  ULONG tag = 0;
  LONG l = 0;
  std::string text;
  std::vector<BYTE> bin;
};

inline ReadProp getProp(IMAPIProp* obj, ULONG tag, ULONG flags = 0) {
  SizedSPropTagArray<1> tags{1, {tag}};
  ULONG n = 0;
  LPSPropValue v = nullptr;
  ReadProp r;
  if (FAILED(obj->GetProps(tags.get(), flags, &n, &v)) || n != 1) {
    MAPIFreeBuffer(v);
    return r;
  }
  r.tag = v[0].ulPropTag;
  switch (PROP_TYPE(r.tag)) {
    case PT_LONG: r.l = v[0].Value.l; break;
    case PT_BOOLEAN: r.l = v[0].Value.b; break;
    case PT_STRING8: r.text = v[0].Value.lpszA; break;
    case PT_UNICODE:
      for (const char16_t* c = v[0].Value.lpszW; *c; ++c) r.text.push_back(*c < 0x80 ? static_cast<char>(*c) : '?');
      break;
    case PT_BINARY: r.bin.assign(v[0].Value.bin.lpb, v[0].Value.bin.lpb + v[0].Value.bin.cb); break;
    default: break;
  }
  MAPIFreeBuffer(v);
  return r;
}

}  // namespace vexl::mapi::test
