// Property contexts and value decoding on hand-built heaps: every error
// value, the string and multi-value rules, subnode values, and allocation
// failure. Every record is freed (LeakSanitizer watches).
#include <gtest/gtest.h>

#include <string_view>

#include "engine/core/code_page.h"
#include "engine/ltp/property_context.h"
#include "engine/ltp/test_heap_builder.h"
#include "mapi/mapialloc.h"
#include "mapi/mapitags.h"

namespace vexl::testing {
namespace {

using namespace mapi;

struct Props {
  std::uint32_t count = 0;
  SPropValue* v = nullptr;
  int result = 0;
  explicit Props(const NdbNode& node) { result = getAllProps(node, count, v); }
  ~Props() { MAPIFreeBuffer(v); }
  const SPropValue& at(std::size_t i) const { return v[i]; }
};

TEST(PropertyContext, EmptyPcAndATableSeenAsProperties) {
  HeapBuilder empty(kHeapSigPropertyContext);
  addPcBth(empty, {});
  NodeFile e(empty.build());
  const std::size_t live = mapiLiveBlockCount();
  {
    Props p(e.node());
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.count, 0u);
    EXPECT_EQ(p.v, nullptr);
  }
  EXPECT_EQ(mapiLiveBlockCount(), live);

  HeapBuilder table(kHeapSigTable);
  const std::uint32_t leaf = table.add(le32(0x21) + le32(0) + le32(0x22) + le32(1));
  const std::uint32_t rowIndex = table.add(Bytes{0xB5, 4, 4, 0} + le32(leaf));
  table.userRoot = table.add(Bytes{0x7C, 2, 0, 0, 0, 0, 0, 0, 0, 0} + le32(rowIndex) + Bytes(24, 0));
  NodeFile t(table.build());
  Props p(t.node());
  ASSERT_EQ(p.count, 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(p.at(i).ulPropTag, 0x0000000Au);
    EXPECT_EQ(p.at(i).Value.err, MAPI_E_NO_SUPPORT);
  }
  SPropValue* one = nullptr;
  EXPECT_EQ(getProp(t.node(), 0x00210003, one), 0);
  EXPECT_EQ(one, nullptr);
  EXPECT_EQ(getDisplayName(t.node()), "");
}

TEST(PropertyContext, WrongRecordShapeIsCorruptData) {
  HeapBuilder heap(kHeapSigPropertyContext);
  const std::uint32_t leaf = heap.add(le16(0x3001) + le16(3) + le32(5) + Bytes{0});
  heap.userRoot = heap.add(Bytes{0xB5, 2, 7, 0} + le32(leaf));
  NodeFile f(heap.build());
  Props p(f.node());
  ASSERT_EQ(p.count, 1u);
  EXPECT_EQ(p.at(0).ulPropTag, 0x0000000Au);
  EXPECT_EQ(p.at(0).Value.err, MAPI_E_CORRUPT_DATA);
}

TEST(PropertyContext, FixedTypesAndTheirErrorTwins) {
  HeapBuilder heap(kHeapSigPropertyContext);
  const std::uint32_t time = heap.add(le32(0x89ABCDEF) + le32(0x01C00000));
  const std::uint32_t guid = heap.add(Bytes(16, 0x5A));
  const std::uint32_t shortItem = heap.add(Bytes{1, 2, 3});
  const std::uint32_t object = heap.add(le32(0x8025) + le32(1234));
  addPcBth(heap, {{0x0017, PT_LONG, 0xFFFFFFFE},
                  {0x0018, PT_I2, 0x00017FFF},
                  {0x0019, PT_BOOLEAN, 0x00000101},
                  {0x001A, PT_SYSTIME, time},
                  {0x001B, PT_CLSID, guid},
                  {0x001C, PT_I8, shortItem},  // fewer than 8 bytes
                  {0x001D, PT_ERROR, 0},
                  {0x001E, 0x0099, 0},         // a type nobody knows
                  {0x001F, PT_NULL, 0},
                  {0x3701, PT_OBJECT, object},
                  {0x0020, PT_LONG | MV_INSTANCE, 7}});
  NodeFile f(heap.build());
  Props p(f.node());
  ASSERT_EQ(p.count, 11u);
  EXPECT_EQ(p.at(0).ulPropTag, PROP_TAG(PT_LONG, 0x0017));
  EXPECT_EQ(p.at(0).Value.l, -2);
  EXPECT_EQ(p.at(1).Value.i, 0x7FFF);
  EXPECT_EQ(p.at(2).Value.b, 1);
  EXPECT_EQ(p.at(3).Value.ft.dwLowDateTime, 0x89ABCDEFu);
  EXPECT_EQ(p.at(3).Value.ft.dwHighDateTime, 0x01C00000u);
  ASSERT_NE(p.at(4).Value.lpguid, nullptr);
  EXPECT_EQ(p.at(4).Value.lpguid->Data1, 0x5A5A5A5Au);
  for (std::size_t i : {5, 6, 7}) {
    EXPECT_EQ(p.at(i).ulPropTag, (p.at(i).ulPropTag & 0xFFFF0000u) | PT_ERROR) << i;
    EXPECT_EQ(p.at(i).Value.err, MAPI_E_BAD_VALUE) << i;
  }
  EXPECT_EQ(p.at(5).ulPropTag, PROP_TAG(PT_ERROR, 0x001C));
  EXPECT_EQ(p.at(8).ulPropTag, PROP_TAG(PT_NULL, 0x001F));
  std::uint32_t nidSize[2];
  std::memcpy(nidSize, &p.at(9).Value, 8);
  EXPECT_EQ(nidSize[0], 0x8025u);
  EXPECT_EQ(nidSize[1], 1234u);
  // MV_INSTANCE is kept in the tag, cleared for decoding.
  EXPECT_EQ(p.at(10).ulPropTag, PROP_TAG(PT_LONG | MV_INSTANCE, 0x0020));
  EXPECT_EQ(p.at(10).Value.l, 7);
}

TEST(PropertyContext, StringsBinariesAndSubnodeValues) {
  HeapBuilder heap(kHeapSigPropertyContext);
  const std::uint32_t odd = heap.add(utf16le(u"ab") + Bytes{'c'});  // 5 bytes
  const std::uint32_t ansi = heap.add(Bytes{'h', 'i'});
  addPcBth(heap, {{0x0037, PT_UNICODE, odd},
                  {0x0038, PT_STRING8, 0},          // HNID 0: empty, not an error
                  {0x0039, PT_STRING8, ansi},
                  {0x003A, PT_BINARY, 0x8045},      // a subnode
                  {0x003B, PT_BINARY, 0x8065},      // a subnode that is not there
                  {0x003C, PT_BINARY, 0},
                  {0x003D, PT_MV_UNICODE, 0},       // HNID 0 fails for the variable MV types
                  {0x003E, PT_UNICODE, 0x7E0}});    // a heap item that is not there
  NodeFile f(heap.build(), {{0x8045, {Bytes(300, 0xAB)}}});
  Props p(f.node());
  ASSERT_EQ(p.count, 8u);
  EXPECT_EQ(std::u16string_view(p.at(0).Value.lpszW), u"ab");
  EXPECT_STREQ(p.at(1).Value.lpszA, "");
  EXPECT_STREQ(p.at(2).Value.lpszA, "hi");
  ASSERT_EQ(p.at(3).Value.bin.cb, 300u);
  EXPECT_EQ(p.at(3).Value.bin.lpb[299], 0xAB);
  EXPECT_EQ(p.at(4).ulPropTag, PROP_TAG(PT_ERROR, 0x003B));
  EXPECT_EQ(p.at(4).Value.err, MAPI_E_BAD_VALUE);
  EXPECT_EQ(p.at(5).ulPropTag, PROP_TAG(PT_BINARY, 0x003C));
  EXPECT_EQ(p.at(5).Value.bin.cb, 0u);
  EXPECT_EQ(p.at(5).Value.bin.lpb, nullptr);
  EXPECT_EQ(p.at(6).ulPropTag, PROP_TAG(PT_ERROR, 0x003D));
  EXPECT_EQ(p.at(7).ulPropTag, PROP_TAG(PT_ERROR, 0x003E));

  // getProp matches the type too; the string getters fall back to Unicode.
  SPropValue* v = nullptr;
  EXPECT_EQ(getProp(f.node(), PROP_TAG(PT_STRING8, 0x0037), v), 0);
  EXPECT_EQ(getProp(f.node(), PROP_TAG(PT_UNICODE, 0x003B), v), 0);  // found but not decodable
  EXPECT_EQ(getProp(f.node(), PR_NULL, v), 0);
  ASSERT_EQ(getProp(f.node(), PROP_TAG(PT_STRING8, 0x0039), v), 1);
  EXPECT_STREQ(v->Value.lpszA, "hi");
  MAPIFreeBuffer(v);
  EXPECT_EQ(getStringProp(f.node(), 0x0037), "ab");
  EXPECT_EQ(getStringProp(f.node(), 0x0039), "hi");
  EXPECT_EQ(getStringProp(f.node(), 0x0040), "");
}

TEST(PropertyContext, MultiValuedLayouts) {
  HeapBuilder heap(kHeapSigPropertyContext);
  // Three binaries whose second offset runs backwards before the first.
  const std::uint32_t backwards = heap.add(le32(3) + le32(20) + le32(18) + le32(22) + Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  const std::uint32_t strings = heap.add(le32(2) + le32(12) + le32(18) + utf16le(u"one") + utf16le(u"two"));
  const std::uint32_t longs = heap.add(le32(1) + le32(2) + Bytes{9});  // trailing byte ignored
  const std::uint32_t huge = heap.add(le32(0x40000001) + le32(8));     // 4 * count + 4 wraps in 32 bits
  const std::uint32_t none = heap.add(le32(0));
  addPcBth(heap, {{0x1001, PT_MV_BINARY, backwards},
                  {0x1002, PT_MV_UNICODE, strings},
                  {0x1003, PT_MV_LONG, longs},
                  {0x1004, PT_MV_STRING8, huge},
                  {0x1005, PT_MV_STRING8, none},
                  {0x1006, PT_MV_I8, 0}});
  NodeFile f(heap.build());
  Props p(f.node());
  ASSERT_EQ(p.count, 6u);
  const SBinaryArray& bins = p.at(0).Value.MVbin;
  ASSERT_EQ(bins.cValues, 3u);
  EXPECT_EQ(bins.lpbin[0].cb, 0u);
  EXPECT_EQ(bins.lpbin[0].lpb, nullptr);
  ASSERT_EQ(bins.lpbin[1].cb, 4u);
  EXPECT_EQ(bins.lpbin[1].lpb[0], 3);
  ASSERT_EQ(bins.lpbin[2].cb, 2u);  // the last runs to the end
  EXPECT_EQ(bins.lpbin[2].lpb[0], 7);
  ASSERT_EQ(p.at(1).Value.MVszW.cValues, 2u);
  EXPECT_EQ(std::u16string_view(p.at(1).Value.MVszW.lppszW[0]), u"one");
  EXPECT_EQ(std::u16string_view(p.at(1).Value.MVszW.lppszW[1]), u"two");
  ASSERT_EQ(p.at(2).Value.MVl.cValues, 2u);
  EXPECT_EQ(p.at(2).Value.MVl.lpl[1], 2);
  EXPECT_EQ(p.at(3).ulPropTag, PROP_TAG(PT_ERROR, 0x1004));
  EXPECT_EQ(p.at(4).Value.MVszA.cValues, 0u);
  EXPECT_EQ(p.at(4).Value.MVszA.lppszA, nullptr);
  // Fixed-size MV types take HNID 0 as no values.
  EXPECT_EQ(p.at(5).ulPropTag, PROP_TAG(PT_MV_I8, 0x1006));
  EXPECT_EQ(p.at(5).Value.MVli.cValues, 0u);
}

TEST(PropertyContext, AllocationFailureCostsTheValueOrTheCall) {
  HeapBuilder heap(kHeapSigPropertyContext);
  const std::uint32_t s = heap.add(Bytes{'x', 'y'});
  addPcBth(heap, {{0x0001, PT_LONG, 1}, {0x0002, PT_STRING8, s}, {0x0003, PT_LONG, 3}});
  NodeFile f(heap.build());
  const std::size_t live = mapiLiveBlockCount();
  mapiFailAllocationsAfter(0);
  {
    Props p(f.node());
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.v, nullptr);
  }
  mapiFailAllocationsAfter(1);  // the array, not the string
  {
    Props p(f.node());
    mapiClearAllocationFailure();
    ASSERT_EQ(p.count, 3u);
    EXPECT_EQ(p.at(1).ulPropTag, PROP_TAG(PT_ERROR, 0x0002));
    EXPECT_EQ(p.at(2).Value.l, 3);
  }
  mapiClearAllocationFailure();
  EXPECT_EQ(mapiLiveBlockCount(), live);
}

TEST(PropertyContext, AnsiTextInTheSystemCodePage) {
  const std::uint32_t before = systemAnsiCodePage();
  HeapBuilder heap(kHeapSigPropertyContext);
  const std::uint32_t w = heap.add(utf16le(u"日本語"));
  addPcBth(heap, {{0x3001, PT_UNICODE, w}});
  NodeFile f(heap.build());
  ASSERT_TRUE(setSystemAnsiCodePage(932));
  EXPECT_EQ(getDisplayName(f.node()), "\x93\xfa\x96\x7b\x8c\xea");
  ASSERT_TRUE(setSystemAnsiCodePage(1252));
  EXPECT_EQ(getDisplayName(f.node()), "???");
  setSystemAnsiCodePage(before);
}

}  // namespace
}  // namespace vexl::testing
