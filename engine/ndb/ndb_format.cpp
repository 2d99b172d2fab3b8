#include "engine/ndb/ndb_format.h"

#include "engine/ndb/ndb_checks.h"
#include "engine/ndb/ndb_crypto.h"

namespace vexl {

NdbFormat::NdbFormat(EngineContext& engine, CFile64Ex& source, const NdbLayout& layout)
    : engine_(engine), source_(source), layout_(layout) {}

NdbFormat::~NdbFormat() = default;

bool NdbFormat::isBTreePage(std::uint64_t, const unsigned char* bytes, std::uint32_t count) const {
  return ndbcheck::isBTreePage(layout_, bytes, count);
}

bool NdbFormat::isHeader(std::uint64_t, const unsigned char* bytes, std::uint32_t count) const {
  return ndbcheck::isHeader(layout_, bytes, count);
}

void NdbFormat::scanOnly(std::uint8_t startPercent, std::uint32_t divisor) {
  const EngineOptions& options = engine_.options();
  ScanOptions scanOptions;
  scanOptions.fastRecovery = options.FastRecovery != 0;
  scanOptions.ignoreZeroBlock = options.IgnoreZeroBlock != 0;
  EngineScanSource source(engine_, source_);
  nodeIndex_.clear();
  decodedBlocks_.clear();
  scanNdbFile(layout_, source, scanOptions, startPercent, divisor, this, scan_);
}

std::uint32_t NdbFormat::scanFile(std::uint8_t startPercent, std::uint32_t divisor) {
  scanOnly(startPercent, divisor);
  // The rebuild reads the file; the scan's stop position is where the file
  // is left afterwards.
  const std::uint32_t bids = buildBlockIndex(rootBbt(), scan_.bbtPages, scan_.blocks);
  const std::uint32_t nids = buildNodeIndex(rootNbt(), scan_.nbtPages, nodeIndex_);
  // The page maps are spent (the kept HEADER stays for rootBbt / rootNbt).
  for (auto& m : scan_.bbtPages) m.clear();
  for (auto& m : scan_.nbtPages) m.clear();
  source_.seek(static_cast<std::int64_t>(scan_.stopPosition), kSeekBegin);
  return bids + nids;
}

std::uint32_t NdbFormat::blockPayloadSize() const { return layout_.maxPayload; }

std::uint16_t NdbFormat::computeSig(std::uint64_t ib, std::uint64_t bid) const {
  return ndbcrypt::signature(ib, bid);
}

void NdbFormat::permute(unsigned char* buffer, std::size_t count, bool encode) const {
  ndbcrypt::permute(buffer, count, encode);
}

void NdbFormat::cyclic(unsigned char* buffer, std::size_t count, std::uint32_t key) const {
  ndbcrypt::cyclic(buffer, count, key);
}

std::uint32_t NdbFormat::computeCrc(std::uint32_t start, const unsigned char* bytes, std::size_t count) const {
  return ndbcrypt::crc(start, bytes, count);
}

std::uint32_t NdbFormat::readAt(std::uint64_t offset, void* buffer, std::uint32_t count) {
  source_.seek(static_cast<std::int64_t>(offset), kSeekBegin);
  return source_.read(buffer, count);
}

std::uint64_t NdbFormat::sourceLength() { return source_.length(); }

DecodedBlockCache::Block NdbFormat::readDecodedBlock(const BlockEntry& entry, CryptMode mode) {
  const DecodedBlockCache::Key key{entry.offset, entry.bid, entry.cb, mode};
  if (DecodedBlockCache::Block cached = decodedBlocks_.find(key)) return cached;
  auto bytes = std::make_shared<std::vector<unsigned char>>(entry.cb);
  if (readAt(entry.offset, bytes->data(), entry.cb) < entry.cb) return nullptr;
  decode(mode, bytes->data(), bytes->size(), entry.bid);
  decodedBlocks_.insert(key, bytes);
  return bytes;
}

std::optional<BlockRef> NdbFormat::rootBbt() const {
  if (!scan_.header) return std::nullopt;
  const unsigned char* h = scan_.header->bytes.data();
  return BlockRef{loadRef(layout_, h + layout_.rootBbtBid), loadRef(layout_, h + layout_.rootBbtIb)};
}

std::optional<BlockRef> NdbFormat::rootNbt() const {
  if (!scan_.header) return std::nullopt;
  const unsigned char* h = scan_.header->bytes.data();
  return BlockRef{loadRef(layout_, h + layout_.rootNbtBid), loadRef(layout_, h + layout_.rootNbtIb)};
}

std::uint64_t EngineScanSource::length() { return file_.length(); }

std::uint32_t EngineScanSource::readAt(std::uint64_t offset, void* buffer, std::uint32_t count) {
  file_.seek(static_cast<std::int64_t>(offset), kSeekBegin);
  return file_.read(buffer, count);
}

void EngineScanSource::progress(std::uint8_t percent, std::uint64_t) { engine_.reportProgress(percent); }

bool EngineScanSource::queryAbort(std::uint64_t) { return engine_.queryAbort() != 0; }

void EngineScanSource::finished(std::uint64_t position) { file_.seek(static_cast<std::int64_t>(position), kSeekBegin); }

VariantCounts countVariants(EngineContext& engine, CFile64Ex& source, std::uint8_t startPercent,
                            std::uint32_t divisor) {
  EngineScanSource scanSource(engine, source);
  return countVariantPages(scanSource, startPercent, divisor);
}

std::uint8_t decideVariant(EngineContext& engine, CFile64Ex& source, AnsiNdbFormat&, UnicodeNdbFormat&,
                           std::uint8_t startPercent, std::uint32_t divisor) {
  return countVariants(engine, source, startPercent, divisor).decision();
}

}  // namespace vexl
