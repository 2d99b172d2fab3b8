// Table contexts on hand-built heaps: the TCINFO size rule, CEB bits, cell
// sizes, row matrices in the heap and in a subnode with a lost block.
#include <gtest/gtest.h>

#include <string_view>

#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/table_context.h"
#include "engine/ltp/test_heap_builder.h"
#include "mapi/mapialloc.h"
#include "mapi/mapitags.h"

namespace vexl::testing {
namespace {

using namespace mapi;

// Two columns: a PT_LONG at 0 and a PT_UNICODE (HNID) at 4; CEB at 8; rows
// of 9 bytes.
const std::vector<TcColumn> kColumns = {{PROP_TAG(PT_LONG, 0x0E07), 0, 4, 0}, {PROP_TAG(PT_UNICODE, 0x0037), 4, 4, 1}};

Bytes row(std::uint32_t number, std::uint32_t hnid, std::uint8_t ceb = 0xC0) { return le32(number) + le32(hnid) + Bytes{ceb}; }

struct Table {
  std::vector<std::uint32_t> columns;
  std::vector<SPropValue*> rows;
  int result;
  explicit Table(const NdbNode& node) { result = readTable(node, columns, rows); }
  ~Table() { freeRows(rows); }
};

TEST(TableContext, SizeRuleForTheTcInfo) {
  // cCols 3 fits 46 and 47 bytes; 54 bytes needs 4; one column is refused.
  const std::vector<TcColumn> three = {kColumns[0], kColumns[1], {PROP_TAG(PT_BOOLEAN, 0x0E1B), 8, 1, 2}};
  for (auto [columns, extra, accepted] : {std::tuple{three, 0, true}, std::tuple{three, 1, true},
                                          std::tuple{three, 8, false},
                                          std::tuple{std::vector<TcColumn>{kColumns[0]}, 0, false}}) {
    HeapBuilder heap(kHeapSigTable);
    addTcInfo(heap, columns, 8, 9, 0, extra);
    NodeFile f(heap.build());
    Table t(f.node());
    EXPECT_EQ(t.result, accepted ? 1 : 0) << columns.size() << " " << extra;
    EXPECT_EQ(t.columns.size(), accepted ? columns.size() : 0u);
    EXPECT_TRUE(t.rows.empty());
  }
  // A property context is no table.
  HeapBuilder pc(kHeapSigPropertyContext);
  addPcBth(pc, {});
  NodeFile g(pc.build());
  EXPECT_EQ(Table(g.node()).result, 0);
}

TEST(TableContext, CellsAreCheckedOneByOne) {
  HeapBuilder heap(kHeapSigTable);
  const std::uint32_t subject = heap.add(utf16le(u"Hello"));
  // Row 1 has the subject's CEB bit clear; 4 trailing bytes are ignored.
  const std::uint32_t matrix = heap.add(row(1, subject) + row(2, subject, 0x80) + Bytes{1, 2, 3, 4});
  addTcInfo(heap, kColumns, 8, 9, matrix);
  NodeFile f(heap.build());
  Table t(f.node());
  ASSERT_EQ(t.result, 1);
  EXPECT_EQ(t.columns, (std::vector<std::uint32_t>{kColumns[0].tag, kColumns[1].tag}));
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(t.rows[0][0].Value.l, 1);
  EXPECT_EQ(std::u16string_view(t.rows[0][1].Value.lpszW), u"Hello");
  EXPECT_EQ(t.rows[1][0].Value.l, 2);
  EXPECT_EQ(t.rows[1][1].ulPropTag, PROP_TAG(PT_ERROR, 0x0037));
  EXPECT_EQ(t.rows[1][1].Value.err, MAPI_E_BAD_VALUE);
}

TEST(TableContext, BadDescriptorsAndRowLayouts) {
  const std::vector<TcColumn> bad = {{PROP_TAG(PT_LONG, 0x0001), 0, 8, 0},   // cbData 8 for a PT_LONG
                                     {PROP_TAG(PT_NULL, 0x0002), 0, 4, 1},   // no table type
                                     {PROP_TAG(PT_LONG, 0x0003), 6, 4, 2},   // runs into the CEB
                                     {PROP_TAG(PT_LONG, 0x0004), 0, 4, 9}};  // iBit beyond cCols
  HeapBuilder heap(kHeapSigTable);
  const std::uint32_t matrix = heap.add(le32(5) + le32(6) + Bytes{0xFF});
  addTcInfo(heap, bad, 8, 9, matrix);
  NodeFile f(heap.build());
  Table t(f.node());
  ASSERT_EQ(t.rows.size(), 1u);
  for (std::size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(t.rows[0][i].ulPropTag, (bad[i].tag & 0xFFFF0000u) | PT_ERROR) << i;
    EXPECT_EQ(t.rows[0][i].Value.err, MAPI_E_BAD_VALUE) << i;
  }
  // A CEB that does not end the row: every cell is an error.
  HeapBuilder skew(kHeapSigTable);
  const std::uint32_t m2 = skew.add(row(1, 0) + Bytes{0});
  addTcInfo(skew, kColumns, 8, 10, m2);
  NodeFile g(skew.build());
  Table u(g.node());
  ASSERT_EQ(u.rows.size(), 1u);
  EXPECT_EQ(u.rows[0][0].ulPropTag, PROP_TAG(PT_ERROR, 0x0E07));
  // Row size 0 and a missing row matrix: a table without rows.
  for (std::uint32_t hnidRows : {std::uint32_t{0x7E0}, std::uint32_t{0x8AA5}}) {
    HeapBuilder none(kHeapSigTable);
    addTcInfo(none, kColumns, 8, 9, hnidRows);
    NodeFile h(none.build());
    Table v(h.node());
    EXPECT_EQ(v.result, 1);
    EXPECT_EQ(v.columns.size(), 2u);
    EXPECT_TRUE(v.rows.empty());
  }
}

TEST(TableContext, RowMatrixInASubnodeWithALostBlock) {
  // Rows of 48 bytes: the same two columns, a CEB at 47.
  const std::vector<TcColumn> columns = {{PROP_TAG(PT_LONG, 0x0E07), 0, 4, 0}, {PROP_TAG(PT_BINARY, 0x0FF9), 4, 4, 1}};
  auto block = [](std::uint32_t first) {
    Bytes b;
    for (std::uint32_t i = 0; i < 170; ++i) b = b + le32(first + i) + Bytes(43, 0) + Bytes{0x80};
    b.resize(8176, 0);
    return b;
  };
  HeapBuilder heap(kHeapSigTable);
  addTcInfo(heap, columns, 47, 48, 0x8A5);
  NodeFile f(heap.build(), {{0x8A5, {block(0), Bytes{}, block(1000)}}});
  Table t(f.node());
  ASSERT_EQ(t.rows.size(), 340u);
  EXPECT_EQ(t.rows[169][0].Value.l, 169);
  EXPECT_EQ(t.rows[170][0].Value.l, 1000);
  EXPECT_EQ(t.rows[0][1].ulPropTag, PROP_TAG(PT_ERROR, 0x0FF9));  // CEB bit clear
}

TEST(TableContext, AFailedRowAllocationSkipsTheRow) {
  HeapBuilder heap(kHeapSigTable);
  const std::uint32_t matrix = heap.add(row(1, 0) + row(2, 0));
  addTcInfo(heap, kColumns, 8, 9, matrix);
  NodeFile f(heap.build());
  const std::size_t live = mapiLiveBlockCount();
  mapiFailAllocationsAfter(1);  // first row and its empty string? the string fails
  {
    Table t(f.node());
    mapiClearAllocationFailure();
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.rows[0][0].Value.l, 1);
    EXPECT_EQ(t.rows[0][1].ulPropTag, PROP_TAG(PT_ERROR, 0x0037));
  }
  mapiClearAllocationFailure();
  EXPECT_EQ(mapiLiveBlockCount(), live);
}

}  // namespace
}  // namespace vexl::testing
