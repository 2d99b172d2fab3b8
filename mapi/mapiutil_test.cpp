#include "mapi/mapiutil.h"

#include <gtest/gtest.h>

#include "mapi/mapialloc.h"
#include "mapi/mapiguid.h"
#include "mapi/mapitags.h"
#include "mapi/mapix.h"

namespace vexl::mapi {
namespace {

// A reference-counted object that records its own destruction.
class CountedObject final : public IUnknown {
 public:
  explicit CountedObject(bool* destroyed) : destroyed_(destroyed) {}
  HRESULT QueryInterface(REFIID riid, LPVOID* ppvObj) override {
    if (ppvObj == nullptr) return MAPI_E_INVALID_PARAMETER;
    *ppvObj = nullptr;
    if (riid != IID_IUnknown) return MAPI_E_INTERFACE_NOT_SUPPORTED;
    AddRef();
    *ppvObj = this;
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) {
      *destroyed_ = true;
      delete this;
    }
    return left;
  }

 private:
  ~CountedObject() = default;
  ULONG refs_ = 1;
  bool* destroyed_;
};

TEST(UlRelease, ReleasesAndReturnsTheRemainingCount) {
  EXPECT_EQ(UlRelease(nullptr), 0u);

  bool destroyed = false;
  auto* object = new CountedObject(&destroyed);
  LPVOID second = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IUnknown, &second), S_OK);
  EXPECT_EQ(UlRelease(second), 1u);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(UlRelease(object), 0u);
  EXPECT_TRUE(destroyed);
}

// A row set as a table hands it out: the set, and per row a property array
// with strings and binaries linked to it. FreeProws must release all of it.
LPSRowSet makeRows(ULONG count) {
  LPSRowSet rows = nullptr;
  if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(count)), reinterpret_cast<LPVOID*>(&rows)) != S_OK)
    return nullptr;
  rows->cRows = count;
  for (ULONG i = 0; i < count; ++i) {
    LPSPropValue props = nullptr;
    MAPIAllocateBuffer(2 * sizeof(SPropValue), reinterpret_cast<LPVOID*>(&props));
    props[0].ulPropTag = PR_ENTRYID;
    props[0].Value.bin.cb = 24;
    MAPIAllocateMore(24, props, reinterpret_cast<LPVOID*>(&props[0].Value.bin.lpb));
    props[1].ulPropTag = PR_DISPLAY_NAME_A;
    MAPIAllocateMore(6, props, reinterpret_cast<LPVOID*>(&props[1].Value.lpszA));
    rows->aRow[i] = SRow{0, 2, props};
  }
  return rows;
}

TEST(FreeRows, FreesEveryRowWithItsLinkedValuesThenTheSet) {
  const std::size_t before = mapiLiveBlockCount();
  LPSRowSet rows = makeRows(5);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(mapiLiveBlockCount(), before + 1 + 5 * 3);
  FreeProws(rows);
  EXPECT_EQ(mapiLiveBlockCount(), before);

  FreeProws(nullptr);
  LPSRowSet empty = makeRows(0);
  FreeProws(empty);
  EXPECT_EQ(mapiLiveBlockCount(), before);
}

TEST(FreeRows, AddressListWithNullEntriesIsFreed) {
  const std::size_t before = mapiLiveBlockCount();
  LPADRLIST list = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(3)), reinterpret_cast<LPVOID*>(&list)), S_OK);
  list->cEntries = 3;
  for (ULONG i = 0; i < 3; ++i) list->aEntries[i] = ADRENTRY{0, 0, nullptr};
  // Entry 1 carries recipient properties with a linked string.
  LPSPropValue props = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(sizeof(SPropValue), reinterpret_cast<LPVOID*>(&props)), S_OK);
  props[0].ulPropTag = PR_DISPLAY_NAME_A;
  ASSERT_EQ(MAPIAllocateMore(4, props, reinterpret_cast<LPVOID*>(&props[0].Value.lpszA)), S_OK);
  list->aEntries[1] = ADRENTRY{0, 1, props};

  FreePadrlist(list);
  FreePadrlist(nullptr);
  EXPECT_EQ(mapiLiveBlockCount(), before);
}

TEST(SessionCalls, CallsBeforeInitialisationAnswerWithoutOutputs) {
  LPMAPISESSION session = reinterpret_cast<LPMAPISESSION>(1);
  EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED, &session), MAPI_E_NOT_INITIALIZED);
  EXPECT_EQ(session, nullptr);
  LPPROFADMIN admin = reinterpret_cast<LPPROFADMIN>(1);
  EXPECT_EQ(MAPIAdminProfiles(0, &admin), MAPI_E_NOT_INITIALIZED);
  EXPECT_EQ(admin, nullptr);

  ASSERT_EQ(MAPIInitialize(nullptr), S_OK);
  ULONG count = 7;
  LPSPropValue values = reinterpret_cast<LPSPropValue>(1);
  EXPECT_TRUE(FAILED(HrValidateIPMSubtree(nullptr, MAPI_FORCE_CREATE | MAPI_FULL_IPM_TREE, &count, &values, nullptr)));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(values, nullptr);
  EXPECT_EQ(MAPILogonEx(0, nullptr, nullptr, MAPI_EXTENDED, &session), MAPI_E_LOGON_FAILED);
  MAPIUninitialize();
}

}  // namespace
}  // namespace vexl::mapi
