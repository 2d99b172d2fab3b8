// Writes the fuzz targets' seed corpora: slices of the sample mailboxes, node
// data taken from them, and compound files made by the writer.
//   make_seeds SAMPLES_DIR OUT_DIR   (OUT_DIR/{scan,index,item,recovery,compound})
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

#include "engine/file/file64_ex.h"
#include "engine/ltp/ndb_node.h"
#include "engine/ndb/ndb_format.h"
#include "engine/ndb/test_ndb_file.h"
#include "fuzz/fuzz_support.h"
#include "mapi/store/compound_file.h"

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

namespace {

// Long enough for the HEADER, the first AMap and the first pages; short
// enough to keep runs fast.
constexpr std::size_t kSlice = 256 * 1024;
constexpr std::size_t kMaxItemSeeds = 150;

void writeSeed(const fs::path& dir, const std::string& name, const Bytes& bytes) {
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// [MS-PST] 2.2.2.6: wVer 14 and 15 are ANSI, 23 and above Unicode.
bool isUnicode(const Bytes& file) { return file.size() > 11 && (file[10] | file[11] << 8) >= 23; }

Bytes prefixed(unsigned char first, const Bytes& rest) {
  Bytes out{first};
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

void itemSeeds(const std::string& path, bool unicode, const fs::path& dir, const std::string& stem) {
  vexl::fuzz::QuietEngine engine;
  vexl::CFile64Ex file(65536);
  if (!file.open(path, vexl::kSourceOpenMode, nullptr)) return;
  std::unique_ptr<vexl::NdbFormat> format;
  if (unicode)
    format = std::make_unique<vexl::UnicodeNdbFormat>(engine, file);
  else
    format = std::make_unique<vexl::AnsiNdbFormat>(engine, file);
  format->scanFile(0, 1);
  std::size_t written = 0;
  Bytes data;
  for (const auto& list : format->nodeIndex().lists()) {
    if (list.versions.empty() || written >= kMaxItemSeeds) continue;
    vexl::NdbNode node = list.versions.back();
    node.open(vexl::CryptMode::Unknown);
    if (node.readData(data) != 1 || data.size() > 32768 || !vexl::looksLikeHeap(data.data(), data.size())) continue;
    writeSeed(dir, stem + "-" + std::to_string(list.key), prefixed(unicode ? 1 : 0, data));
    ++written;
  }
}

void compoundSeeds(const fs::path& dir) {
  using vexl::mapi::store::CompoundEntry;
  CompoundEntry root;
  root.storage = true;
  auto stream = [](const std::u16string& name, std::size_t size) {
    auto e = std::make_unique<CompoundEntry>();
    e->name = name;
    e->data.resize(size);
    for (std::size_t i = 0; i < size; ++i) e->data[i] = static_cast<std::uint8_t>(i * 7);
    return e;
  };
  root.children.push_back(stream(u"\x01Ole", 20));
  root.children.push_back(stream(u"CONTENTS", 5000));  // past the mini stream
  auto storage = std::make_unique<CompoundEntry>();
  storage->name = u"Sub";
  storage->storage = true;
  storage->children.push_back(stream(u"small", 100));
  root.children.push_back(std::move(storage));
  if (auto bytes = vexl::mapi::store::writeCompoundFile(root)) writeSeed(dir, "tree", Bytes(bytes->begin(), bytes->end()));
  CompoundEntry empty;
  empty.storage = true;
  if (auto bytes = vexl::mapi::store::writeCompoundFile(empty)) writeSeed(dir, "empty", Bytes(bytes->begin(), bytes->end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_seeds SAMPLES_DIR OUT_DIR\n";
    return 2;
  }
  const fs::path out(argv[2]);
  for (const char* target : {"scan", "index", "item", "recovery", "compound"}) fs::create_directories(out / target);
  for (const std::string& path : vexl::testing::sampleFiles(argv[1])) {
    const Bytes whole = vexl::testing::readWholeFile(path);
    const Bytes slice(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(std::min(whole.size(), kSlice)));
    const std::string stem = fs::path(path).filename().string();
    const bool unicode = isUnicode(whole);
    writeSeed(out / "scan", stem, slice);
    writeSeed(out / "recovery", stem, slice);
    writeSeed(out / "index", stem, prefixed(unicode ? 1 : 0, slice));
    itemSeeds(path, unicode, out / "item", stem);
  }
  compoundSeeds(out / "compound");
  return 0;
}
