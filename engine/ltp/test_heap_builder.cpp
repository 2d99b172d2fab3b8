#include "engine/ltp/test_heap_builder.h"

namespace vexl::testing {

Bytes le16(std::uint16_t v) { return {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)}; }
Bytes le32(std::uint32_t v) { return le16(static_cast<std::uint16_t>(v)) + le16(static_cast<std::uint16_t>(v >> 16)); }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes utf16le(const std::u16string& s) {
  Bytes out;
  for (char16_t c : s) out = out + le16(c);
  return out;
}

std::uint32_t HeapBuilder::add(const Bytes& bytes, std::uint16_t block) {
  if (blocks_.size() <= block) blocks_.resize(block + 1);
  blocks_[block].push_back(bytes);
  return (std::uint32_t{block} << 16) | (static_cast<std::uint32_t>(blocks_[block].size()) << 5);
}

std::vector<Bytes> HeapBuilder::build() const {
  std::vector<Bytes> out;
  for (std::size_t b = 0; b < blocks_.size(); ++b) {
    Bytes v(b == 0 ? 12 : 2, 0);
    std::vector<std::uint16_t> starts;
    for (const Bytes& a : blocks_[b]) {
      starts.push_back(static_cast<std::uint16_t>(v.size()));
      v = v + a;
    }
    starts.push_back(static_cast<std::uint16_t>(v.size()));
    if (v.size() % 2 != 0) v.push_back(0);
    const auto ibHnpm = static_cast<std::uint16_t>(v.size());
    v = v + le16(static_cast<std::uint16_t>(blocks_[b].size())) + le16(0);
    for (std::uint16_t s : starts) v = v + le16(s);
    v[0] = static_cast<unsigned char>(ibHnpm);
    v[1] = static_cast<unsigned char>(ibHnpm >> 8);
    if (b == 0) {
      v[2] = 0xEC;
      v[3] = clientSig;
      const Bytes root = le32(userRoot);
      std::copy(root.begin(), root.end(), v.begin() + 4);
    }
    out.push_back(v);
  }
  return out;
}

void addPcBth(HeapBuilder& heap, const std::vector<PcRecord>& records, std::size_t perLeaf) {
  auto leaf = [&](std::size_t from, std::size_t to) {
    Bytes v;
    for (std::size_t i = from; i < to; ++i) v = v + le16(records[i].id) + le16(records[i].type) + le32(records[i].hnid);
    return heap.add(v);
  };
  std::uint32_t root;
  std::uint8_t levels = 0;
  if (perLeaf == 0) {
    root = leaf(0, records.size());
  } else {
    Bytes index;
    for (std::size_t i = 0; i < records.size(); i += perLeaf)
      index = index + le16(records[i].id) + le32(leaf(i, std::min(records.size(), i + perLeaf)));
    root = heap.add(index);
    levels = 1;
  }
  heap.userRoot = heap.add(Bytes{0xB5, 2, 6, levels} + le32(root));
}

std::uint32_t addTcInfo(HeapBuilder& heap, const std::vector<TcColumn>& columns, std::uint16_t ceb,
                        std::uint16_t rowSize, std::uint32_t hnidRows, std::size_t extraBytes) {
  const std::uint32_t rowIndex = heap.add(Bytes{0xB5, 4, 4, 0} + le32(0));
  Bytes v = Bytes{0x7C, static_cast<unsigned char>(columns.size())} + le16(ceb) + le16(ceb) + le16(ceb) +
            le16(rowSize) + le32(rowIndex) + le32(hnidRows) + le32(0);
  for (const TcColumn& c : columns) v = v + le32(c.tag) + le16(c.ibData) + Bytes{c.cbData, c.iBit};
  v.resize(v.size() + extraBytes, 0);
  heap.userRoot = heap.add(v);
  return heap.userRoot;
}

namespace {

// Writes the blocks of one data tree; its root BID (0 for none).
std::uint64_t writeTree(TreeBuilder& t, const std::vector<Bytes>& blocks, std::uint64_t& offset, std::uint64_t& bid) {
  if (blocks.empty()) return 0;
  std::vector<std::uint64_t> bids;
  std::uint32_t total = 0;
  for (const Bytes& b : blocks) {
    bids.push_back(bid);
    if (!b.empty()) t.block(offset, bid, b);
    offset += 0x2000;
    bid += 4;
    total += static_cast<std::uint32_t>(&b == &blocks.back() ? b.size() : t.layout.maxPayload);
  }
  if (blocks.size() == 1) return bids[0];
  const std::uint64_t internal = bid | 2;
  t.block(offset, internal, t.xblock(1, total, bids));
  offset += 0x2000;
  bid += 4;
  return internal;
}

// A nested subnode tree: its SLBLOCK's BID is taken first, so that a
// subnode inside can name it.
std::uint64_t writeSubnodes(TreeBuilder& t, const std::vector<SubnodeSpec>& specs, std::uint64_t& offset,
                            std::uint64_t& bid);

std::vector<SlEntry> subnodeEntries(TreeBuilder& t, const std::vector<SubnodeSpec>& specs, std::uint64_t& offset,
                                    std::uint64_t& bid, std::uint64_t holder) {
  std::vector<SlEntry> entries;
  for (const SubnodeSpec& s : specs) {
    const std::uint64_t data = writeTree(t, s.blocks, offset, bid);
    const std::uint64_t sub = s.holdersTree ? holder : s.subnodes.empty() ? 0 : writeSubnodes(t, s.subnodes, offset, bid);
    entries.push_back({s.nid, data, sub});
  }
  return entries;
}

std::uint64_t writeSubnodes(TreeBuilder& t, const std::vector<SubnodeSpec>& specs, std::uint64_t& offset,
                            std::uint64_t& bid) {
  const std::uint64_t self = bid | 2;
  bid += 4;
  const std::vector<SlEntry> entries = subnodeEntries(t, specs, offset, bid, self);
  t.block(offset, self, t.slblock(entries));
  offset += 0x2000;
  return self;
}

}  // namespace

NodeFile::NodeFile(const std::vector<Bytes>& blocks, const std::vector<SubnodeSpec>& subnodes,
                   const NdbLayout& layout) {
  TreeBuilder t(layout);
  std::uint64_t offset = 0x4000, bid = 0x104;
  const std::uint64_t dataBid = writeTree(t, blocks, offset, bid);
  std::uint64_t subnodeBid = 0;
  if (!subnodes.empty()) {
    // The top tree's BID comes last, as it always has; no subnode of it
    // can name it.
    const std::vector<SlEntry> entries = subnodeEntries(t, subnodes, offset, bid, 0);
    subnodeBid = bid | 2;
    t.block(offset, subnodeBid, t.slblock(entries));
  }
  file_ = std::make_unique<ScannedFile>(layout, t.image.bytes);
  node_ = std::make_unique<NdbNode>(&file_->format(), 0x200022, dataBid, subnodeBid, 0, 0);
  node_->open(CryptMode::Unknown);
}

NodeFile::~NodeFile() {
  node_.reset();
  file_.reset();
}

}  // namespace vexl::testing
