// Compound files written for OLE attachments, read back by a small reader
// of [MS-CFB] written from its published layout: sector chains, the mini
// stream, and the directory tree.
#include "mapi/store/compound_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "mapi/olestorage.h"
#include "mapi/store/objects.h"

namespace vexl::mapi::store {
namespace {

std::uint32_t le32(const std::vector<std::uint8_t>& f, std::size_t at) {
  return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<std::uint32_t>(f[at + 3]) << 24;
}

// path ("Storage/Stream") -> stream bytes.
std::map<std::string, std::vector<std::uint8_t>> readBack(const std::vector<std::uint8_t>& f) {
  std::map<std::string, std::vector<std::uint8_t>> out;
  EXPECT_EQ(le32(f, 0), 0xE011CFD0u);
  const std::uint32_t fatSectors = le32(f, 0x2C);
  std::vector<std::uint32_t> fat;
  for (std::uint32_t i = 0; i < fatSectors; ++i) {
    const std::uint32_t s = le32(f, 0x4C + 4 * i);
    for (std::uint32_t k = 0; k < 128; ++k) fat.push_back(le32(f, 512 + std::size_t{s} * 512 + 4 * k));
  }
  auto chainBytes = [&](std::uint32_t start) {
    std::vector<std::uint8_t> b;
    for (std::uint32_t s = start, guard = 0; s < 0xFFFFFFFA && guard < fat.size(); s = fat[s], ++guard)
      b.insert(b.end(), f.begin() + 512 + std::size_t{s} * 512, f.begin() + 512 + std::size_t{s + 1} * 512);
    return b;
  };
  const auto dir = chainBytes(le32(f, 0x30));
  const auto miniFatBytes = le32(f, 0x40) ? chainBytes(le32(f, 0x3C)) : std::vector<std::uint8_t>{};
  const auto miniStream = chainBytes(le32(dir, 0x74));
  EXPECT_EQ(dir[0x42], 5);  // the root entry
  std::function<void(std::uint32_t, const std::string&)> walk = [&](std::uint32_t id, const std::string& prefix) {
    if (id == 0xFFFFFFFF) return;
    const std::size_t at = std::size_t{id} * 128;
    std::string name;
    for (std::size_t k = 0; k + 2 < dir[at + 0x40]; k += 2) name.push_back(static_cast<char>(dir[at + k]));
    walk(le32(dir, at + 0x44), prefix);
    walk(le32(dir, at + 0x48), prefix);
    if (dir[at + 0x42] == 1) walk(le32(dir, at + 0x4C), prefix + name + "/");
    if (dir[at + 0x42] == 2) {
      const std::uint32_t size = le32(dir, at + 0x78), start = le32(dir, at + 0x74);
      std::vector<std::uint8_t> data;
      if (size < 4096) {
        for (std::uint32_t s = start; s < 0xFFFFFFFA && data.size() < size; s = le32(miniFatBytes, 4 * std::size_t{s}))
          data.insert(data.end(), miniStream.begin() + 64 * std::size_t{s}, miniStream.begin() + 64 * std::size_t{s + 1});
      } else {
        data = chainBytes(start);
      }
      data.resize(size);
      out[prefix + name] = data;
    }
  };
  walk(le32(dir, 0x4C), "");
  return out;
}

TEST(CompoundFile, SmallAndLargeStreamsInNestedStoragesReadBack) {
  CompoundEntry root;
  root.storage = true;
  std::vector<std::uint8_t> small(100, 0x11), large(70000);
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 7);
  for (int i = 0; i < 6; ++i) {  // several siblings, so the tree has depth
    auto s = std::make_unique<CompoundEntry>();
    s->name = u"S" + std::u16string(1, static_cast<char16_t>(u'0' + i));
    s->data = std::vector<std::uint8_t>(static_cast<std::size_t>(i) * 1000, static_cast<std::uint8_t>(i));
    root.children.push_back(std::move(s));
  }
  auto sub = std::make_unique<CompoundEntry>();
  sub->name = u"Inner";
  sub->storage = true;
  auto leaf = std::make_unique<CompoundEntry>();
  leaf->name = u"Big";
  leaf->data = large;
  sub->children.push_back(std::move(leaf));
  root.children.push_back(std::move(sub));
  auto tiny = std::make_unique<CompoundEntry>();
  tiny->name = u"\x01Ole";
  tiny->data = small;
  root.children.push_back(std::move(tiny));

  const auto file = writeCompoundFile(root);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size() % 512, 0u);
  const auto streams = readBack(*file);
  EXPECT_EQ(streams.size(), 8u);
  EXPECT_EQ(streams.at("Inner/Big"), large);
  EXPECT_EQ(streams.at("\x01Ole"), small);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(streams.at("S" + std::to_string(i)).size(), static_cast<std::size_t>(i) * 1000);
}

TEST(CompoundFile, TooLongNamesAndTooLargeFilesAreRefused) {
  CompoundEntry root;
  root.storage = true;
  auto s = std::make_unique<CompoundEntry>();
  s->name = std::u16string(32, u'x');
  root.children.push_back(std::move(s));
  EXPECT_FALSE(writeCompoundFile(root));
  root.children.clear();
  auto big = std::make_unique<CompoundEntry>();
  big->name = u"Big";
  big->data.resize(8u << 20);
  root.children.push_back(std::move(big));
  EXPECT_FALSE(writeCompoundFile(root));
}

TEST(CompoundFile, StorageCommitHandsTheFileOn) {
  std::vector<std::uint8_t> got;
  IStorage* stg = makeStorage(
      [&got](std::vector<std::uint8_t> b) {
        got = std::move(b);
        return S_OK;
      },
      nullptr);
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
  const auto streams = readBack(got);
  ASSERT_EQ(streams.count("CONTENTS"), 1u);
  EXPECT_EQ(std::string(streams.at("CONTENTS").begin(), streams.at("CONTENTS").end()), "payload");
}

}  // namespace
}  // namespace vexl::mapi::store
