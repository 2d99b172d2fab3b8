// The object copy over a node with built subnodes: a compound document goes
// into the storage the target opens, logged once; a property context goes
// to the embedded-message fill; a missing subnode or a damaged compound
// file writes nothing; no temporary file is left in any case.
#include "engine/mapiout/object_copy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "engine/core/test_event_log.h"
#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/test_heap_builder.h"
#include "engine/mapiout/test_fake_mapi.h"
#include "mapi/mapiguid.h"
#include "mapi/mapitags.h"
#include "mapi/pst/test_validators.h"
#include "mapi/store/compound_file.h"
#include "mapi/store/objects.h"

namespace vexl::testing {
namespace {

using namespace mapi;
using store::CompoundEntry;
namespace fs = std::filesystem;

constexpr std::uint32_t kObjectNid = 0x8024;

class Engine final : public EngineContext {
 public:
  Engine() : EngineContext(&test_support::EventLog::callback, &log) {}
  test_support::EventLog log;
};

// An attachment that hands out a storage (its committed file kept) or an
// embedded message, and records what it was asked to open.
class FakeAttachment : public FakeTarget {
 public:
  struct Opened {
    ULONG tag;
    IID iid;
    ULONG flags;
  };
  std::vector<Opened> opened;
  std::vector<std::uint8_t> committed;
  FakeMessage embedded;

  HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* out) override {
    opened.push_back({tag, *iid, flags});
    if (*iid == IID_IStorage) {
      *out = store::makeStorage(
          [this](std::vector<std::uint8_t> bytes) {
            committed = std::move(bytes);
            return S_OK;
          },
          nullptr);
      return S_OK;
    }
    if (*iid == IID_IMessage) {
      *out = &embedded;
      return S_OK;
    }
    return MAPI_E_NO_SUPPORT;
  }
};

Bytes heapOfOneProp() {
  HeapBuilder heap(kHeapSigPropertyContext);
  addPcBth(heap, {{0x3705, 0x0003, 6}});
  return heap.build().front();
}

// `bytes` as data blocks of the Unicode layout.
std::vector<Bytes> blocksOf(const std::vector<std::uint8_t>& bytes) {
  std::vector<Bytes> blocks;
  for (std::size_t at = 0; at < bytes.size(); at += kUnicodeLayout.maxPayload)
    blocks.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), at + kUnicodeLayout.maxPayload)));
  return blocks;
}

CompoundEntry& add(CompoundEntry& parent, const std::u16string& name, bool storage, std::size_t size = 0) {
  auto e = std::make_unique<CompoundEntry>();
  e->name = name;
  e->storage = storage;
  for (std::size_t i = 0; i < size; ++i) e->data.push_back(static_cast<std::uint8_t>(i * 13 + name.size()));
  parent.children.push_back(std::move(e));
  return *parent.children.back();
}

// A word processor's document: a main stream past 4 KiB, small ones, a
// sub-storage with a stream of its own.
CompoundEntry wordDocument() {
  CompoundEntry root;
  root.storage = true;
  root.clsid = {0x06, 0x09, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  add(root, u"WordDocument", false, 20000);
  add(root, u"1Table", false, 3000);
  add(root, u"\x05SummaryInformation", false, 200);
  add(add(root, u"ObjectPool", true), u"\x01Ole", false, 20);
  return root;
}

SPropValue objectRecord(std::uint32_t nid) {
  SPropValue record{};
  record.ulPropTag = PR_ATTACH_DATA_OBJ;
  const std::uint32_t value[2] = {nid, 1234};
  std::memcpy(&record.Value, value, sizeof value);
  return record;
}

class ObjectCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = pst::test::makeTempDir("object-copy");
    if (const char* old = std::getenv("TMPDIR")) oldTemp_ = old;
    ::setenv("TMPDIR", temp_.c_str(), 1);
  }
  void TearDown() override {
    if (oldTemp_)
      ::setenv("TMPDIR", oldTemp_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    fs::remove_all(temp_);
  }
  // No temporary file of ours is left (the test's node files live there too).
  bool noTempFileLeft() const {
    for (const auto& e : fs::directory_iterator(temp_))
      if (e.path().filename().string().rfind("QMV", 0) == 0) return false;
    return true;
  }
  int copy(NdbNode& node, std::uint32_t nid, IMAPIProp* target) {
    return copyObjectProp(
        engine_,
        [this](NdbNode& embedded, IMessage* message) {
          filled_.push_back({embedded.nid, message});
          return fillResult_;
        },
        node, objectRecord(nid), target);
  }
  std::size_t oleLines() const {
    std::size_t n = 0;
    for (const auto& e : engine_.log.events) n += e == "LogLine Recover OLE 2 object ...";
    return n;
  }

  Engine engine_;
  FakeAttachment target_;
  std::vector<std::pair<std::uint32_t, IMessage*>> filled_;
  int fillResult_ = 1;
  std::string temp_;
  std::optional<std::string> oldTemp_;
};

TEST_F(ObjectCopy, ACompoundDocumentGoesIntoTheTargetStorage) {
  CompoundEntry doc = wordDocument();
  NodeFile file({heapOfOneProp()}, {{kObjectNid, blocksOf(*store::writeCompoundFile(doc))}});
  EXPECT_EQ(copy(file.node(), kObjectNid, &target_), 1);
  ASSERT_EQ(target_.opened.size(), 1u);
  EXPECT_EQ(target_.opened[0].tag, PR_ATTACH_DATA_OBJ);
  EXPECT_EQ(target_.opened[0].iid, IID_IStorage);
  EXPECT_EQ(target_.opened[0].flags, 0x0Bu);
  EXPECT_EQ(oleLines(), 1u);
  EXPECT_TRUE(filled_.empty());
  EXPECT_TRUE(noTempFileLeft());

  CompoundEntry back;
  ASSERT_EQ(store::readCompoundFile(target_.committed, back), store::CompoundRead::Ok);
  EXPECT_EQ(back.clsid, doc.clsid);
  for (const char16_t* name : {u"WordDocument", u"1Table", u"\x05SummaryInformation"}) {
    ASSERT_NE(back.find(name), nullptr);
    EXPECT_EQ(back.find(name)->data, doc.find(name)->data);
  }
  CompoundEntry* pool = back.find(u"ObjectPool");
  ASSERT_NE(pool, nullptr);
  ASSERT_NE(pool->find(u"\x01Ole"), nullptr);
  EXPECT_EQ(pool->find(u"\x01Ole")->data.size(), 20u);
}

TEST_F(ObjectCopy, APropertyContextIsFilledAsAnEmbeddedMessage) {
  NdbNode* embedded = nullptr;
  NodeFile file({heapOfOneProp()}, {{kObjectNid, {heapOfOneProp()}}});
  embedded = file.node().subnodeMap->find(kObjectNid);
  ASSERT_NE(embedded, nullptr);
  EXPECT_EQ(copy(file.node(), kObjectNid, &target_), 1);
  ASSERT_EQ(target_.opened.size(), 1u);
  EXPECT_EQ(target_.opened[0].iid, IID_IMessage);
  EXPECT_EQ(target_.opened[0].flags, 0x0Bu);
  ASSERT_EQ(filled_.size(), 1u);
  EXPECT_EQ(filled_[0].first, kObjectNid);
  EXPECT_EQ(filled_[0].second, &target_.embedded);
  EXPECT_EQ(oleLines(), 0u);
  EXPECT_TRUE(noTempFileLeft());

  fillResult_ = 0;  // the fill's answer is the result
  EXPECT_EQ(copy(file.node(), kObjectNid, &target_), 0);
}

TEST_F(ObjectCopy, WithoutItsSubnodeOrATargetNothingIsWritten) {
  NodeFile file({heapOfOneProp()}, {{kObjectNid, {heapOfOneProp()}}});
  EXPECT_EQ(copy(file.node(), 0x8044, &target_), 0);
  EXPECT_EQ(copy(file.node(), kObjectNid, nullptr), 0);
  EXPECT_TRUE(target_.opened.empty());
  EXPECT_TRUE(target_.calls.empty());
  EXPECT_TRUE(filled_.empty());
  EXPECT_TRUE(noTempFileLeft());
}

TEST_F(ObjectCopy, ADamagedCompoundFileLeavesThePropertyUnwritten) {
  std::vector<std::uint8_t> bytes = *store::writeCompoundFile(wordDocument());
  bytes[0x1E] = 10;  // sector shift
  NodeFile file({heapOfOneProp()}, {{kObjectNid, blocksOf(bytes)}});
  EXPECT_EQ(copy(file.node(), kObjectNid, &target_), 0);
  EXPECT_TRUE(target_.opened.empty());
  EXPECT_TRUE(filled_.empty());
  EXPECT_EQ(oleLines(), 0u);
  EXPECT_TRUE(noTempFileLeft());
}

}  // namespace
}  // namespace vexl::testing
