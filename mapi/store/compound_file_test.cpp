// Compound files: what the writer makes reads back whole (nested storages,
// mini and regular streams, a DIFAT past 6.8 MiB); the reader turns down
// files whose chains loop or share sectors, whose directory has cycles or
// whose sizes run past the end, and survives random damage; storages opened
// with StgOpenStorage copy into the storage an attachment hands out.
#include "mapi/store/compound_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "mapi/mapicode.h"
#include "mapi/mapiguid.h"
#include "mapi/olestorage.h"
#include "mapi/pst/test_validators.h"
#include "mapi/store/objects.h"

namespace vexl::mapi::store {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t le32(const Bytes& f, std::size_t at) {
  return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<std::uint32_t>(f[at + 3]) << 24;
}
void put32(Bytes& f, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) f[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

CompoundEntry& add(CompoundEntry& parent, const std::u16string& name, bool storage, Bytes data = {}) {
  auto e = std::make_unique<CompoundEntry>();
  e->name = name;
  e->storage = storage;
  e->data = std::move(data);
  parent.children.push_back(std::move(e));
  return *parent.children.back();
}

Bytes pattern(std::size_t n, int seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(seed));
  return b;
}

// A document like a word processor's: several streams, one over 4 KiB (the
// regular FAT), small ones (the mini FAT), a sub-storage with a class and
// state bits. Directory ids: root 0, then the root's children 1..5 in this
// order, then the sub-storage's child 6.
CompoundEntry document() {
  CompoundEntry root;
  root.storage = true;
  root.clsid = {0x06, 0x09, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  add(root, u"WordDocument", false, pattern(9000, 1));
  add(root, u"\x01" u"CompObj", false, pattern(106, 2));
  add(root, u"1Table", false, pattern(4096, 3));  // exactly the cutoff: regular FAT
  add(root, u"Empty", false);
  CompoundEntry& objects = add(root, u"ObjectPool", true);
  objects.clsid[0] = 0x42;
  objects.stateBits = 0x5;
  add(objects, u"Data", false, pattern(300, 4));
  return root;
}

// path ("Storage/Stream") -> bytes, storages as "Storage/".
std::map<std::u16string, Bytes> flatten(const CompoundEntry& e, const std::u16string& prefix = u"") {
  std::map<std::u16string, Bytes> out;
  for (const auto& c : e.children) {
    if (c->storage) {
      out[prefix + c->name + u"/"] = {};
      for (auto& [k, v] : flatten(*c, prefix + c->name + u"/")) out[k] = v;
    } else {
      out[prefix + c->name] = c->data;
    }
  }
  return out;
}

CompoundRead readBack(const Bytes& file, CompoundEntry& root) { return readCompoundFile(file, root); }

// Byte offset of directory entry `id` and of FAT entry `sector` in a file of
// our writer (its directory and FAT are contiguous).
std::size_t dirEntry(const Bytes& f, std::uint32_t id) { return 512 + std::size_t{le32(f, 0x30)} * 512 + 128 * id; }
std::size_t fatEntry(const Bytes& f, std::uint32_t sector) {
  return 512 + std::size_t{le32(f, 0x4C)} * 512 + 4 * std::size_t{sector};
}

TEST(CompoundFile, ADocumentReadsBackWhole) {
  const CompoundEntry doc = document();
  const auto file = writeCompoundFile(doc);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size() % 512, 0u);
  CompoundEntry back;
  ASSERT_EQ(readBack(*file, back), CompoundRead::Ok);
  EXPECT_EQ(flatten(back), flatten(doc));
  EXPECT_EQ(back.clsid, doc.clsid);
  CompoundEntry* pool = back.find(u"objectpool");  // names compare case-blind
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->clsid[0], 0x42);
  EXPECT_EQ(pool->stateBits, 0x5u);
}

TEST(CompoundFile, OverTheHeaderFatALargeFileGetsADifat) {
  CompoundEntry root;
  root.storage = true;
  add(root, u"Big", false, pattern(7u << 20, 5));
  add(root, u"Small", false, pattern(10, 6));
  const auto file = writeCompoundFile(root);
  ASSERT_TRUE(file);
  EXPECT_GT(le32(*file, 0x2C), 109u);  // FAT sectors
  EXPECT_GE(le32(*file, 0x48), 1u);    // DIFAT sectors
  CompoundEntry back;
  ASSERT_EQ(readBack(*file, back), CompoundRead::Ok);
  EXPECT_EQ(flatten(back), flatten(root));

  // A DIFAT sector that names itself as the next one is a loop.
  if (le32(*file, 0x48) >= 1) {
    Bytes looped = *file;
    const std::size_t difat = 512 + std::size_t{le32(looped, 0x44)} * 512;
    // Claim more FAT sectors than the first DIFAT sector lists.
    put32(looped, 0x2C, 109 + 127 + 1);
    put32(looped, difat + 508, le32(looped, 0x44));
    EXPECT_EQ(readBack(looped, back), CompoundRead::Damaged);
    EXPECT_TRUE(back.children.empty());
  }
}

TEST(CompoundFile, TooLongNamesAreRefused) {
  CompoundEntry root;
  root.storage = true;
  add(root, std::u16string(32, u'x'), false);
  EXPECT_FALSE(writeCompoundFile(root));
}

TEST(CompoundFile, DataWithoutTheSignatureIsNoCompoundFile) {
  CompoundEntry back;
  EXPECT_EQ(readBack({}, back), CompoundRead::NotCompoundFile);
  Bytes heap = {0x3C, 0x00, 0xEC, 0xBC, 0x20, 0x00, 0x00, 0x00};  // a heap-on-node, as an embedded message starts
  heap.resize(2048, 0);
  EXPECT_EQ(readBack(heap, back), CompoundRead::NotCompoundFile);
  Bytes cut = *writeCompoundFile(document());
  cut.resize(100);  // the signature, but no header
  EXPECT_EQ(readBack(cut, back), CompoundRead::Damaged);
}

TEST(CompoundFile, HostileFilesAreDamaged) {
  const Bytes good = *writeCompoundFile(document());
  const std::uint32_t wordStart = le32(good, dirEntry(good, 1) + 0x74);
  struct Case {
    const char* what;
    std::function<void(Bytes&)> damage;
  };
  const std::vector<Case> cases = {
      {"byte order", [](Bytes& f) { f[0x1C] = 0xFF; }},
      {"sector shift 10", [](Bytes& f) { f[0x1E] = 10; }},
      {"mini sector shift 7", [](Bytes& f) { f[0x20] = 7; }},
      {"more FAT sectors than the file has", [](Bytes& f) { put32(f, 0x2C, 100000); }},
      {"a FAT sector outside the file", [](Bytes& f) { put32(f, 0x4C, 5000); }},
      {"a FAT chain that loops", [&](Bytes& f) { put32(f, fatEntry(f, wordStart + 3), wordStart); }},
      {"a FAT chain that leaves the file", [&](Bytes& f) { put32(f, fatEntry(f, wordStart), 90000); }},
      {"two streams on one chain", [&](Bytes& f) { put32(f, dirEntry(f, 3) + 0x74, wordStart); }},
      {"a stream in the FAT's sector", [&](Bytes& f) { put32(f, dirEntry(f, 1) + 0x74, le32(f, 0x4C)); }},
      {"a stream size past the end", [](Bytes& f) { put32(f, dirEntry(f, 1) + 0x78, 0x7FFFFFFF); }},
      {"a stream longer than its chain", [](Bytes& f) { put32(f, dirEntry(f, 1) + 0x78, 12000); }},
      {"a mini stream size past the end", [](Bytes& f) { put32(f, dirEntry(f, 2) + 0x78, 4000); }},
      {"a mini chain that loops", [](Bytes& f) {
         const std::size_t miniFat = 512 + std::size_t{le32(f, 0x3C)} * 512;
         put32(f, miniFat, 0);  // the first mini sector of \x01CompObj leads to itself
       }},
      {"a sibling that is its own parent", [](Bytes& f) { put32(f, dirEntry(f, 1) + 0x44, 1); }},
      {"a child that leads back to the root's child", [](Bytes& f) {
         const std::uint32_t top = le32(f, dirEntry(f, 0) + 0x4C);
         put32(f, dirEntry(f, 5) + 0x4C, top);
       }},
      {"a link outside the directory", [](Bytes& f) { put32(f, dirEntry(f, 1) + 0x48, 4000); }},
      {"a link to an unused entry", [](Bytes& f) { put32(f, dirEntry(f, 6) + 0x48, 7); }},
      {"no root entry", [](Bytes& f) { f[dirEntry(f, 0) + 0x42] = 1; }},
      {"an entry name without characters", [](Bytes& f) { f[dirEntry(f, 1) + 0x40] = 2; }},
  };
  for (const Case& c : cases) {
    Bytes f = good;
    c.damage(f);
    CompoundEntry back;
    EXPECT_EQ(readBack(f, back), CompoundRead::Damaged) << c.what;
    EXPECT_TRUE(back.children.empty()) << c.what;
  }
}

TEST(CompoundFile, StoragesNestedTooDeepAreDamaged) {
  CompoundEntry root;
  root.storage = true;
  CompoundEntry* at = &root;
  for (int i = 0; i < kMaxCompoundNesting + 1; ++i) at = &add(*at, u"S", true);
  CompoundEntry back;
  EXPECT_EQ(readBack(*writeCompoundFile(root), back), CompoundRead::Damaged);
}

TEST(CompoundFile, RandomDamageNeverCrashes) {
  const Bytes good = *writeCompoundFile(document());
  std::mt19937 random(7);
  int ok = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes f = good;
    const int flips = 1 + round % 8;
    for (int i = 0; i < flips; ++i) {
      // Mostly the header and the directory, where a flip changes structure.
      const std::size_t at = round % 2 ? random() % 512 : random() % f.size();
      f[at] = static_cast<std::uint8_t>(random());
    }
    if (round % 50 == 0) f.resize(random() % f.size());
    CompoundEntry back;
    if (readBack(f, back) == CompoundRead::Ok) ++ok;
  }
  EXPECT_GT(ok, 0);  // damage in unused bytes is harmless
}

IStorage* storageInto(Bytes& got) {
  return makeStorage(
      [&got](Bytes b) {
        got = std::move(b);
        return S_OK;
      },
      nullptr);
}

TEST(CompoundFile, StorageCommitHandsTheFileOn) {
  Bytes got;
  IStorage* stg = storageInto(got);
  IStream* stream = nullptr;
  ASSERT_EQ(stg->CreateStream(u"CONTENTS", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream), S_OK);
  ULONG written = 0;
  ASSERT_EQ(stream->Write("payload", 7, &written), S_OK);
  EXPECT_EQ(written, 7u);
  IStream* again = nullptr;
  EXPECT_NE(stg->CreateStream(u"contents", STGM_WRITE, 0, 0, &again), S_OK);  // exists, no STGM_CREATE
  stream->Release();
  EXPECT_TRUE(got.empty());
  ASSERT_EQ(stg->Commit(STGC_DEFAULT), S_OK);
  stg->Release();
  CompoundEntry back;
  ASSERT_EQ(readBack(got, back), CompoundRead::Ok);
  ASSERT_NE(back.find(u"CONTENTS"), nullptr);
  EXPECT_EQ(back.find(u"CONTENTS")->data, Bytes({'p', 'a', 'y', 'l', 'o', 'a', 'd'}));
}

class OpenedStorage : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = pst::test::makeTempDir("compound"); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::u16string file(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return std::u16string(path.begin(), path.end());
  }
  std::string dir_;
};

TEST_F(OpenedStorage, CopyToCarriesTheWholeTree) {
  const CompoundEntry doc = document();
  IStorage* source = nullptr;
  const DWORD mode = STGM_TRANSACTED | STGM_SHARE_EXCLUSIVE | STGM_READ;
  ASSERT_EQ(StgOpenStorage(file("doc", *writeCompoundFile(doc)).c_str(), nullptr, mode, nullptr, 0, &source), S_OK);
  IStream* refused = nullptr;
  EXPECT_EQ(source->CreateStream(u"New", STGM_CREATE | STGM_WRITE, 0, 0, &refused), STG_E_ACCESSDENIED);

  Bytes got;
  IStorage* dest = storageInto(got);
  ASSERT_EQ(source->CopyTo(0, nullptr, nullptr, dest), S_OK);
  ASSERT_EQ(dest->Commit(STGC_DEFAULT), S_OK);
  dest->Release();
  source->Release();
  CompoundEntry back;
  ASSERT_EQ(readBack(got, back), CompoundRead::Ok);
  EXPECT_EQ(flatten(back), flatten(doc));
  EXPECT_EQ(back.clsid, doc.clsid);
  EXPECT_EQ(back.find(u"ObjectPool")->stateBits, 0x5u);
}

TEST_F(OpenedStorage, TheAnswersTellTheCasesApart) {
  const DWORD mode = STGM_TRANSACTED | STGM_SHARE_EXCLUSIVE | STGM_READ;
  IStorage* out = nullptr;
  EXPECT_EQ(StgOpenStorage(file("text", Bytes(600, 'a')).c_str(), nullptr, mode, nullptr, 0, &out),
            STG_E_FILEALREADYEXISTS);
  Bytes bad = *writeCompoundFile(document());
  bad[0x1C] = 0;
  EXPECT_EQ(StgOpenStorage(file("bad", bad).c_str(), nullptr, mode, nullptr, 0, &out), STG_E_DOCFILECORRUPT);
  EXPECT_EQ(StgOpenStorage(u"/nonexistent/file", nullptr, mode, nullptr, 0, &out), STG_E_FILENOTFOUND);
  EXPECT_EQ(out, nullptr);
}

TEST_F(OpenedStorage, ALargeStorageRoundTripsThroughCopyTo) {
  CompoundEntry root;
  root.storage = true;
  add(root, u"Package", false, pattern((7u << 20) + 12345, 9));
  IStorage* source = nullptr;
  ASSERT_EQ(StgOpenStorage(file("big", *writeCompoundFile(root)).c_str(), nullptr, STGM_READ, nullptr, 0, &source),
            S_OK);
  Bytes got;
  IStorage* dest = storageInto(got);
  ASSERT_EQ(source->CopyTo(0, nullptr, nullptr, dest), S_OK);
  EXPECT_EQ(dest->Commit(STGC_DEFAULT), S_OK) << "the DIFAT lets a storage past 6.8 MiB be written";
  dest->Release();
  source->Release();
  CompoundEntry back;
  ASSERT_EQ(readBack(got, back), CompoundRead::Ok);
  EXPECT_EQ(flatten(back), flatten(root));
}

}  // namespace
}  // namespace vexl::mapi::store
