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

std::uint32_t NdbFormat::scanFile(std::uint8_t startPercent, std::uint32_t divisor) {
  const EngineOptions& options = engine_.options();
  ScanOptions scanOptions;
  scanOptions.fastRecovery = options.FastRecovery != 0;
  scanOptions.ignoreZeroBlock = options.IgnoreZeroBlock != 0;
  EngineScanSource source(engine_, source_);
  scanNdbFile(layout_, source, scanOptions, startPercent, divisor, this, scan_);
  return static_cast<std::uint32_t>(scan_.blocks.keyCount());
}

std::uint32_t NdbFormat::collectDataTreeRoots() { return 0; }
std::uint32_t NdbFormat::collectSubnodeTreeRoots() { return 0; }
const BlockEntry* NdbFormat::findDataBlock(std::uint64_t, std::uint32_t) { return nullptr; }
std::uint32_t NdbFormat::dataTreeSize(std::uint64_t) { return 0; }
std::uint32_t NdbFormat::loadSubnodes(std::uint64_t, NodeMap&) { return 0; }

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

void NdbFormat::rankPage(const PageEntry&, std::int32_t, PageMaps&, DuplicateMap&) {}
bool NdbFormat::rankReference(const BlockRef&, std::int32_t, PageMap&, PageMaps&, DuplicateMap&) { return false; }
void NdbFormat::rankDuplicates(const std::optional<BlockRef>&, PageMaps&, DuplicateMap&) {}
std::uint32_t NdbFormat::buildBlockIndex(const std::optional<BlockRef>&, PageMaps&, BlockIndex& blockIndex) {
  return static_cast<std::uint32_t>(blockIndex.keyCount());
}
std::uint32_t NdbFormat::buildNodeIndex(const std::optional<BlockRef>&, PageMaps&, NodeMap&) { return 0; }

std::uint32_t NdbFormat::readAt(std::uint64_t offset, void* buffer, std::uint32_t count) {
  source_.seek(static_cast<std::int64_t>(offset), kSeekBegin);
  return source_.read(buffer, count);
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
