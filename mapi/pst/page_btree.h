// The in-memory image of one of the two NDB B-trees ([MS-PST] 2.2.2.7.7
// BTPAGE): leaves hold the entries (BBTENTRY or NBTENTRY), intermediate
// nodes hold children. Nodes remember the page their last written copy
// lives in and whether they changed since; the writer rewrites only changed
// nodes, each to a new page (copy on write), children before parents.
//
// A full node splits in two; when the insertion is at the end of the
// rightmost node (BIDs and most NIDs are allocated in increasing order) the
// new node takes only the new entry, so pages stay full.
#pragma once

#include <algorithm>
#include <cstdint>
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
    std::vector<Entry> entries;                   // level 0
    std::vector<std::unique_ptr<Node>> children;  // level > 0
    Bref page{};                                  // last written copy; bid 0: none
    bool dirty = true;

    std::uint64_t firstKey() const {
      const Node* n = this;
      while (n->level > 0) n = n->children.front().get();
      return n->entries.empty() ? 0 : n->entries.front().key();
    }
  };

  PageBTree(std::uint32_t leafCapacity, std::uint32_t intermediateCapacity)
      : leafCapacity_(leafCapacity), intermediateCapacity_(intermediateCapacity), root_(std::make_unique<Node>()) {}

  std::size_t size() const { return size_; }
  Node& root() { return *root_; }
  const Node& root() const { return *root_; }

  const Entry* find(std::uint64_t key) const {
    const Node* n = root_.get();
    while (n->level > 0) n = n->children[childFor(*n, key)].get();
    auto it = lowerBound(n->entries, key);
    return it != n->entries.end() && it->key() == key ? &*it : nullptr;
  }

  // The entry for `key`, with every node on its path marked changed.
  Entry* findForUpdate(std::uint64_t key) {
    if (!find(key)) return nullptr;
    Node* n = root_.get();
    n->dirty = true;
    while (n->level > 0) {
      n = n->children[childFor(*n, key)].get();
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
      top->children.push_back(std::move(root_));
      top->children.push_back(std::move(sibling));
      root_ = std::move(top);
    }
    ++size_;
    return true;
  }

  // False when the key is absent. Emptied nodes leave the tree.
  bool erase(std::uint64_t key) {
    if (!find(key)) return false;
    eraseFrom(*root_, key);
    while (root_->level > 0 && root_->children.size() == 1) {
      auto child = std::move(root_->children.front());
      retired_.push_back(root_->page);
      root_ = std::move(child);
      root_->dirty = true;
    }
    if (root_->level > 0 && root_->children.empty()) {
      retired_.push_back(root_->page);
      root_ = std::make_unique<Node>();
    }
    --size_;
    return true;
  }

  template <typename F>
  void forEach(F&& f) const {
    forEachIn(*root_, f);
  }

  // Pages of nodes that left the tree since the last call (bid 0 entries
  // are nodes that were never written).
  std::vector<Bref> takeRetired() { return std::exchange(retired_, {}); }

 private:
  static typename std::vector<Entry>::const_iterator lowerBound(const std::vector<Entry>& v, std::uint64_t key) {
    return std::lower_bound(v.begin(), v.end(), key, [](const Entry& e, std::uint64_t k) { return e.key() < k; });
  }
  static typename std::vector<Entry>::iterator lowerBound(std::vector<Entry>& v, std::uint64_t key) {
    return std::lower_bound(v.begin(), v.end(), key, [](const Entry& e, std::uint64_t k) { return e.key() < k; });
  }
  // The last child whose first key is not above `key` (the first child for
  // keys below everything).
  static std::size_t childFor(const Node& n, std::uint64_t key) {
    std::size_t lo = 0, hi = n.children.size();
    while (hi - lo > 1) {
      const std::size_t mid = (lo + hi) / 2;
      if (n.children[mid]->firstKey() <= key)
        lo = mid;
      else
        hi = mid;
    }
    return lo;
  }

  template <typename T>
  static std::vector<T> splitOff(std::vector<T>& items, bool appendedAtEnd) {
    const std::size_t keep = appendedAtEnd ? items.size() - 1 : items.size() / 2;
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
      sibling->entries = splitOff(n.entries, atEnd);
      return sibling;
    }
    const std::size_t at = childFor(n, entry.key());
    auto split = insertInto(*n.children[at], entry);
    if (!split) return nullptr;
    const bool atEnd = at + 1 == n.children.size();
    n.children.insert(n.children.begin() + static_cast<std::ptrdiff_t>(at + 1), std::move(split));
    if (n.children.size() <= intermediateCapacity_) return nullptr;
    auto sibling = std::make_unique<Node>();
    sibling->level = n.level;
    sibling->children = splitOff(n.children, atEnd);
    return sibling;
  }

  void eraseFrom(Node& n, std::uint64_t key) {
    n.dirty = true;
    if (n.level == 0) {
      n.entries.erase(lowerBound(n.entries, key));
      return;
    }
    const std::size_t at = childFor(n, key);
    Node& child = *n.children[at];
    eraseFrom(child, key);
    const bool empty = child.level == 0 ? child.entries.empty() : child.children.empty();
    if (empty) {
      retired_.push_back(child.page);
      n.children.erase(n.children.begin() + static_cast<std::ptrdiff_t>(at));
    }
  }

  template <typename F>
  static void forEachIn(const Node& n, F& f) {
    if (n.level == 0) {
      for (const Entry& e : n.entries) f(e);
    } else {
      for (const auto& c : n.children) forEachIn(*c, f);
    }
  }

  std::uint32_t leafCapacity_;
  std::uint32_t intermediateCapacity_;
  std::unique_ptr<Node> root_;
  std::size_t size_ = 0;
  std::vector<Bref> retired_;
};

}  // namespace vexl::pst
