#include "mapi/store/compound_file.h"

#include <algorithm>
#include <cstring>

namespace vexl::mapi::store {

namespace {

constexpr std::uint32_t kSector = 512, kMini = 64, kMiniCutoff = 4096;
constexpr std::uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatSect = 0xFFFFFFFD, kNoStream = 0xFFFFFFFF;

void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// [MS-CFB] 2.6.4: shorter names first, then by upper-cased code units.
bool nameLess(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return upper(a[i]) < upper(b[i]);
  return false;
}

struct Flat {
  const CompoundEntry* entry;
  std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  std::uint32_t start = kEnd;
  std::uint64_t size = 0;
};

// Siblings as a balanced binary tree, all nodes black (a valid red-black
// tree only when complete; readers accept it).
std::uint32_t link(std::vector<Flat>& flat, std::vector<std::uint32_t> ids, std::size_t from, std::size_t to) {
  if (from >= to) return kNoStream;
  const std::size_t mid = (from + to) / 2;
  const std::uint32_t id = ids[mid];
  flat[id].left = link(flat, ids, from, mid);
  flat[id].right = link(flat, ids, mid + 1, to);
  return id;
}

void collect(std::vector<Flat>& flat, std::uint32_t self) {
  std::vector<std::uint32_t> kids;
  const CompoundEntry* e = flat[self].entry;
  for (const auto& c : e->children) {
    kids.push_back(static_cast<std::uint32_t>(flat.size()));
    flat.push_back(Flat{c.get()});
  }
  std::sort(kids.begin(), kids.end(), [&flat](std::uint32_t a, std::uint32_t b) {
    return nameLess(flat[a].entry->name, flat[b].entry->name);
  });
  flat[self].child = link(flat, kids, 0, kids.size());
  for (std::uint32_t k : kids)
    if (flat[k].entry->storage) collect(flat, k);
}

}  // namespace

CompoundEntry* CompoundEntry::find(const std::u16string& childName) {
  for (auto& c : children)
    if (c->name.size() == childName.size() &&
        std::equal(c->name.begin(), c->name.end(), childName.begin(),
                   [](char16_t a, char16_t b) { return upper(a) == upper(b); }))
      return c.get();
  return nullptr;
}

std::optional<std::vector<std::uint8_t>> writeCompoundFile(const CompoundEntry& root) {
  std::vector<Flat> flat{Flat{&root}};
  collect(flat, 0);
  for (const auto& f : flat)
    if (f.entry->name.size() > 31) return std::nullopt;

  // Mini stream: streams below the cutoff, in 64-byte mini sectors.
  std::vector<std::uint8_t> mini;
  std::vector<std::uint32_t> miniFat;
  std::vector<const Flat*> big;
  for (auto& f : flat) {
    if (f.entry->storage || &f == &flat[0]) continue;
    f.size = f.entry->data.size();
    if (f.size == 0) {
      f.start = kEnd;
    } else if (f.size < kMiniCutoff) {
      f.start = static_cast<std::uint32_t>(mini.size() / kMini);
      const std::uint32_t n = static_cast<std::uint32_t>((f.size + kMini - 1) / kMini);
      for (std::uint32_t i = 0; i < n; ++i) miniFat.push_back(i + 1 < n ? f.start + i + 1 : kEnd);
      mini.insert(mini.end(), f.entry->data.begin(), f.entry->data.end());
      mini.resize((mini.size() + kMini - 1) / kMini * kMini, 0);
    }
  }
  auto sectorsFor = [](std::uint64_t bytes) { return static_cast<std::uint32_t>((bytes + kSector - 1) / kSector); };

  // Sector plan: mini stream, big streams, mini FAT, directory, FAT.
  std::vector<std::uint32_t> fat;
  std::uint32_t next = 0;
  auto chain = [&fat, &next](std::uint32_t count) {
    if (count == 0) return kEnd;
    const std::uint32_t start = next;
    for (std::uint32_t i = 0; i < count; ++i) fat.push_back(i + 1 < count ? start + i + 1 : kEnd);
    next += count;
    return start;
  };
  flat[0].start = mini.empty() ? kEnd : chain(sectorsFor(mini.size()));
  flat[0].size = mini.size();
  for (auto& f : flat)
    if (!f.entry->storage && &f != &flat[0] && f.size >= kMiniCutoff) f.start = chain(sectorsFor(f.size));
  const std::uint32_t miniFatSectors = sectorsFor(miniFat.size() * 4);
  const std::uint32_t miniFatStart = chain(miniFatSectors);
  const std::uint32_t dirSectors = sectorsFor(flat.size() * 128);
  const std::uint32_t dirStart = chain(dirSectors);
  std::uint32_t fatSectors = 1;
  while ((next + fatSectors) > fatSectors * (kSector / 4)) ++fatSectors;
  if (fatSectors > 109) return std::nullopt;
  const std::uint32_t fatStart = next;
  for (std::uint32_t i = 0; i < fatSectors; ++i) fat.push_back(kFatSect);
  next += fatSectors;
  fat.resize(fatSectors * (kSector / 4), kFree);

  std::vector<std::uint8_t> out(kSector + std::size_t{next} * kSector, 0);
  std::uint8_t* h = out.data();
  static constexpr std::uint8_t kSig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(h, kSig, 8);
  put16(h + 0x18, 0x003E);
  put16(h + 0x1A, 0x0003);
  put16(h + 0x1C, 0xFFFE);
  put16(h + 0x1E, 9);
  put16(h + 0x20, 6);
  put32(h + 0x2C, fatSectors);
  put32(h + 0x30, dirStart);
  put32(h + 0x38, kMiniCutoff);
  put32(h + 0x3C, miniFatSectors ? miniFatStart : kEnd);
  put32(h + 0x40, miniFatSectors);
  put32(h + 0x44, kEnd);
  put32(h + 0x48, 0);
  for (std::uint32_t i = 0; i < 109; ++i) put32(h + 0x4C + 4 * i, i < fatSectors ? fatStart + i : kFree);

  auto sector = [&out](std::uint32_t s) { return out.data() + kSector + std::size_t{s} * kSector; };
  if (!mini.empty()) std::memcpy(sector(flat[0].start), mini.data(), mini.size());
  for (const auto& f : flat)
    if (!f.entry->storage && &f != &flat[0] && f.size >= kMiniCutoff)
      std::memcpy(sector(f.start), f.entry->data.data(), f.entry->data.size());
  for (std::size_t i = 0; i < miniFat.size(); ++i) put32(sector(miniFatStart) + 4 * i, miniFat[i]);
  // Unused mini FAT entries are free.
  for (std::size_t i = miniFat.size(); i < std::size_t{miniFatSectors} * (kSector / 4); ++i)
    put32(sector(miniFatStart) + 4 * i, kFree);
  for (std::size_t i = 0; i < std::size_t{dirSectors} * (kSector / 128); ++i) {
    std::uint8_t* d = sector(dirStart) + 128 * i;
    if (i >= flat.size()) {  // unused entries
      put32(d + 0x44, kNoStream);
      put32(d + 0x48, kNoStream);
      put32(d + 0x4C, kNoStream);
      continue;
    }
    const Flat& f = flat[i];
    const std::u16string name = i == 0 ? u"Root Entry" : f.entry->name;
    for (std::size_t k = 0; k < name.size(); ++k) put16(d + 2 * k, name[k]);
    put16(d + 0x40, static_cast<std::uint16_t>((name.size() + 1) * 2));
    d[0x42] = i == 0 ? 5 : f.entry->storage ? 1 : 2;
    d[0x43] = 1;  // black
    put32(d + 0x44, f.left);
    put32(d + 0x48, f.right);
    put32(d + 0x4C, f.child);
    if (i == 0 || f.entry->storage) std::memcpy(d + 0x50, f.entry->clsid.data(), 16);
    put32(d + 0x74, f.entry->storage && i != 0 ? 0 : f.start);
    put32(d + 0x78, static_cast<std::uint32_t>(f.size));
  }
  for (std::size_t i = 0; i < fat.size(); ++i) put32(sector(fatStart) + 4 * i, fat[i]);
  return out;
}

}  // namespace vexl::mapi::store
