#include "engine/ndb/ndb_records.h"

#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace vexl {

namespace {

// Arrays from this size on are mapped from the system: their pages stay
// untouched (and not resident) until a bucket in them is written.
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

}  // namespace

BucketArray::BucketArray(std::uint32_t count) : count_(count) {
  const std::size_t bytes = std::size_t{count} * sizeof(std::uint32_t);
  if (bytes >= kMappedFrom) {
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    slots_ = static_cast<std::uint32_t*>(p);
  } else {
    slots_ = static_cast<std::uint32_t*>(std::calloc(count == 0 ? 1 : count, sizeof(std::uint32_t)));
    if (slots_ == nullptr) throw std::bad_alloc();
  }
}

BucketArray::~BucketArray() {
  if (slots_ == nullptr) return;
  const std::size_t bytes = std::size_t{count_} * sizeof(std::uint32_t);
  if (bytes >= kMappedFrom)
    ::munmap(slots_, bytes);
  else
    std::free(slots_);
}

}  // namespace vexl
