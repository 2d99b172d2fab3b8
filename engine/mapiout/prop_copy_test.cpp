// The property copy against recording fakes: string widths through the ANSI
// code page, named ids, the type filter, PR_RTF_IN_SYNC and empty compressed
// RTF, the batch with its fallbacks, object records, and a message copied
// from a built PC node.
// Every MAPI block is freed (live-block counts and LeakSanitizer).
#include <gtest/gtest.h>

#include "engine/core/code_page.h"
#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/test_heap_builder.h"
#include "engine/mapiout/prop_copy.h"
#include "engine/mapiout/test_fake_mapi.h"
#include "mapi/mapialloc.h"
#include "mapi/mapitags.h"

namespace vexl::testing {
namespace {

using namespace mapi;

SPropValue longProp(ULONG tag, LONG v) {
  SPropValue p{};
  p.ulPropTag = tag;
  p.Value.l = v;
  return p;
}
SPropValue ansiProp(ULONG tag, const char* s) {
  SPropValue p{};
  p.ulPropTag = tag;
  p.Value.lpszA = const_cast<char*>(s);
  return p;
}
SPropValue wideProp(ULONG tag, const char16_t* s) {
  SPropValue p{};
  p.ulPropTag = tag;
  p.Value.lpszW = const_cast<char16_t*>(s);
  return p;
}

class PropCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(setSystemAnsiCodePage(1252));
    live_ = mapiLiveBlockCount();
  }
  void TearDown() override {
    mapiClearAllocationFailure();
    EXPECT_EQ(mapiLiveBlockCount(), live_);
  }
  PropCopySettings settings(bool unicode, bool batch) {
    PropCopySettings s;
    s.unicode = unicode;
    s.batch = batch;
    s.namedPropIds = &ids;
    return s;
  }
  NdbNode node;
  NamedPropIds ids;
  std::size_t live_ = 0;
};

TEST_F(PropCopy, StringsTakeTheTargetWidthThroughTheAnsiCodePage) {
  for (const bool batch : {false, true}) {
    FakeTarget wide, narrow;
    const SPropValue subject = ansiProp(PR_SUBJECT_A, "caf\xE9 \x80");
    copyProps(settings(true, batch), node, 1, &subject, &wide);
    ASSERT_NE(wide.last(PR_SUBJECT_W), nullptr);
    EXPECT_EQ(wide.last(PR_SUBJECT_W)->w, std::u16string(u"caf\u00E9 \u20AC"));
    EXPECT_EQ(wide.timesWritten(PR_SUBJECT_A), 0u);

    const SPropValue name = wideProp(PR_DISPLAY_NAME_W, u"\u20AC \u4E2D");
    copyProps(settings(false, batch), node, 1, &name, &narrow);
    ASSERT_NE(narrow.last(PR_DISPLAY_NAME_A), nullptr);
    EXPECT_EQ(narrow.last(PR_DISPLAY_NAME_A)->a, std::string("\x80 ?"));

    // A null string stays null, and the record is still written.
    FakeTarget nulls;
    const SPropValue empty = ansiProp(PR_SUBJECT_A, nullptr);
    EXPECT_EQ(copyProp(settings(true, batch), node, empty, &nulls), 1);
    ASSERT_NE(nulls.last(PR_SUBJECT_W), nullptr);
    EXPECT_FALSE(nulls.last(PR_SUBJECT_W)->w.has_value());
  }
}

TEST_F(PropCopy, MultiValuedStringsConvertEveryElementAndKeepNulls) {
  char16_t first[] = u"\u00E9t\u00E9";
  LPWSTR items[] = {first, nullptr, const_cast<char16_t*>(u"")};
  SPropValue mv{};
  mv.ulPropTag = PROP_TAG(PT_MV_UNICODE, 0x3A54);
  mv.Value.MVszW = {3, items};
  FakeTarget narrow;
  copyProps(settings(false, true), node, 1, &mv, &narrow);
  const Written* w = narrow.last(PROP_TAG(PT_MV_STRING8, 0x3A54));
  ASSERT_NE(w, nullptr);
  ASSERT_EQ(w->mvA.size(), 3u);
  EXPECT_EQ(w->mvA[0], std::string("\xE9t\xE9"));
  EXPECT_FALSE(w->mvA[1].has_value());
  EXPECT_EQ(w->mvA[2], std::string());

  LPSTR ansi[] = {const_cast<char*>("\xFC"), nullptr};
  SPropValue back{};
  back.ulPropTag = PROP_TAG(PT_MV_STRING8, 0x3A54);
  back.Value.MVszA = {2, ansi};
  FakeTarget wide;
  EXPECT_EQ(copyProp(settings(true, false), node, back, &wide), 1);
  const Written* ww = wide.last(PROP_TAG(PT_MV_UNICODE, 0x3A54));
  ASSERT_NE(ww, nullptr);
  ASSERT_EQ(ww->mvW.size(), 2u);
  EXPECT_EQ(ww->mvW[0], std::u16string(u"\u00FC"));
  EXPECT_FALSE(ww->mvW[1].has_value());

  // Without room for the new pointer array the record is dropped, and a
  // damaged record (values but no array) is never followed.
  mapiFailAllocationsAfter(0);
  EXPECT_EQ(copyProp(settings(true, false), node, back, &wide), 0);
  mapiClearAllocationFailure();
  back.Value.MVszA.lppszA = nullptr;
  EXPECT_EQ(copyProp(settings(true, false), node, back, &wide), 0);
  EXPECT_EQ(wide.calls.size(), 1u);
}

TEST_F(PropCopy, NamedIdsAreWrittenUnderTheTargetIds) {
  ids.set(0x8001, 0x8105);
  ids.set(0x8002, 0x8106);
  ids.set(0x8002, 0x8107);  // a later registration replaces the earlier
  const SPropValue props[] = {
      longProp(PROP_TAG(PT_LONG, 0x8001), 7),
      wideProp(PROP_TAG(PT_UNICODE, 0x8002), u"x"),
      longProp(PROP_TAG(PT_LONG, 0x8003), 9),  // no mapping: source id kept
      longProp(PROP_TAG(PT_LONG, 0x0017), 1),  // ordinary ids are never looked up
  };
  ids.set(0x0017, 0x8200);
  for (const bool batch : {false, true}) {
    FakeTarget t;
    copyProps(settings(false, batch), node, 4, props, &t);
    EXPECT_EQ(t.timesWritten(PROP_TAG(PT_LONG, 0x8105)), 1u);
    ASSERT_NE(t.last(PROP_TAG(PT_STRING8, 0x8107)), nullptr);
    EXPECT_EQ(t.last(PROP_TAG(PT_STRING8, 0x8107))->a, std::string("x"));
    EXPECT_EQ(t.timesWritten(PROP_TAG(PT_LONG, 0x8003)), 1u);
    EXPECT_EQ(t.timesWritten(PROP_TAG(PT_LONG, 0x0017)), 1u);
    EXPECT_EQ(t.written().size(), 4u);
  }
}

TEST_F(PropCopy, FilteredRecordsAndRtfInSyncAreNeverWritten) {
  const SPropValue props[] = {
      longProp(PROP_TAG(PT_ERROR, 0x0037), MAPI_E_NOT_FOUND), longProp(PR_RTF_IN_SYNC, 1),
      longProp(PROP_TAG(PT_NULL, 0x0E08), 0),  longProp(PROP_TAG(PT_UNSPECIFIED, 0x0E09), 0),
      longProp(PROP_TAG(0x0044, 0x0E0A), 0),   longProp(PROP_TAG(PT_LONG, 0x0E07), 3),
  };
  for (const bool batch : {false, true}) {
    FakeTarget t;
    copyProps(settings(true, batch), node, 6, props, &t);
    ASSERT_EQ(t.written().size(), 1u);
    EXPECT_EQ(t.written()[0].tag, PROP_TAG(PT_LONG, 0x0E07));
    EXPECT_EQ(t.saves, std::vector<ULONG>{0x0A});

    // Only errors: no SetProps, yet the object is saved.
    FakeTarget errors;
    copyProps(settings(true, batch), node, 1, props, &errors);
    EXPECT_TRUE(errors.calls.empty());
    EXPECT_EQ(errors.saves.size(), 1u);
  }
  FakeTarget t;
  EXPECT_EQ(copyProp(settings(true, false), node, props[1], &t), 1);
  EXPECT_EQ(copyProp(settings(true, false), node, props[0], &t), 0);
  EXPECT_EQ(copyProp(settings(true, false), node, props[5], nullptr), 0);
  EXPECT_TRUE(t.calls.empty());
  EXPECT_TRUE(t.saves.empty());  // the single-record copy does not save

  copyProps(settings(true, true), node, 0, props, &t);
  copyProps(settings(true, true), node, 6, nullptr, &t);
  EXPECT_TRUE(t.saves.empty());
}

TEST_F(PropCopy, CompressedRtfShorterThanItsHeaderIsLeftOut) {
  unsigned char bytes[16] = {};
  SPropValue rtf[3]{};
  for (SPropValue& v : rtf) v.ulPropTag = PR_RTF_COMPRESSED;
  rtf[0].Value.bin = {0, nullptr};
  rtf[1].Value.bin = {15, bytes};
  rtf[2].Value.bin = {16, bytes};  // a header alone is kept: it may be all that survived
  for (const bool batch : {false, true}) {
    FakeTarget t;
    copyProps(settings(true, batch), node, 3, rtf, &t);
    ASSERT_EQ(t.written().size(), 1u);
    EXPECT_EQ(t.written()[0].tag, PR_RTF_COMPRESSED);
  }
  FakeTarget t;
  EXPECT_EQ(copyProp(settings(false, false), node, rtf[0], &t), 0);
  EXPECT_TRUE(t.calls.empty());
}

TEST_F(PropCopy, BatchRetriesOnlyOutOfMemoryProblems) {
  const SPropValue props[] = {longProp(PROP_TAG(PT_LONG, 0x0E07), 1), longProp(PROP_TAG(PT_LONG, 0x0E08), 2),
                              longProp(PROP_TAG(PT_LONG, 0x0E14), 3)};
  FakeTarget t;
  t.problemFor[PROP_TAG(PT_LONG, 0x0E08)] = E_OUTOFMEMORY;
  t.problemFor[PROP_TAG(PT_LONG, 0x0E14)] = MAPI_E_NO_ACCESS;
  copyProps(settings(true, true), node, 3, props, &t);
  ASSERT_EQ(t.calls.size(), 2u);
  EXPECT_EQ(t.calls[0].size(), 3u);
  ASSERT_EQ(t.calls[1].size(), 1u);
  EXPECT_EQ(t.calls[1][0].tag, PROP_TAG(PT_LONG, 0x0E08));
  EXPECT_EQ(t.calls[1][0].l, 2);

  // A problem index outside the batch is not followed.
  FakeTarget wild;
  wild.problemFor[PROP_TAG(PT_LONG, 0x0E08)] = E_OUTOFMEMORY;
  wild.problemIndexOverride = 1000;
  copyProps(settings(true, true), node, 3, props, &wild);
  EXPECT_EQ(wild.calls.size(), 1u);
  EXPECT_EQ(wild.saves.size(), 1u);
}

TEST_F(PropCopy, FailedBatchAndMissingBatchFallBackToSingleRecords) {
  const SPropValue props[] = {longProp(PROP_TAG(PT_LONG, 0x0E07), 1), ansiProp(PR_SUBJECT_A, "s"),
                              longProp(PR_RTF_IN_SYNC, 1)};
  FakeTarget failing;
  failing.failBatch = true;
  copyProps(settings(true, true), node, 3, props, &failing);
  ASSERT_EQ(failing.calls.size(), 3u);  // the batch, then each of its two records
  EXPECT_EQ(failing.calls[1].size(), 1u);
  EXPECT_EQ(failing.calls[2][0].w, std::u16string(u"s"));
  EXPECT_EQ(failing.saves.size(), 1u);

  // No memory for the batch: the records still arrive, one at a time.
  FakeTarget starved;
  mapiFailAllocationsAfter(0);
  copyProps(settings(true, true), node, 3, props, &starved);
  mapiClearAllocationFailure();
  EXPECT_EQ(starved.calls.size(), 2u);
  EXPECT_EQ(starved.written().size(), 2u);
  EXPECT_EQ(starved.saves.size(), 1u);
}

TEST_F(PropCopy, ObjectRecordsGoToTheObjectCopyUnderTheirMappedTag) {
  ids.set(0x8010, 0x8111);
  std::vector<ULONG> handed;
  auto s = settings(true, true);
  s.copyObject = [&](const NdbNode& n, const SPropValue& record, IMAPIProp* target) {
    EXPECT_EQ(&n, &node);
    EXPECT_NE(target, nullptr);
    handed.push_back(record.ulPropTag);
    return 1;
  };
  const SPropValue props[] = {longProp(PR_ATTACH_DATA_OBJ, 0x8A), longProp(PROP_TAG(PT_OBJECT, 0x8010), 0x8B),
                              longProp(PR_ATTACH_METHOD, 5)};
  FakeTarget t;
  copyProps(s, node, 3, props, &t);
  EXPECT_EQ(handed, (std::vector<ULONG>{PR_ATTACH_DATA_OBJ, PROP_TAG(PT_OBJECT, 0x8111)}));
  ASSERT_EQ(t.written().size(), 1u);
  EXPECT_EQ(t.written()[0].tag, PR_ATTACH_METHOD);
  EXPECT_EQ(copyProp(s, node, props[0], &t), 1);
  EXPECT_EQ(copyProp(settings(true, false), node, props[0], &t), 0);  // no object copy: not written
  EXPECT_EQ(t.calls.size(), 1u);
}

TEST_F(PropCopy, SettingsComeFromTheRun) {
  EngineContext engine(nullptr, nullptr);
  engine.pstFormat = PstFormat::Unicode;
  const auto s = propCopySettings(engine, ids);
  EXPECT_TRUE(s.unicode);
  EXPECT_FALSE(s.batch);  // options start zeroed
  EXPECT_EQ(s.namedPropIds, &ids);
}

TEST(PropCopyHelpers, ObjectTypeOfNidAndBinaryBytes) {
  EXPECT_EQ(objectTypeOfNid(0x00200024), MAPI_MESSAGE);
  EXPECT_EQ(objectTypeOfNid(0x00200028), MAPI_MESSAGE);
  EXPECT_EQ(objectTypeOfNid(0x00000122), MAPI_FOLDER);
  EXPECT_EQ(objectTypeOfNid(0x00000123), MAPI_FOLDER);
  EXPECT_EQ(objectTypeOfNid(0x00000125), MAPI_ATTACH);
  EXPECT_EQ(objectTypeOfNid(0x00000061), 0u);  // an internal node
  EXPECT_EQ(objectTypeOfNid(0x0000012D), 0u);  // a table

  unsigned char bytes[] = {1, 2, 3};
  SPropValue v{};
  v.ulPropTag = PR_RTF_COMPRESSED;
  v.Value.bin = {3, bytes};
  EXPECT_EQ(binaryBytes(v), (std::vector<unsigned char>{1, 2, 3}));
  v.ulPropTag = PROP_TAG(PT_MV_BINARY, 0x1009);
  EXPECT_TRUE(binaryBytes(v).empty());
  v.ulPropTag = PR_RTF_COMPRESSED;
  v.Value.bin = {5, nullptr};  // a damaged record: no bytes behind the count
  EXPECT_TRUE(binaryBytes(v).empty());
}

TEST_F(PropCopy, MessagePropsFromAPropertyContextNode) {
  HeapBuilder heap(kHeapSigPropertyContext);
  const std::uint32_t subject = heap.add(utf16le(u"Hello"));
  addPcBth(heap, {{0x0037, 0x001F, subject}, {0x0E07, 0x0003, 0x11}, {0x0E1F, 0x000B, 1}});
  NodeFile pc(heap.build());
  ASSERT_EQ(heapKind(pc.node()), HeapKind::PropertyContext);
  FakeMessage message;
  copyMessageProps(settings(false, true), pc.node(), &message);
  ASSERT_NE(message.last(PR_SUBJECT_A), nullptr);
  EXPECT_EQ(message.last(PR_SUBJECT_A)->a, std::string("Hello"));
  EXPECT_EQ(message.last(PROP_TAG(PT_LONG, 0x0E07))->l, 0x11);
  EXPECT_EQ(message.timesWritten(PR_RTF_IN_SYNC), 0u);
  EXPECT_EQ(message.saves.size(), 1u);
  copyMessageProps(settings(false, true), pc.node(), nullptr);

  HeapBuilder table(kHeapSigTable);
  table.userRoot = table.add(Bytes(8, 0));
  NodeFile tc(table.build());
  FakeMessage untouched;
  copyMessageProps(settings(false, true), tc.node(), &untouched);
  EXPECT_TRUE(untouched.calls.empty());
  EXPECT_TRUE(untouched.saves.empty());
}

}  // namespace
}  // namespace vexl::testing
