#include "mapi/store/compound_file.h"

#include <algorithm>
#include <cstring>

namespace vexl::mapi::store {

namespace {

// [MS-CFB] 2.1 sector numbers, 2.2 header, 2.6.1 directory entry.
constexpr std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kHeaderSize = 512, kMiniShift = 6, kMini = 1u << kMiniShift, kMiniCutoff = 4096;
constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA, kDifSect = 0xFFFFFFFC, kFatSect = 0xFFFFFFFD, kEnd = 0xFFFFFFFE,
                        kFree = 0xFFFFFFFF, kNoStream = 0xFFFFFFFF;
constexpr std::uint32_t kHeaderDifatEntries = 109;
constexpr std::size_t kEntrySize = 128;
constexpr std::uint8_t kTypeStorage = 1, kTypeStream = 2, kTypeRoot = 5;

namespace header {
constexpr std::size_t kMajorVersion = 0x1A, kByteOrder = 0x1C, kSectorShift = 0x1E, kMiniSectorShift = 0x20,
                      kFatSectors = 0x2C, kFirstDirectory = 0x30, kMiniCutoff = 0x38, kFirstMiniFat = 0x3C,
                      kMiniFatSectors = 0x40, kFirstDifat = 0x44, kDifatSectors = 0x48, kDifat = 0x4C;
}
namespace entry {
constexpr std::size_t kNameLength = 0x40, kType = 0x42, kColor = 0x43, kLeft = 0x44, kRight = 0x48, kChild = 0x4C,
                      kClsid = 0x50, kStateBits = 0x60, kStart = 0x74, kSize = 0x78;
}

void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
std::uint32_t get32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// [MS-CFB] 2.6.4: shorter names first, then by upper-cased code units.
bool nameLess(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return upper(a[i]) < upper(b[i]);
  return false;
}

// ------------------------------------------------------------------ writer

constexpr std::uint32_t kSector = 512, kEntriesPerSector = kSector / 4;
constexpr std::uint32_t kDifatEntriesPerSector = kEntriesPerSector - 1;  // the last names the next DIFAT sector

struct Flat {
  const CompoundEntry* entry;
  std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  std::uint32_t start = kEnd;
  std::uint64_t size = 0;
};

// Siblings as a balanced binary tree, all nodes black (a valid red-black
// tree only when complete; readers accept it).
std::uint32_t link(std::vector<Flat>& flat, const std::vector<std::uint32_t>& ids, std::size_t from, std::size_t to) {
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

// ------------------------------------------------------------------ reader

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> file) : file_(file) {}

  CompoundRead read(CompoundEntry& root) {
    if (file_.size() < sizeof kSignature || std::memcmp(file_.data(), kSignature, sizeof kSignature) != 0)
      return CompoundRead::NotCompoundFile;
    return readTree(root) ? CompoundRead::Ok : CompoundRead::Damaged;
  }

 private:
  bool readTree(CompoundEntry& root) {
    if (!readHeader() || !readFat()) return false;
    std::vector<std::uint8_t> directory;
    if (!readChain(get32(h(header::kFirstDirectory)), directory) || directory.size() < kEntrySize) return false;
    entryCount_ = directory.size() / kEntrySize;
    directory_ = std::move(directory);
    const std::uint8_t* rootEntry = directory_.data();
    if (rootEntry[entry::kType] != kTypeRoot) return false;

    // The mini stream (the root entry's data) and its FAT.
    const std::uint64_t miniSize = streamSize(rootEntry);
    if (miniSize > file_.size()) return false;
    if (miniSize > 0 && !readChain(get32(rootEntry + entry::kStart), miniStream_)) return false;
    if (miniStream_.size() < miniSize) return false;
    miniStream_.resize(static_cast<std::size_t>(miniSize));
    std::vector<std::uint8_t> miniFatBytes;
    if (get32(h(header::kMiniFatSectors)) != 0 && !readChain(get32(h(header::kFirstMiniFat)), miniFatBytes))
      return false;
    miniFat_.resize(miniFatBytes.size() / 4);
    for (std::size_t i = 0; i < miniFat_.size(); ++i) miniFat_[i] = get32(miniFatBytes.data() + 4 * i);
    miniUsed_.assign(static_cast<std::size_t>((miniSize + kMini - 1) / kMini), false);

    std::memcpy(root.clsid.data(), rootEntry + entry::kClsid, 16);
    root.stateBits = get32(rootEntry + entry::kStateBits);
    return readEntries(get32(rootEntry + entry::kChild), root);
  }

  const std::uint8_t* h(std::size_t at) const { return file_.data() + at; }

  bool readHeader() {
    if (file_.size() < kHeaderSize) return false;
    version_ = get16(h(header::kMajorVersion));
    const std::uint16_t shift = get16(h(header::kSectorShift));
    if ((version_ != 3 && version_ != 4) || get16(h(header::kByteOrder)) != 0xFFFE) return false;
    if ((shift != 9 && shift != 12) || get16(h(header::kMiniSectorShift)) != kMiniShift) return false;
    if (get32(h(header::kMiniCutoff)) != kMiniCutoff) return false;
    sectorSize_ = 1u << shift;
    if (file_.size() < sectorSize_) return false;  // the header fills sector -1
    // A last sector cut short reads as zero-padded.
    const std::uint64_t sectors = (file_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_;
    sectorCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, kMaxRegSect));
    used_.assign(sectorCount_, false);
    return true;
  }

  // Marks sector `s` as taken; false when it is outside the file or taken
  // already (a loop, or two structures claiming one sector).
  bool take(std::uint32_t s) {
    if (s >= sectorCount_ || used_[s]) return false;
    used_[s] = true;
    return true;
  }

  void appendSector(std::uint32_t s, std::vector<std::uint8_t>& out) const {
    const std::size_t at = (std::size_t{s} + 1) * sectorSize_;
    const std::size_t have = std::min<std::size_t>(sectorSize_, file_.size() - at);
    out.insert(out.end(), file_.begin() + static_cast<std::ptrdiff_t>(at),
               file_.begin() + static_cast<std::ptrdiff_t>(at + have));
    out.resize(out.size() + (sectorSize_ - have), 0);
  }

  // The FAT from the header's and the DIFAT sectors' lists of FAT sectors.
  bool readFat() {
    const std::uint32_t fatSectors = get32(h(header::kFatSectors));
    if (fatSectors == 0 || fatSectors > sectorCount_) return false;
    std::vector<std::uint32_t> list;
    for (std::uint32_t i = 0; i < kHeaderDifatEntries && list.size() < fatSectors; ++i)
      list.push_back(get32(h(header::kDifat + 4 * std::size_t{i})));
    std::uint32_t difat = get32(h(header::kFirstDifat));
    std::vector<std::uint8_t> bytes;
    while (list.size() < fatSectors) {
      if (!take(difat)) return false;
      bytes.clear();
      appendSector(difat, bytes);
      const std::uint32_t perSector = sectorSize_ / 4 - 1;
      for (std::uint32_t i = 0; i < perSector && list.size() < fatSectors; ++i) list.push_back(get32(&bytes[4 * i]));
      difat = get32(&bytes[4 * std::size_t{perSector}]);
    }
    std::vector<std::uint8_t> fatBytes;
    fatBytes.reserve(std::size_t{fatSectors} * sectorSize_);
    for (std::uint32_t s : list) {
      if (!take(s)) return false;
      appendSector(s, fatBytes);
    }
    fat_.resize(fatBytes.size() / 4);
    for (std::size_t i = 0; i < fat_.size(); ++i) fat_[i] = get32(fatBytes.data() + 4 * i);
    return true;
  }

  // A chain of regular sectors from `start`; every sector is taken.
  bool readChain(std::uint32_t start, std::vector<std::uint8_t>& out) {
    for (std::uint32_t s = start; s != kEnd; s = fat_[s]) {
      if (s >= fat_.size() || !take(s)) return false;
      appendSector(s, out);
    }
    return true;
  }

  // `size` bytes of a chain of mini sectors from `start`.
  bool readMiniChain(std::uint32_t start, std::uint64_t size, std::vector<std::uint8_t>& out) {
    for (std::uint32_t s = start; out.size() < size; s = miniFat_[s]) {
      if (s >= miniFat_.size() || s >= miniUsed_.size() || miniUsed_[s]) return false;
      miniUsed_[s] = true;
      const std::size_t at = std::size_t{s} * kMini;
      const std::size_t n = std::min<std::size_t>(kMini, miniStream_.size() - at);
      out.insert(out.end(), miniStream_.begin() + static_cast<std::ptrdiff_t>(at),
                 miniStream_.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.resize(static_cast<std::size_t>(size));
    return true;
  }

  std::uint64_t streamSize(const std::uint8_t* e) const {
    const std::uint64_t low = get32(e + entry::kSize);
    // Version 3 files carry 32-bit sizes; some writers leave junk above.
    return version_ == 3 ? low : low | std::uint64_t{get32(e + entry::kSize + 4)} << 32;
  }

  // The directory tree below the root, walked with an explicit stack so a
  // long sibling list cannot exhaust the call stack; each entry once.
  bool readEntries(std::uint32_t firstChild, CompoundEntry& root) {
    struct Pending {
      std::uint32_t id;
      CompoundEntry* parent;
      int depth;
    };
    std::vector<bool> seen(entryCount_, false);
    seen[0] = true;
    std::vector<Pending> stack{{firstChild, &root, 1}};
    while (!stack.empty()) {
      const Pending p = stack.back();
      stack.pop_back();
      if (p.id == kNoStream) continue;
      if (p.id >= entryCount_ || seen[p.id]) return false;
      seen[p.id] = true;
      const std::uint8_t* e = directory_.data() + std::size_t{p.id} * kEntrySize;
      const std::uint8_t type = e[entry::kType];
      const std::uint16_t nameBytes = get16(e + entry::kNameLength);
      if ((type != kTypeStorage && type != kTypeStream) || nameBytes < 4 || nameBytes > 64 || nameBytes % 2 != 0)
        return false;
      auto child = std::make_unique<CompoundEntry>();
      for (std::size_t k = 0; k + 2 < nameBytes; k += 2) child->name.push_back(static_cast<char16_t>(get16(e + k)));
      child->storage = type == kTypeStorage;
      stack.push_back({get32(e + entry::kLeft), p.parent, p.depth});
      stack.push_back({get32(e + entry::kRight), p.parent, p.depth});
      if (child->storage) {
        if (p.depth >= kMaxCompoundNesting) return false;
        std::memcpy(child->clsid.data(), e + entry::kClsid, 16);
        child->stateBits = get32(e + entry::kStateBits);
        stack.push_back({get32(e + entry::kChild), child.get(), p.depth + 1});
      } else if (!readStream(e, child->data)) {
        return false;
      }
      p.parent->children.push_back(std::move(child));
    }
    return true;
  }

  bool readStream(const std::uint8_t* e, std::vector<std::uint8_t>& data) {
    const std::uint64_t size = streamSize(e);
    if (size == 0) return true;
    if (size > file_.size()) return false;
    const std::uint32_t start = get32(e + entry::kStart);
    if (size < kMiniCutoff) return readMiniChain(start, size, data);
    if (!readChain(start, data) || data.size() < size) return false;
    data.resize(static_cast<std::size_t>(size));
    return true;
  }

  std::span<const std::uint8_t> file_;
  std::uint16_t version_ = 0;
  std::uint32_t sectorSize_ = 0, sectorCount_ = 0;
  std::vector<bool> used_, miniUsed_;
  std::vector<std::uint32_t> fat_, miniFat_;
  std::vector<std::uint8_t> directory_, miniStream_;
  std::size_t entryCount_ = 0;
};

}  // namespace

CompoundEntry* CompoundEntry::find(const std::u16string& childName) {
  for (auto& c : children)
    if (c->name.size() == childName.size() &&
        std::equal(c->name.begin(), c->name.end(), childName.begin(),
                   [](char16_t a, char16_t b) { return upper(a) == upper(b); }))
      return c.get();
  return nullptr;
}

CompoundRead readCompoundFile(std::span<const std::uint8_t> bytes, CompoundEntry& root) {
  root.children.clear();
  root.storage = true;
  const CompoundRead result = Reader(bytes).read(root);
  if (result != CompoundRead::Ok) root.children.clear();
  return result;
}

std::optional<std::vector<std::uint8_t>> writeCompoundFile(const CompoundEntry& root) {
  std::vector<Flat> flat{Flat{&root}};
  collect(flat, 0);
  for (const auto& f : flat)
    if (f.entry->name.size() > 31 || f.entry->data.size() > 0xFFFFFFFFu) return std::nullopt;

  // Mini stream: streams below the cutoff, in 64-byte mini sectors.
  std::vector<std::uint8_t> mini;
  std::vector<std::uint32_t> miniFat;
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
  auto sectorsFor = [](std::uint64_t bytes) { return (bytes + kSector - 1) / kSector; };

  // Sector plan: mini stream, big streams, mini FAT, directory, FAT, DIFAT.
  std::uint64_t dataSectors = sectorsFor(mini.size());
  for (const auto& f : flat)
    if (!f.entry->storage && &f != &flat[0] && f.size >= kMiniCutoff) dataSectors += sectorsFor(f.size);
  dataSectors += sectorsFor(miniFat.size() * 4) + sectorsFor(flat.size() * kEntrySize);
  // The FAT covers every sector, its own and the DIFAT's included.
  std::uint64_t fatSectors = 1, difatSectors = 0;
  for (;;) {
    difatSectors = fatSectors > kHeaderDifatEntries
                       ? (fatSectors - kHeaderDifatEntries + kDifatEntriesPerSector - 1) / kDifatEntriesPerSector
                       : 0;
    if (dataSectors + fatSectors + difatSectors <= fatSectors * kEntriesPerSector) break;
    ++fatSectors;
  }
  if (dataSectors + fatSectors + difatSectors >= kMaxRegSect) return std::nullopt;

  std::vector<std::uint32_t> fat;
  fat.reserve(fatSectors * kEntriesPerSector);
  std::uint32_t next = 0;
  // `count` sectors from the next free one, linked, or all marked `mark`.
  auto place = [&fat, &next](std::uint64_t count, std::optional<std::uint32_t> mark = std::nullopt) {
    if (count == 0) return kEnd;
    const std::uint32_t start = next;
    for (std::uint64_t i = 0; i < count; ++i)
      fat.push_back(mark ? *mark : i + 1 < count ? static_cast<std::uint32_t>(start + i + 1) : kEnd);
    next += static_cast<std::uint32_t>(count);
    return start;
  };
  flat[0].start = place(sectorsFor(mini.size()));
  flat[0].size = mini.size();
  for (auto& f : flat)
    if (!f.entry->storage && &f != &flat[0] && f.size >= kMiniCutoff) f.start = place(sectorsFor(f.size));
  const auto miniFatSectors = static_cast<std::uint32_t>(sectorsFor(miniFat.size() * 4));
  const std::uint32_t miniFatStart = place(miniFatSectors);
  const auto dirSectors = static_cast<std::uint32_t>(sectorsFor(flat.size() * kEntrySize));
  const std::uint32_t dirStart = place(dirSectors);
  const std::uint32_t fatStart = place(fatSectors, kFatSect);
  const std::uint32_t difatStart = place(difatSectors, kDifSect);
  fat.resize(fatSectors * kEntriesPerSector, kFree);

  std::vector<std::uint8_t> out(kSector + std::size_t{next} * kSector, 0);
  std::uint8_t* hd = out.data();
  std::memcpy(hd, kSignature, sizeof kSignature);
  put16(hd + 0x18, 0x003E);  // minor version
  put16(hd + header::kMajorVersion, 3);
  put16(hd + header::kByteOrder, 0xFFFE);
  put16(hd + header::kSectorShift, 9);
  put16(hd + header::kMiniSectorShift, kMiniShift);
  put32(hd + header::kFatSectors, static_cast<std::uint32_t>(fatSectors));
  put32(hd + header::kFirstDirectory, dirStart);
  put32(hd + header::kMiniCutoff, kMiniCutoff);
  put32(hd + header::kFirstMiniFat, miniFatSectors ? miniFatStart : kEnd);
  put32(hd + header::kMiniFatSectors, miniFatSectors);
  put32(hd + header::kFirstDifat, difatSectors ? difatStart : kEnd);
  put32(hd + header::kDifatSectors, static_cast<std::uint32_t>(difatSectors));
  for (std::uint32_t i = 0; i < kHeaderDifatEntries; ++i)
    put32(hd + header::kDifat + 4 * i, i < fatSectors ? fatStart + i : kFree);

  auto sector = [&out](std::uint32_t s) { return out.data() + kSector + std::size_t{s} * kSector; };
  for (std::uint32_t d = 0; d < difatSectors; ++d) {
    std::uint8_t* p = sector(difatStart + d);
    for (std::uint32_t i = 0; i < kDifatEntriesPerSector; ++i) {
      const std::uint64_t fatIndex = kHeaderDifatEntries + std::uint64_t{d} * kDifatEntriesPerSector + i;
      put32(p + 4 * i, fatIndex < fatSectors ? fatStart + static_cast<std::uint32_t>(fatIndex) : kFree);
    }
    put32(p + 4 * kDifatEntriesPerSector, d + 1 < difatSectors ? difatStart + d + 1 : kEnd);
  }
  if (!mini.empty()) std::memcpy(sector(flat[0].start), mini.data(), mini.size());
  for (const auto& f : flat)
    if (!f.entry->storage && &f != &flat[0] && f.size >= kMiniCutoff)
      std::memcpy(sector(f.start), f.entry->data.data(), f.entry->data.size());
  for (std::size_t i = 0; i < miniFat.size(); ++i) put32(sector(miniFatStart) + 4 * i, miniFat[i]);
  // Unused mini FAT entries are free.
  for (std::size_t i = miniFat.size(); i < std::size_t{miniFatSectors} * kEntriesPerSector; ++i)
    put32(sector(miniFatStart) + 4 * i, kFree);
  for (std::size_t i = 0; i < std::size_t{dirSectors} * (kSector / kEntrySize); ++i) {
    std::uint8_t* d = sector(dirStart) + kEntrySize * i;
    if (i >= flat.size()) {  // unused entries
      put32(d + entry::kLeft, kNoStream);
      put32(d + entry::kRight, kNoStream);
      put32(d + entry::kChild, kNoStream);
      continue;
    }
    const Flat& f = flat[i];
    const std::u16string name = i == 0 ? u"Root Entry" : f.entry->name;
    for (std::size_t k = 0; k < name.size(); ++k) put16(d + 2 * k, name[k]);
    put16(d + entry::kNameLength, static_cast<std::uint16_t>((name.size() + 1) * 2));
    d[entry::kType] = i == 0 ? kTypeRoot : f.entry->storage ? kTypeStorage : kTypeStream;
    d[entry::kColor] = 1;  // black
    put32(d + entry::kLeft, f.left);
    put32(d + entry::kRight, f.right);
    put32(d + entry::kChild, f.child);
    if (i == 0 || f.entry->storage) {
      std::memcpy(d + entry::kClsid, f.entry->clsid.data(), 16);
      put32(d + entry::kStateBits, f.entry->stateBits);
    }
    put32(d + entry::kStart, f.entry->storage && i != 0 ? 0 : f.start);
    put32(d + entry::kSize, static_cast<std::uint32_t>(f.size));
  }
  for (std::size_t i = 0; i < fat.size(); ++i) put32(sector(fatStart) + 4 * i, fat[i]);
  return out;
}

}  // namespace vexl::mapi::store
