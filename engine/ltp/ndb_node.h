// NdbNode: one version of a node of the source file, with the operations
// that open and read it (node data assembly). The record and the node map
// are declared with the node database (engine/ndb/node_map.h), which builds
// them; the operations are this layer's (ndb_node.cpp).
#pragma once

#include "engine/ndb/ndb_format.h"
#include "engine/ndb/node_map.h"

namespace vexl {

// Bounds of NdbNode::open over a damaged file: subnodes nested deeper than
// this, or beyond this many subnode versions under one node, are not
// opened; a subnode whose subnode tree is that of one of its ancestors is
// left without subnodes.
inline constexpr std::uint32_t kMaxSubnodeNesting = 32;
inline constexpr std::uint32_t kMaxSubnodeVersions = 1u << 18;

// The heap check of crypt-mode detection, on a candidate decoding of data
// block 0.
bool looksLikeHeap(const unsigned char* bytes, std::size_t count);

}  // namespace vexl
