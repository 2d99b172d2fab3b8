// Reference counting and the IMAPIProp behaviour every object of this MAPI
// layer shares: properties kept as stored values, SetProps with a problem
// array, GetProps with MAPI_W_ERRORS_RETURNED for what is absent.
#pragma once

#include <atomic>
#include <vector>

#include "mapi/mapialloc.h"
#include "mapi/mapicode.h"
#include "mapi/mapiguid.h"
#include "mapi/mapiinterfaces.h"
#include "mapi/mapitags.h"
#include "mapi/store/prop_convert.h"

namespace vexl::mapi::store {

class StoreContext;

template <class Derived, class Iface>
class ComObject : public Iface {
 public:
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }
  virtual ~ComObject() = default;

 protected:
  // Answers IUnknown and the interfaces listed.
  HRESULT answer(REFIID riid, LPVOID* out, std::initializer_list<IID> iids) {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (riid == IID_IUnknown) {
      *out = static_cast<Iface*>(this);
    } else {
      for (const IID& iid : iids)
        if (riid == iid) *out = static_cast<Iface*>(this);
    }
    if (!*out) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    AddRef();
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

// Tags no caller can set on any object: identity and access properties
// the store computes.
bool isComputedTag(ULONG tag);

// Named property look-up shared by every object of a store.
HRESULT namesToIds(StoreContext& ctx, ULONG cPropNames, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* out);

template <class Derived, class Iface>
class PropObject : public ComObject<Derived, Iface> {
 public:
  HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR* err) override {
    if (err) *err = nullptr;
    return MAPI_E_NO_SUPPORT;
  }

  HRESULT GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* values) override {
    if (!count || !values) return MAPI_E_INVALID_PARAMETER;
    *count = 0;
    *values = nullptr;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    const PropMap all = currentProps();
    std::vector<WantedProp> list;
    if (!tags) {
      for (const auto& [tag, bytes] : all) {
        ULONG t = tag;
        // Without MAPI_UNICODE, strings come back 8-bit.
        if (!(flags & MAPI_UNICODE) && PROP_TYPE(t) == PT_UNICODE) t = CHANGE_PROP_TYPE(t, PT_STRING8);
        list.push_back({t, tag, &bytes});
      }
      return fill(list, all, count, values);
    }
    for (ULONG i = 0; i < tags->cValues; ++i) {
      ULONG want = tags->aulPropTag[i];
      auto it = findById(all, want);
      const std::vector<std::uint8_t>* bytes = nullptr;
      ULONG stored = want;
      if (it != all.end()) {
        stored = it->first;
        const ULONG have = PROP_TYPE(it->first), wantType = PROP_TYPE(want);
        const bool strings = (have == PT_STRING8 || have == PT_UNICODE) && (wantType == PT_STRING8 || wantType == PT_UNICODE);
        if (wantType == PT_UNSPECIFIED) {
          want = it->first;
          if (!(flags & MAPI_UNICODE) && have == PT_UNICODE) want = CHANGE_PROP_TYPE(want, PT_STRING8);
          bytes = &it->second;
        } else if (have == wantType || strings) {
          bytes = &it->second;
        }
      }
      list.push_back({want, stored, bytes});
    }
    return fill(list, all, count, values);
  }

  HRESULT GetPropList(ULONG flags, LPSPropTagArray* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    const PropMap all = currentProps();
    void* p = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(all.size() + 1)), &p) != S_OK)
      return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* arr = static_cast<LPSPropTagArray>(p);
    arr->cValues = 0;
    for (const auto& [tag, bytes] : all) {
      ULONG t = tag;
      if (!(flags & MAPI_UNICODE) && PROP_TYPE(t) == PT_UNICODE) t = CHANGE_PROP_TYPE(t, PT_STRING8);
      arr->aulPropTag[arr->cValues++] = t;
    }
    *out = arr;
    return S_OK;
  }

  HRESULT SetProps(ULONG cValues, LPSPropValue props, LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    if (cValues && !props) return MAPI_E_INVALID_PARAMETER;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    if (HRESULT hr = writable(); FAILED(hr)) return hr;
    std::vector<SPropProblem> found;
    for (ULONG i = 0; i < cValues; ++i) {
      const ULONG tag = props[i].ulPropTag;
      SCODE sc = S_OK;
      const ULONG type = PROP_TYPE(tag);
      if (type == PT_ERROR || type == PT_NULL || type == PT_UNSPECIFIED || type == PT_OBJECT) {
        sc = MAPI_E_INVALID_TYPE;
      } else if (isComputedTag(tag) || readOnly(tag)) {
        sc = MAPI_E_COMPUTED;
      } else if (auto stored = toStored(props[i], stringType())) {
        sc = store(stored->first, std::move(stored->second));
      } else {
        sc = MAPI_E_INVALID_TYPE;
      }
      if (sc != S_OK) found.push_back({i, tag, sc});
    }
    if (problems && !found.empty()) {
      void* p = nullptr;
      if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropProblemArray(found.size())), &p) != S_OK)
        return MAPI_E_NOT_ENOUGH_MEMORY;
      auto* arr = static_cast<LPSPropProblemArray>(p);
      arr->cProblem = static_cast<ULONG>(found.size());
      for (std::size_t k = 0; k < found.size(); ++k) arr->aProblem[k] = found[k];
      *problems = arr;
    }
    return S_OK;
  }

  HRESULT DeleteProps(LPSPropTagArray tags, LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    if (!tags) return MAPI_E_INVALID_PARAMETER;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    if (HRESULT hr = writable(); FAILED(hr)) return hr;
    for (ULONG i = 0; i < tags->cValues; ++i) erase(tags->aulPropTag[i]);
    return S_OK;
  }

  HRESULT OpenProperty(ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN* out) override {
    if (out) *out = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT CopyTo(ULONG, LPCIID, LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                 LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT CopyProps(LPSPropTagArray, ULONG_PTR, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG,
                    LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT GetNamesFromIDs(LPSPropTagArray*, LPGUID, ULONG, ULONG* count, LPMAPINAMEID** names) override {
    if (count) *count = 0;
    if (names) *names = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* names, ULONG flags, LPSPropTagArray* out) override {
    if (out) *out = nullptr;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    if ((flags & MAPI_CREATE) && FAILED(writable())) return MAPI_E_NO_ACCESS;
    return namesToIds(context(), cPropNames, names, flags, out);
  }

 protected:
  // Stored properties with the computed ones.
  virtual PropMap currentProps() = 0;
  // Stores one converted value; a problem code to report it.
  virtual SCODE store(ULONG tag, std::vector<std::uint8_t> bytes) = 0;
  virtual void erase(ULONG tag) = 0;
  virtual bool readOnly(ULONG) const { return false; }
  virtual HRESULT usable() { return S_OK; }
  virtual HRESULT writable() { return S_OK; }
  virtual StoreContext& context() = 0;
  virtual ULONG stringType() = 0;

  // Replaces any value with `tag`'s id.
  static void replaceById(PropMap& props, ULONG tag, std::vector<std::uint8_t> bytes) {
    for (auto it = findById(props, tag); it != props.end(); it = findById(props, tag)) props.erase(it);
    props[tag] = std::move(bytes);
  }
  static void eraseById(PropMap& props, ULONG tag) {
    for (auto it = findById(props, tag); it != props.end(); it = findById(props, tag)) props.erase(it);
  }

 private:
  static HRESULT fill(const std::vector<WantedProp>& list, const PropMap&,
                      ULONG* count, LPSPropValue* values) {
    return allocPropArray(list, count, values);
  }
};

}  // namespace vexl::mapi::store
