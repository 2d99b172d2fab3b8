// Runtime facts about the MAPI records; their sizes and offsets are checked
// at compile time in the headers.
#include "mapi/mapidefs.h"

#include <gtest/gtest.h>

#include <cstring>

#include "mapi/mapialloc.h"
#include "mapi/mapiguid.h"
#include "mapi/mapitags.h"
#include "mapi/mapiutil.h"

namespace vexl::mapi {
namespace {

TEST(MapiTags, HelpersSplitAndJoinTags) {
  EXPECT_EQ(PROP_TAG(PT_UNICODE, 0x0037), 0x0037001Fu);
  EXPECT_EQ(PROP_ID(0x3701000D), 0x3701u);
  EXPECT_EQ(PROP_TYPE(0x3701000D), PT_OBJECT);
  // The PT_ERROR twin of a tag, as decoders deliver undecodable values.
  EXPECT_EQ(CHANGE_PROP_TYPE(PR_SUBJECT_W, PT_ERROR), 0x0037000Au);
  EXPECT_EQ(CHANGE_PROP_TYPE(PR_ROWID, PT_ERROR), 0x3000000Au);
  EXPECT_EQ(PROP_TYPE(MVI_PROP(PROP_TAG(PT_MV_UNICODE, 0x8001))) & ~MV_INSTANCE, PT_MV_UNICODE);
  EXPECT_EQ(UNMVI_PROP(MVI_PROP(PR_DISPLAY_NAME_W)), PR_DISPLAY_NAME_W);
  EXPECT_EQ(PR_NULL, 0x00000001u);
}

TEST(MapiResults, TestedBySign) {
  EXPECT_TRUE(SUCCEEDED(MAPI_W_ERRORS_RETURNED));
  EXPECT_TRUE(HR_SUCCEEDED(S_FALSE));
  EXPECT_TRUE(FAILED(MAPI_E_NOT_FOUND));
  EXPECT_TRUE(HR_FAILED(E_ACCESSDENIED));
  EXPECT_EQ(MAPI_E_NO_ACCESS, E_ACCESSDENIED);
  EXPECT_EQ(static_cast<std::uint32_t>(MAPI_E_NOT_FOUND), 0x8004010Fu);
}

TEST(MapiGuids, PublishedInterfaceIdentifiers) {
  // {0000000B-0000-0000-C000-000000000046} and {00020307-...}, as the OLE and
  // MAPI headers publish them.
  const BYTE storageBytes[16] = {0x0B, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  EXPECT_EQ(std::memcmp(&IID_IStorage, storageBytes, 16), 0);
  EXPECT_EQ(IID_IMessage.Data1, 0x00020307u);
  EXPECT_EQ(IID_IMAPIFolder.Data1, 0x0002030Cu);
  EXPECT_TRUE(IsEqualIID(IID_IMsgStore, DEFINE_OLEGUID(0x00020306)));
  EXPECT_FALSE(IID_IMessage == IID_IAttachment);
  EXPECT_EQ(PS_PUBLIC_STRINGS.Data1, 0x00020329u);
}

TEST(MapiRecords, SizedTagArrayIsASPropTagArray) {
  SizedSPropTagArray<2> columns{2, {PR_DEFAULT_STORE, PR_ENTRYID}};
  LPSPropTagArray tags = columns.get();
  ASSERT_EQ(tags->cValues, 2u);
  EXPECT_EQ(tags->aulPropTag[0], 0x3400000Bu);
  EXPECT_EQ(tags->aulPropTag[1], 0x0FFF0102u);
  EXPECT_EQ(CbSPropTagArray(tags), sizeof(columns));
}

// Variable-length records are allocated with their CbNew* size and indexed
// past their declared [1] array, MAPI's own convention; this must hold under
// the sanitizer build as well.
TEST(MapiRecords, VariableLengthRecordsIndexPastTheirDeclaredArray) {
  const std::size_t before = mapiLiveBlockCount();
  LPSRowSet rows = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(3)), reinterpret_cast<LPVOID*>(&rows)), S_OK);
  EXPECT_EQ(CbNewSRowSet(3), 8 + 3 * sizeof(SRow));
  rows->cRows = 3;
  for (ULONG i = 0; i < 3; ++i) {
    LPSPropValue props = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(2 * sizeof(SPropValue), reinterpret_cast<LPVOID*>(&props)), S_OK);
    props[0].ulPropTag = PR_ROWID;
    props[0].Value.l = static_cast<LONG>(i);
    props[1].ulPropTag = PR_DISPLAY_NAME_W;
    ASSERT_EQ(MAPIAllocateMore(8, props, reinterpret_cast<LPVOID*>(&props[1].Value.lpszW)), S_OK);
    std::memcpy(props[1].Value.lpszW, u"row", 8);
    rows->aRow[i] = SRow{0, 2, props};
  }
  EXPECT_EQ(rows->aRow[2].lpProps[0].Value.l, 2);
  EXPECT_EQ(std::u16string_view(rows->aRow[2].lpProps[1].Value.lpszW), u"row");

  LPADRLIST list = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(2)), reinterpret_cast<LPVOID*>(&list)), S_OK);
  EXPECT_EQ(CbNewADRLIST(2), 8 + 2 * sizeof(ADRENTRY));
  list->cEntries = 2;
  list->aEntries[0] = ADRENTRY{0, 0, nullptr};
  list->aEntries[1] = ADRENTRY{0, 0, nullptr};

  FreePadrlist(list);
  FreeProws(rows);
  EXPECT_EQ(mapiLiveBlockCount(), before);
}

TEST(MapiRecords, NamedPropertyNameIsUtf16) {
  MAPINAMEID name{};
  GUID set = PS_PUBLIC_STRINGS;
  char16_t text[] = u"Keywords";
  name.lpguid = &set;
  name.ulKind = MNID_STRING;
  name.Kind.lpwstrName = text;
  EXPECT_EQ(std::u16string_view(name.Kind.lpwstrName).size(), 8u);
  static_assert(std::is_same_v<decltype(name.Kind.lpwstrName), char16_t*>);
}

}  // namespace
}  // namespace vexl::mapi
