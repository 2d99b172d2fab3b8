// The object-kind classifier: the size of its tag table, the edges of its
// ranges and types, and the first characteristic record deciding.
#include <gtest/gtest.h>

#include "engine/mapiout/object_kind.h"
#include "mapi/mapitags.h"

namespace vexl {
namespace {

using namespace mapi;

TEST(ObjectKind, TableHoldsEachDefinedTagOnce) {
  // Ranges transcribed twice or overlapping would collapse and change this.
  EXPECT_EQ(objectKindTagCount(), 494u);
}

TEST(ObjectKind, EveryKindAtTheEdgesOfItsRanges) {
  struct Case {
    ULONG tag, kind;
  };
  const Case cases[] = {
      {0x3400000B, MAPI_STORE},    {0x34140102, MAPI_STORE},    {0x3415000D, MAPI_STORE},
      {0x35E70102, MAPI_STORE},    {0x35E10102, 0},             {0x39000003, MAPI_ADDRBOOK},
      {0x39030102, 0},             {0x36030003, MAPI_FOLDER},   {0x36170003, MAPI_FOLDER},
      {0x36040003, 0},             {0x00010003, MAPI_MESSAGE},  {0x0037001E, MAPI_MESSAGE},
      {0x0037001F, MAPI_MESSAGE},  {0x00370102, 0},             {0x001C0102, 0},
      {0x00220102, MAPI_MESSAGE},  {0x006A001F, 0},             {0x007D001E, MAPI_MESSAGE},
      {0x0E1F000B, MAPI_MESSAGE},  {0x0E0B000B, 0},             {0x0E12001E, 0},
      {0x0E13000D, MAPI_MESSAGE},  {0x0E1A0014, MAPI_MESSAGE},  {0x1000001F, MAPI_MESSAGE},
      {0x10050102, 0},             {0x10120102, MAPI_MESSAGE},  {0x39FF001E, MAPI_MAILUSER},
      {0x39FF001F, 0},             {0x3A4D0002, MAPI_MAILUSER}, {0x3A520048, MAPI_MAILUSER},
      {0x3A531102, MAPI_MAILUSER}, {0x3A54101F, MAPI_MAILUSER}, {0x3A54001F, 0},
      {0x3A64001E, MAPI_MAILUSER}, {0x3A31001E, 0},             {0x3701000D, MAPI_ATTACH},
      {0x37010102, MAPI_ATTACH},   {0x37050003, MAPI_ATTACH},   {0x37060003, 0},
      {0x370F0102, MAPI_ATTACH},   {0x3D0B001E, MAPI_PROFSECT}, {0x3D0B001F, 0},
      {0x3D10101E, MAPI_PROFSECT}, {0x3D030102, 0},             {0x3E00001F, MAPI_STATUS},
      {0x3E0D000B, MAPI_STATUS},   {0x3E0E000B, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(objectKindOfTag(c.tag), c.kind) << std::hex << c.tag;
}

TEST(ObjectKind, FirstCharacteristicRecordDecides) {
  SPropValue props[4]{};
  props[0].ulPropTag = PR_DISPLAY_NAME_W;   // common to every kind: not characteristic
  props[1].ulPropTag = PR_ATTACH_METHOD;
  props[2].ulPropTag = PR_SUBJECT_W;
  props[3].ulPropTag = 0x36020003;  // content count of a folder
  EXPECT_EQ(objectKindOfProps(4, props), MAPI_ATTACH);
  EXPECT_EQ(objectKindOfProps(1, props), 0u);
  EXPECT_EQ(objectKindOfProps(0, props), 0u);
  EXPECT_EQ(objectKindOfProps(4, nullptr), 0u);
  props[1].ulPropTag = PROP_TAG(PT_ERROR, 0x3705);  // an undecodable value has lost its type
  EXPECT_EQ(objectKindOfProps(4, props), MAPI_MESSAGE);
}

}  // namespace
}  // namespace vexl
