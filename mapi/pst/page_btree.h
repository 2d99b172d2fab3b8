// The in-memory image of one of the two NDB B-trees ([MS-PST] 2.2.2.7.7
// BTPAGE): leaves hold the entries (BBTENTRY or NBTENTRY), intermediate
// nodes hold their children and each child's first key (the btkey of its
// BTENTRY). Nodes remember the page their last written copy lives in and
// whether they changed since; the writer rewrites only changed nodes, each
// to a new page (copy on write), children before parents.
//
// Leaves that have not changed since they were written can be evicted: their
// entries are dropped and read back from their page when next needed, so
// memory holds the intermediate levels and the changed leaves, not every
// entry of the file.
//
// A full node splits in two; when the insertion is at the end of the
// rightmost node (BIDs and most NIDs are allocated in increasing order) the
// new node takes only the new entry, so pages stay full. A node that loses
// entries joins a neighbour when the two fit one page (blocks of a message
// saved twice are freed in runs, which would otherwise leave the BBT's
// leaves about half full).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "mapi/pst/ndb_types.h"

namespace vexl::pst {

template <typename Entry>
class PageBTree {
 public:
  struct Node {
    std::uint8_t level = 0;
    bool dirty = true;
    bool loaded = true;          // level 0: entries present (else on `page`)
    std::vector<Entry> entries;  // level 0
    Bref page{};                 // last written copy; bid 0: none

    // Level > 0: the children and the first key of each. Kept apart so
    // that a leaf, of which there are many, carries one pointer for them.
    std::vector<std::unique_ptr<Node>>& children() { return inner().children; }
    const std::vector<std::unique_ptr<Node>>& children() const { return inner_ ? inner_->children : kNoInner.children; }
    std::vector<std::uint64_t>& keys() { return inner().keys; }
    const std::vector<std::uint64_t>& keys() const { return inner_ ? inner_->keys : kNoInner.keys; }

   private:
    struct Inner {
      std::vector<std::unique_ptr<Node>> children;
      std::vector<std::uint64_t> keys;
    };
    static inline const Inner kNoInner{};
    Inner& inner() {
      if (!inner_) inner_ = std::make_unique<Inner>();
      return *inner_;
    }
    std::unique_ptr<Inner> inner_;
  };
  // Fills an evicted leaf's entries from its page.
  using Loader = std::function<void(const Bref& page, std::vector<Entry>& entries)>;

  PageBTree(std::uint32_t leafCapacity, std::uint32_t intermediateCapacity)
      : leafCapacity_(leafCapacity), intermediateCapacity_(intermediateCapacity), root_(std::make_unique<Node>()) {}

  void setLoader(Loader loader) { loader_ = std::move(loader); }
  std::size_t size() const { return size_; }
  Node& root() { return *root_; }

  // Const in meaning: an evicted leaf on the way is read back.
  const Entry* find(std::uint64_t key) const {
    Node* n = root_.get();
    while (n->level > 0) n = n->children()[childFor(*n, key)].get();
    load(*n);
    auto it = lowerBound(n->entries, key);
    return it != n->entries.end() && it->key() == key ? &*it : nullptr;
  }

  // The entry for `key`, with every node on its path marked changed.
  Entry* findForUpdate(std::uint64_t key) {
    if (!find(key)) return nullptr;
    Node* n = root_.get();
    n->dirty = true;
    while (n->level > 0) {
      n = n->children()[childFor(*n, key)].get();
      n->dirty = true;
    }
    return &*lowerBound(n->entries, key);
  }

  // False when the key is already present.
  bool insert(const Entry& entry) {
    if (find(entry.key())) return false;
    if (auto sibling = insertInto(*root_, entry)) {
      auto top = std::make_unique<Node>();
      top->level = static_cast<std::uint8_t>(root_->level + 1);
      top->keys() = {firstKey(*root_), firstKey(*sibling)};
      top->children().push_back(std::move(root_));
      top->children().push_back(std::move(sibling));
      root_ = std::move(top);
    }
    ++size_;
    return true;
  }

  // False when the key is absent. Emptied nodes leave the tree.
  bool erase(std::uint64_t key) {
    if (!find(key)) return false;
    eraseFrom(*root_, key);
    while (root_->level > 0 && root_->children().size() == 1) {
      auto child = std::move(root_->children().front());
      retired_.push_back(root_->page);
      root_ = std::move(child);
    }
    if (root_->level > 0 && root_->children().empty()) {
      retired_.push_back(root_->page);
      root_ = std::make_unique<Node>();
    }
    --size_;
    return true;
  }

  // The first key under a node (an evicted leaf is read back).
  std::uint64_t firstKey(Node& n) const {
    if (n.level > 0) return n.keys().front();
    load(n);
    return n.entries.empty() ? 0 : n.entries.front().key();
  }

  // Drops the entries of every leaf that is unchanged since it was written.
  void evictCleanLeaves() { evictIn(*root_); }

  template <typename F>
  void forEach(F&& f) const {
    forEachIn(*root_, f);
  }

  // Pages of nodes that left the tree since the last call (bid 0 entries
  // are nodes that were never written).
  std::vector<Bref> takeRetired() { return std::exchange(retired_, {}); }

 private:
  template <typename V>
  static auto lowerBound(V& v, std::uint64_t key) {
    return std::lower_bound(v.begin(), v.end(), key, [](const Entry& e, std::uint64_t k) { return e.key() < k; });
  }
  // The last child whose first key is not above `key` (the first child for
  // keys below everything).
  static std::size_t childFor(const Node& n, std::uint64_t key) {
    auto it = std::upper_bound(n.keys().begin() + 1, n.keys().end(), key);
    return static_cast<std::size_t>(it - n.keys().begin()) - 1;
  }
  void load(Node& n) const {
    if (n.level == 0 && !n.loaded) {
      loader_(n.page, n.entries);
      n.loaded = true;
    }
  }

  template <typename T>
  static std::vector<T> splitOff(std::vector<T>& items, std::size_t keep) {
    std::vector<T> right;
    right.reserve(items.size() - keep);
    for (std::size_t i = keep; i < items.size(); ++i) right.push_back(std::move(items[i]));
    items.resize(keep);
    return right;
  }

  std::unique_ptr<Node> insertInto(Node& n, const Entry& entry) {
    n.dirty = true;
    if (n.level == 0) {
      auto it = lowerBound(n.entries, entry.key());
      const bool atEnd = it == n.entries.end();
      n.entries.insert(it, entry);
      if (n.entries.size() <= leafCapacity_) return nullptr;
      auto sibling = std::make_unique<Node>();
      sibling->entries = splitOff(n.entries, atEnd ? n.entries.size() - 1 : n.entries.size() / 2);
      return sibling;
    }
    const std::size_t at = childFor(n, entry.key());
    if (entry.key() < n.keys()[at]) n.keys()[at] = entry.key();
    auto split = insertInto(*n.children()[at], entry);
    if (!split) return nullptr;
    const bool atEnd = at + 1 == n.children().size();
    n.keys().insert(n.keys().begin() + static_cast<std::ptrdiff_t>(at + 1), firstKey(*split));
    n.children().insert(n.children().begin() + static_cast<std::ptrdiff_t>(at + 1), std::move(split));
    if (n.children().size() <= intermediateCapacity_) return nullptr;
    auto sibling = std::make_unique<Node>();
    sibling->level = n.level;
    const std::size_t keep = atEnd ? n.children().size() - 1 : n.children().size() / 2;
    sibling->children() = splitOff(n.children(), keep);
    sibling->keys() = splitOff(n.keys(), keep);
    return sibling;
  }

  void eraseFrom(Node& n, std::uint64_t key) {
    n.dirty = true;
    if (n.level == 0) {
      n.entries.erase(lowerBound(n.entries, key));
      return;
    }
    const std::size_t at = childFor(n, key);
    Node& child = *n.children()[at];
    eraseFrom(child, key);
    const bool empty = child.level == 0 ? child.entries.empty() : child.children().empty();
    if (empty) {
      retired_.push_back(child.page);
      n.children().erase(n.children().begin() + static_cast<std::ptrdiff_t>(at));
      n.keys().erase(n.keys().begin() + static_cast<std::ptrdiff_t>(at));
    } else {
      n.keys()[at] = child.level == 0 ? child.entries.front().key() : child.keys().front();
      // A node that shrank joins a neighbour when both fit one page, so
      // that freed entries do not leave the tree with half-empty pages.
      if (at + 1 < n.children().size() && merge(n, at)) return;
      if (at > 0) merge(n, at - 1);
    }
  }

  // Moves child `at + 1` of `n` into child `at` when their entries fit one
  // node; the emptied node's page is retired.
  bool merge(Node& n, std::size_t at) {
    Node& left = *n.children()[at];
    Node& right = *n.children()[at + 1];
    if (left.level == 0) {
      load(left);
      load(right);
      if (left.entries.size() + right.entries.size() > leafCapacity_) return false;
      left.entries.insert(left.entries.end(), right.entries.begin(), right.entries.end());
    } else {
      if (left.children().size() + right.children().size() > intermediateCapacity_) return false;
      for (auto& c : right.children()) left.children().push_back(std::move(c));
      left.keys().insert(left.keys().end(), right.keys().begin(), right.keys().end());
    }
    left.dirty = true;
    retired_.push_back(right.page);
    n.children().erase(n.children().begin() + static_cast<std::ptrdiff_t>(at + 1));
    n.keys().erase(n.keys().begin() + static_cast<std::ptrdiff_t>(at + 1));
    return true;
  }

  void evictIn(Node& n) {
    if (n.level > 0) {
      for (auto& c : n.children()) evictIn(*c);
    } else if (!n.dirty && n.page.bid != 0 && n.loaded && &n != root_.get()) {
      std::vector<Entry>().swap(n.entries);
      n.loaded = false;
    }
  }

  template <typename F>
  void forEachIn(Node& n, F& f) const {
    if (n.level == 0) {
      load(n);
      for (const Entry& e : n.entries) f(e);
    } else {
      for (const auto& c : n.children()) forEachIn(*c, f);
    }
  }

  std::uint32_t leafCapacity_;
  std::uint32_t intermediateCapacity_;
  std::unique_ptr<Node> root_;
  std::size_t size_ = 0;
  std::vector<Bref> retired_;
  Loader loader_;
};

}  // namespace vexl::pst
