// The named property map from a built name-to-id map node: GUID choice,
// numeric and string names, stream bounds, what the store answers, and the
// cases that leave the map empty. Every MAPI block is freed.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "engine/core/code_page.h"
#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/test_heap_builder.h"
#include "engine/mailbox/named_prop_map.h"
#include "engine/mapiout/prop_copy.h"
#include "engine/mapiout/target_store.h"
#include "engine/mapiout/test_fake_mapi.h"
#include "mapi/mapiguid.h"

namespace vexl::testing {
namespace {

using namespace mapi;

constexpr GUID kCommon = {0x00062008, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

Bytes guidBytes(const GUID& g) {
  return le32(g.Data1) + le16(g.Data2) + le16(g.Data3) + Bytes(g.Data4, g.Data4 + 8);
}
Bytes nameid(std::uint32_t propertyId, std::uint16_t wGuid, bool isString, std::uint16_t propIdx) {
  return le32(propertyId) + le16(static_cast<std::uint16_t>(wGuid << 1 | (isString ? 1 : 0))) + le16(propIdx);
}

// A name-to-id map node in its own file, entered in the file's node index
// as node 0x61.
class MapNode {
 public:
  MapNode(const Bytes& guids, const Bytes& entries, const Bytes& strings, std::uint16_t entryType = 0x0102) {
    HeapBuilder heap(kHeapSigPropertyContext);
    const std::uint32_t g = heap.add(guids), e = heap.add(entries), s = heap.add(strings);
    addPcBth(heap, {{0x0002, 0x0102, g}, {0x0003, entryType, e}, {0x0004, 0x0102, s}});
    file_ = std::make_unique<NodeFile>(heap.build());
    NdbNode copy = file_->node();
    copy.nid = kNidNameToIdMap;
    format().nodeIndex().append(kNidNameToIdMap, copy);
  }
  NdbFormat& format() { return *file_->node().format; }
  const NdbNode& indexed() { return *format().nodeIndex().find(kNidNameToIdMap); }

 private:
  std::unique_ptr<NodeFile> file_;
};

class NamedPropMap : public ::testing::Test {
 protected:
  void SetUp() override { live_ = mapiLiveBlockCount(); }
  void TearDown() override { EXPECT_EQ(mapiLiveBlockCount(), live_); }
  std::size_t live_ = 0;
};

TEST_F(NamedPropMap, NamesAreRegisteredAndTheirIdsRecorded) {
  const Bytes strings = le32(16) + utf16le(u"Keywords") + le32(0x100) + utf16le(u"Cut");
  const Bytes entries = nameid(0x8520, 2, false, 0)          // numeric, PS_PUBLIC_STRINGS
                        + nameid(0, 3, true, 1)              // "Keywords", GUID 0 of the stream
                        + nameid(0x10, 1, false, 2)          // PS_MAPI: not mapped
                        + nameid(0x10, 4, false, 3)          // GUID 1: not in the stream
                        + nameid(0x8521, 2, false, 0)        // the same source id again: this one wins
                        + nameid(20, 3, true, 5)             // length past the stream: cut to "Cut"
                        + nameid(27, 3, true, 6)             // no room for the length field
                        + nameid(0xFFFFFFFE, 3, true, 7)     // an offset that would wrap round
                        + Bytes{1, 2, 3};                    // an incomplete record
  MapNode map(guidBytes(kCommon) + Bytes{9, 9}, entries, strings);
  FakeStore store;
  NamedPropIds ids;
  ids.set(0x8777, 0x8001);  // left from an earlier target file
  ASSERT_EQ(buildNamedPropMap(map.format(), &store, ids), 1);
  EXPECT_EQ(map.indexed().usedMark, 1u);

  ASSERT_EQ(store.names.size(), 4u);
  EXPECT_EQ(store.names[0].guid, PS_PUBLIC_STRINGS);
  EXPECT_EQ(store.names[0].kind, MNID_ID);
  EXPECT_EQ(store.names[0].id, 0x8520);
  EXPECT_EQ(store.names[1].guid, kCommon);
  EXPECT_EQ(store.names[1].kind, MNID_STRING);
  EXPECT_EQ(store.names[1].text, u"Keywords");
  EXPECT_EQ(store.names[2].id, 0x8521);
  EXPECT_EQ(store.names[3].text, u"Cut");

  EXPECT_EQ(ids.size(), 3u);
  ASSERT_NE(ids.find(0x8000), nullptr);
  EXPECT_EQ(*ids.find(0x8000), 0x8102u);
  EXPECT_EQ(*ids.find(0x8001), 0x8101u);
  EXPECT_EQ(*ids.find(0x8005), 0x8103u);
  EXPECT_EQ(ids.find(0x8002), nullptr);
  EXPECT_EQ(ids.find(0x8777), nullptr);
}

TEST_F(NamedPropMap, RefusedNamesRecordNothing) {
  const Bytes entries = nameid(1, 2, false, 0);
  MapNode map({}, entries, {});
  NamedPropIds ids;
  FakeStore failing;
  failing.answer = MAPI_E_NO_SUPPORT;
  EXPECT_EQ(buildNamedPropMap(map.format(), &failing, ids), 1);
  EXPECT_TRUE(ids.empty());

  FakeStore two;
  two.answerTwo = true;
  EXPECT_EQ(buildNamedPropMap(map.format(), &two, ids), 1);
  EXPECT_TRUE(ids.empty());

  // A name the store could not map comes back as PT_ERROR with id 0; it
  // must not send the property to id 0 (PR_NULL).
  FakeStore unmapped;
  unmapped.answer = MAPI_W_ERRORS_RETURNED;
  unmapped.answerTag = PROP_TAG(PT_ERROR, 0);
  EXPECT_EQ(buildNamedPropMap(map.format(), &unmapped, ids), 1);
  EXPECT_TRUE(ids.empty());
}

TEST_F(NamedPropMap, WithoutCompleteEntriesOrANodeTheMapStaysEmpty) {
  NamedPropIds ids;
  FakeStore store;
  MapNode seven({}, Bytes(7, 0x04), {});
  EXPECT_EQ(buildNamedPropMap(seven.format(), &store, ids), 1);
  EXPECT_TRUE(ids.empty());
  EXPECT_TRUE(store.names.empty());

  // An entry stream of another type than binary counts as absent.
  MapNode wrongType({}, {}, {}, 0x0003);
  EXPECT_EQ(buildNamedPropMap(wrongType.format(), &store, ids), 1);
  EXPECT_TRUE(store.names.empty());

  MapNode good({}, nameid(1, 2, false, 0), {});
  ids.set(0x8000, 0x8001);
  EXPECT_EQ(buildNamedPropMap(good.format(), nullptr, ids), 0);
  EXPECT_TRUE(ids.empty());

  HeapBuilder heap(kHeapSigPropertyContext);
  addPcBth(heap, {});
  NodeFile other(heap.build());  // a file whose index has no node 0x61
  EXPECT_EQ(buildNamedPropMap(*other.node().format, &store, ids), 0);

  HeapBuilder table(kHeapSigTable);
  table.userRoot = table.add(Bytes(8, 0));
  NodeFile tc(table.build());
  NdbNode copy = tc.node();
  tc.node().format->nodeIndex().append(kNidNameToIdMap, copy);
  EXPECT_EQ(buildNamedPropMap(*tc.node().format, &store, ids), 0);
  EXPECT_TRUE(store.names.empty());
}

// Through the real target store: names registered in a new Unicode PST,
// then a message copied with its named properties under the new ids.
TEST(NamedPropMapStore, NamedPropertiesLandOnTheirNamesInANewFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("named-prop-map-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ASSERT_TRUE(setSystemAnsiCodePage(1252));
  {
    const Bytes strings = le32(16) + utf16le(u"Keywords");
    MapNode map(guidBytes(kCommon), nameid(0x8520, 2, false, 0x10) + nameid(0, 3, true, 0x11), strings);
    auto target = makeMapiTargetStore();
    ASSERT_TRUE(target->initialize());
    ASSERT_TRUE(target->create((dir / "named.pst").string(), kPstNoEncryption, "Named", "", PstFormat::Unicode));
    NamedPropIds ids;
    ASSERT_EQ(buildNamedPropMap(map.format(), target->store(), ids), 1);
    ASSERT_EQ(ids.size(), 2u);

    // The store's own answer for the string name is the id recorded.
    char16_t keywords[] = u"Keywords";
    GUID common = kCommon;
    MAPINAMEID name{&common, MNID_STRING, {}};
    name.Kind.lpwstrName = keywords;
    LPMAPINAMEID names[] = {&name};
    LPSPropTagArray tags = nullptr;
    ASSERT_EQ(target->store()->GetIDsFromNames(1, names, 0, &tags), S_OK);
    const ULONG keywordsId = PROP_ID(tags->aulPropTag[0]);
    MAPIFreeBuffer(tags);
    ASSERT_NE(ids.find(0x8011), nullptr);
    EXPECT_EQ(*ids.find(0x8011), keywordsId);

    IMAPIFolder* inbox = target->folder(kFolderInbox);
    ASSERT_NE(inbox, nullptr);
    IMessage* message = nullptr;
    ASSERT_EQ(inbox->CreateMessage(nullptr, 0, &message), S_OK);
    SPropValue props[4]{};
    props[0].ulPropTag = PR_SUBJECT_A;
    props[0].Value.lpszA = const_cast<char*>("caf\xE9");
    props[1].ulPropTag = PROP_TAG(PT_STRING8, 0x8011);
    props[1].Value.lpszA = const_cast<char*>("red");
    props[2].ulPropTag = PROP_TAG(PT_LONG, 0x8010);
    props[2].Value.l = 42;
    props[3].ulPropTag = PR_RTF_IN_SYNC;
    props[3].Value.b = 1;
    NdbNode node;
    for (const bool batch : {true, false}) {
      PropCopySettings settings;
      settings.unicode = true;
      settings.batch = batch;
      settings.namedPropIds = &ids;
      copyProps(settings, node, 4, props, message);

      SizedSPropTagArray<4> wanted{4, {PR_SUBJECT_W, PROP_TAG(PT_UNICODE, keywordsId),
                                       PROP_TAG(PT_LONG, *ids.find(0x8010)), PR_RTF_IN_SYNC}};
      ULONG count = 0;
      LPSPropValue values = nullptr;
      ASSERT_TRUE(SUCCEEDED(message->GetProps(wanted.get(), 0, &count, &values)));
      ASSERT_EQ(count, 4u);
      ASSERT_EQ(values[0].ulPropTag, PR_SUBJECT_W);
      EXPECT_EQ(std::u16string(values[0].Value.lpszW), u"caf\u00E9");
      ASSERT_EQ(values[1].ulPropTag, PROP_TAG(PT_UNICODE, keywordsId));
      EXPECT_EQ(std::u16string(values[1].Value.lpszW), u"red");
      ASSERT_EQ(values[2].ulPropTag, PROP_TAG(PT_LONG, *ids.find(0x8010)));
      EXPECT_EQ(values[2].Value.l, 42);
      EXPECT_EQ(PROP_TYPE(values[3].ulPropTag), PT_ERROR);  // never written
      MAPIFreeBuffer(values);
    }
    message->Release();
    target->shutdown();
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vexl::testing
