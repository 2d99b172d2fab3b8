#include "mapi/mapialloc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

namespace vexl::mapi {
namespace {

// Frees the root on scope exit so that a failing assertion leaks nothing.
struct RootGuard {
  LPVOID root = nullptr;
  ~RootGuard() { MAPIFreeBuffer(root); }
};

bool aligned16(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 16 == 0; }

TEST(MapiAllocation, ParentWithManyChildrenIsFreedByOneCall) {
  const std::size_t before = mapiLiveBlockCount();
  LPVOID root = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(64, &root), S_OK);
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(aligned16(root));

  // Children of varying sizes, each filled with its own pattern: blocks must
  // not overlap each other or the root.
  std::memset(root, 0xEE, 64);
  std::vector<std::pair<unsigned char*, ULONG>> children;
  for (ULONG i = 0; i < 1000; ++i) {
    LPVOID child = nullptr;
    const ULONG size = (i * 7) % 61;
    ASSERT_EQ(MAPIAllocateMore(size, root, &child), S_OK);
    ASSERT_NE(child, nullptr);
    EXPECT_TRUE(aligned16(child));
    std::memset(child, static_cast<int>(i & 0xFF), size);
    children.emplace_back(static_cast<unsigned char*>(child), size);
  }
  EXPECT_EQ(mapiLiveBlockCount(), before + 1001);
  for (std::size_t i = 0; i < children.size(); ++i) {
    for (ULONG b = 0; b < children[i].second; ++b) ASSERT_EQ(children[i].first[b], i & 0xFF) << "child " << i;
  }
  for (int b = 0; b < 64; ++b) ASSERT_EQ(static_cast<unsigned char*>(root)[b], 0xEE);

  EXPECT_EQ(MAPIFreeBuffer(root), static_cast<ULONG>(S_OK));
  EXPECT_EQ(mapiLiveBlockCount(), before);
}

TEST(MapiAllocation, ChildOfAChildBelongsToTheRoot) {
  const std::size_t before = mapiLiveBlockCount();
  LPVOID root = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(8, &root), S_OK);
  LPVOID child = nullptr;
  ASSERT_EQ(MAPIAllocateMore(8, root, &child), S_OK);
  LPVOID grandchild = nullptr;
  ASSERT_EQ(MAPIAllocateMore(8, child, &grandchild), S_OK);
  EXPECT_EQ(mapiLiveBlockCount(), before + 3);
  MAPIFreeBuffer(root);
  EXPECT_EQ(mapiLiveBlockCount(), before);
}

TEST(MapiAllocation, ZeroSizedBlocksAreDistinct) {
  RootGuard guard;
  ASSERT_EQ(MAPIAllocateBuffer(0, &guard.root), S_OK);
  std::set<LPVOID> seen{guard.root};
  for (int i = 0; i < 10; ++i) {
    LPVOID child = nullptr;
    ASSERT_EQ(MAPIAllocateMore(0, guard.root, &child), S_OK);
    EXPECT_TRUE(seen.insert(child).second);
  }
}

TEST(MapiAllocation, RefusesBadArguments) {
  EXPECT_EQ(MAPIFreeBuffer(nullptr), static_cast<ULONG>(S_OK));
  EXPECT_EQ(MAPIAllocateBuffer(8, nullptr), MAPI_E_INVALID_PARAMETER);

  LPVOID out = reinterpret_cast<LPVOID>(1);
  EXPECT_EQ(MAPIAllocateMore(8, nullptr, &out), MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(out, nullptr);

  RootGuard guard;
  ASSERT_EQ(MAPIAllocateBuffer(8, &guard.root), S_OK);
  EXPECT_EQ(MAPIAllocateMore(8, guard.root, nullptr), MAPI_E_INVALID_PARAMETER);

  // A linked block is freed with its root, never on its own.
  LPVOID child = nullptr;
  ASSERT_EQ(MAPIAllocateMore(8, guard.root, &child), S_OK);
  const std::size_t live = mapiLiveBlockCount();
  EXPECT_EQ(MAPIFreeBuffer(child), static_cast<ULONG>(MAPI_E_INVALID_PARAMETER));
  EXPECT_EQ(mapiLiveBlockCount(), live);
}

TEST(MapiAllocation, InjectedFailureReportsOutOfMemoryAndLeaksNothing) {
  const std::size_t before = mapiLiveBlockCount();
  mapiFailAllocationsAfter(2);
  LPVOID root = nullptr;
  LPVOID a = nullptr;
  LPVOID b = reinterpret_cast<LPVOID>(1);
  EXPECT_EQ(MAPIAllocateBuffer(16, &root), S_OK);
  EXPECT_EQ(MAPIAllocateMore(16, root, &a), S_OK);
  EXPECT_EQ(MAPIAllocateMore(16, root, &b), MAPI_E_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(b, nullptr);
  LPVOID c = reinterpret_cast<LPVOID>(1);
  EXPECT_EQ(MAPIAllocateBuffer(16, &c), MAPI_E_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(c, nullptr);
  mapiClearAllocationFailure();

  LPVOID d = nullptr;
  EXPECT_EQ(MAPIAllocateMore(16, root, &d), S_OK);
  MAPIFreeBuffer(root);
  EXPECT_EQ(mapiLiveBlockCount(), before);
}

}  // namespace
}  // namespace vexl::mapi
