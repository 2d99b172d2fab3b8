// Test support: MAPI objects that record what is written to them. Each
// SetProps call is kept with deep copies of its values; answers can be set
// to fail a batch, to report problems for chosen tags, and to assign named
// property ids.
#pragma once

#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mapi/mapialloc.h"
#include "mapi/mapicode.h"
#include "mapi/mapiinterfaces.h"
#include "mapi/mapitags.h"

namespace vexl::testing {

// One written value: the tag and, by type, its text, items or number.
struct Written {
  mapi::ULONG tag = 0;
  std::optional<std::string> a;             // PT_STRING8
  std::optional<std::u16string> w;          // PT_UNICODE
  std::vector<std::optional<std::string>> mvA;      // PT_MV_STRING8
  std::vector<std::optional<std::u16string>> mvW;   // PT_MV_UNICODE
  std::vector<unsigned char> bin;           // PT_BINARY
  mapi::LONG l = 0;                         // PT_LONG, PT_BOOLEAN
};

inline Written recordOf(const mapi::SPropValue& v) {
  using namespace mapi;
  Written out;
  out.tag = v.ulPropTag;
  switch (PROP_TYPE(v.ulPropTag)) {
    case PT_STRING8: if (v.Value.lpszA) out.a = v.Value.lpszA; break;
    case PT_UNICODE: if (v.Value.lpszW) out.w = v.Value.lpszW; break;
    case PT_MV_STRING8:
      for (ULONG i = 0; i < v.Value.MVszA.cValues; ++i)
        out.mvA.push_back(v.Value.MVszA.lppszA[i] ? std::optional<std::string>(v.Value.MVszA.lppszA[i]) : std::nullopt);
      break;
    case PT_MV_UNICODE:
      for (ULONG i = 0; i < v.Value.MVszW.cValues; ++i)
        out.mvW.push_back(v.Value.MVszW.lppszW[i] ? std::optional<std::u16string>(v.Value.MVszW.lppszW[i])
                                                  : std::nullopt);
      break;
    case PT_BINARY: out.bin.assign(v.Value.bin.lpb, v.Value.bin.lpb + v.Value.bin.cb); break;
    case PT_BOOLEAN: out.l = v.Value.b; break;
    default: out.l = v.Value.l; break;
  }
  return out;
}

// IUnknown and IMAPIProp over `Base` (IMAPIProp, IMessage, IMsgStore...).
template <typename Base>
class FakeProp : public Base {
 public:
  using HRESULT = mapi::HRESULT;
  using ULONG = mapi::ULONG;

  // Every SetProps call with its records.
  std::vector<std::vector<Written>> calls;
  std::vector<ULONG> saves;
  // Answers: a SetProps of more than one record fails; problems reported
  // for these tags (in the batch) with this scode, at this index when set.
  bool failBatch = false;
  std::map<ULONG, mapi::SCODE> problemFor;
  std::optional<ULONG> problemIndexOverride;

  // All written records in order.
  std::vector<Written> written() const {
    std::vector<Written> all;
    for (const auto& c : calls) all.insert(all.end(), c.begin(), c.end());
    return all;
  }
  const Written* last(ULONG tag) const {
    const Written* found = nullptr;
    for (const auto& c : calls)
      for (const auto& w : c)
        if (w.tag == tag) found = &w;
    return found;
  }
  std::size_t timesWritten(ULONG tag) const {
    std::size_t n = 0;
    for (const auto& c : calls)
      for (const auto& w : c) n += w.tag == tag;
    return n;
  }

  HRESULT QueryInterface(mapi::REFIID, mapi::LPVOID*) override { return mapi::MAPI_E_NO_SUPPORT; }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT GetLastError(HRESULT, ULONG, mapi::LPMAPIERROR*) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT SaveChanges(ULONG flags) override {
    saves.push_back(flags);
    return mapi::S_OK;
  }
  HRESULT GetProps(mapi::LPSPropTagArray, ULONG, ULONG*, mapi::LPSPropValue*) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT GetPropList(ULONG, mapi::LPSPropTagArray*) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT OpenProperty(ULONG, mapi::LPCIID, ULONG, ULONG, mapi::LPUNKNOWN*) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT SetProps(ULONG count, mapi::LPSPropValue props, mapi::LPSPropProblemArray* problems) override {
    if (problems) *problems = nullptr;
    std::vector<Written> call;
    for (ULONG i = 0; i < count; ++i) call.push_back(recordOf(props[i]));
    calls.push_back(call);
    if (count > 1 && failBatch) return mapi::MAPI_E_CALL_FAILED;
    std::vector<mapi::SPropProblem> found;
    for (ULONG i = 0; i < count; ++i) {
      auto it = problemFor.find(props[i].ulPropTag);
      if (it != problemFor.end() && count > 1)
        found.push_back({problemIndexOverride.value_or(i), props[i].ulPropTag, it->second});
    }
    if (!found.empty() && problems) {
      void* block = nullptr;
      mapi::MAPIAllocateBuffer(static_cast<ULONG>(mapi::CbNewSPropProblemArray(found.size())), &block);
      auto* array = static_cast<mapi::SPropProblemArray*>(block);
      array->cProblem = static_cast<ULONG>(found.size());
      for (std::size_t i = 0; i < found.size(); ++i) array->aProblem[i] = found[i];
      *problems = array;
    }
    return mapi::S_OK;
  }
  HRESULT DeleteProps(mapi::LPSPropTagArray, mapi::LPSPropProblemArray*) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT CopyTo(ULONG, mapi::LPCIID, mapi::LPSPropTagArray, mapi::ULONG_PTR, mapi::LPMAPIPROGRESS, mapi::LPCIID,
                 mapi::LPVOID, ULONG, mapi::LPSPropProblemArray*) override {
    return mapi::MAPI_E_NO_SUPPORT;
  }
  HRESULT CopyProps(mapi::LPSPropTagArray, mapi::ULONG_PTR, mapi::LPMAPIPROGRESS, mapi::LPCIID, mapi::LPVOID, ULONG,
                    mapi::LPSPropProblemArray*) override {
    return mapi::MAPI_E_NO_SUPPORT;
  }
  HRESULT GetNamesFromIDs(mapi::LPSPropTagArray*, mapi::LPGUID, ULONG, ULONG*, mapi::LPMAPINAMEID**) override {
    return mapi::MAPI_E_NO_SUPPORT;
  }
  HRESULT GetIDsFromNames(ULONG, mapi::LPMAPINAMEID*, ULONG, mapi::LPSPropTagArray*) override {
    return mapi::MAPI_E_NO_SUPPORT;
  }
};

using FakeTarget = FakeProp<mapi::IMAPIProp>;

class FakeMessage : public FakeProp<mapi::IMessage> {
 public:
  HRESULT GetAttachmentTable(ULONG, mapi::LPMAPITABLE*) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT OpenAttach(ULONG, mapi::LPCIID, ULONG, mapi::LPATTACH*) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT CreateAttach(mapi::LPCIID, ULONG, ULONG*, mapi::LPATTACH*) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT DeleteAttach(ULONG, mapi::ULONG_PTR, mapi::LPMAPIPROGRESS, ULONG) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT GetRecipientTable(ULONG, mapi::LPMAPITABLE*) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT ModifyRecipients(ULONG, mapi::LPADRLIST) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT SubmitMessage(ULONG) override { return mapi::MAPI_E_NO_SUPPORT; }
  HRESULT SetReadFlag(ULONG) override { return mapi::MAPI_E_NO_SUPPORT; }
};

// A message store whose GetIDsFromNames hands out ids from `nextId` up and
// remembers each name it was asked (GUID, kind, number or string).
class FakeStore : public FakeProp<mapi::IMsgStore> {
 public:
  struct Name {
    mapi::GUID guid;
    mapi::ULONG kind;
    mapi::LONG id;
    std::u16string text;
  };
  std::vector<Name> names;
  ULONG nextId = 0x8100;
  HRESULT answer = mapi::S_OK;      // the call's result
  std::optional<ULONG> answerTag;   // a fixed tag instead of the next id
  bool answerTwo = false;           // an array of two tags

  HRESULT GetIDsFromNames(ULONG count, mapi::LPMAPINAMEID* names_, ULONG, mapi::LPSPropTagArray* tags) override {
    *tags = nullptr;
    for (ULONG i = 0; i < count; ++i) {
      const mapi::MAPINAMEID& n = *names_[i];
      names.push_back({*n.lpguid, n.ulKind, n.ulKind == mapi::MNID_ID ? n.Kind.lID : 0,
                       n.ulKind == mapi::MNID_STRING ? std::u16string(n.Kind.lpwstrName) : std::u16string()});
    }
    if (mapi::FAILED(answer)) return answer;
    const ULONG n = answerTwo ? 2 : count;
    void* block = nullptr;
    mapi::MAPIAllocateBuffer(static_cast<ULONG>(mapi::CbNewSPropTagArray(n)), &block);
    auto* array = static_cast<mapi::SPropTagArray*>(block);
    array->cValues = n;
    for (ULONG i = 0; i < n; ++i)
      array->aulPropTag[i] = answerTag ? *answerTag : mapi::PROP_TAG(mapi::PT_UNSPECIFIED, nextId++);
    *tags = array;
    return answer;
  }

  HRESULT Advise(ULONG, mapi::LPENTRYID, ULONG, mapi::LPMAPIADVISESINK, mapi::ULONG_PTR*) override { return no(); }
  HRESULT Unadvise(mapi::ULONG_PTR) override { return no(); }
  HRESULT CompareEntryIDs(ULONG, mapi::LPENTRYID, ULONG, mapi::LPENTRYID, ULONG, ULONG*) override { return no(); }
  HRESULT OpenEntry(ULONG, mapi::LPENTRYID, mapi::LPCIID, ULONG, ULONG*, mapi::LPUNKNOWN*) override { return no(); }
  HRESULT SetReceiveFolder(mapi::LPTSTR, ULONG, ULONG, mapi::LPENTRYID) override { return no(); }
  HRESULT GetReceiveFolder(mapi::LPTSTR, ULONG, ULONG*, mapi::LPENTRYID*, mapi::LPTSTR*) override { return no(); }
  HRESULT GetReceiveFolderTable(ULONG, mapi::LPMAPITABLE*) override { return no(); }
  HRESULT StoreLogoff(ULONG*) override { return no(); }
  HRESULT AbortSubmit(ULONG, mapi::LPENTRYID, ULONG) override { return no(); }
  HRESULT GetOutgoingQueue(ULONG, mapi::LPMAPITABLE*) override { return no(); }
  HRESULT SetLockState(mapi::LPMESSAGE, ULONG) override { return no(); }
  HRESULT FinishedMsg(ULONG, ULONG, mapi::LPENTRYID) override { return no(); }
  HRESULT NotifyNewMail(mapi::LPNOTIFICATION) override { return no(); }

 private:
  static HRESULT no() { return mapi::MAPI_E_NO_SUPPORT; }
};

}  // namespace vexl::testing
