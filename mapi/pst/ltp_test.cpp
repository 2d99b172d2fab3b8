#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "mapi/pst/bth.h"
#include "mapi/pst/byte_writer.h"
#include "mapi/pst/heap_on_node.h"
#include "mapi/pst/ndb_writer.h"
#include "mapi/pst/property_context.h"
#include "mapi/pst/pst_error.h"
#include "mapi/pst/table_context.h"
#include "mapi/pst/test_pst_reader.h"
#include "mapi/pst/test_validators.h"

namespace vexl::pst {
namespace {

using test::PstReader;

std::vector<std::uint8_t> bytesOf(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7);
  return v;
}

// Writes one node, commits, and reads it back through the strict reader.
class LtpTest : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    dir_ = test::makeTempDir("ltp");
    writer_ = NdbWriter::create(dir_ + "/t.pst", {GetParam(), CryptMethod::Permute, 0});
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  const NdbFormat& format() const { return writer_->format(); }
  // The table node 0x12E of the file as committed, read by the strict
  // reader; every problem it reports fails the test.
  test::TcView readCommittedTable() {
    PstReader r(dir_ + "/t.pst");
    r.checkAllocationAndRefs();
    for (const auto& p : r.problems()) ADD_FAILURE() << p;
    std::vector<std::string> problems;
    test::TcView view = test::readTc(r, r.nodes().at(0x12E), problems);
    for (const auto& p : problems) ADD_FAILURE() << p;
    return view;
  }
  PstReader commitAndRead(Nid nid, const NodeContent& content) {
    writer_->createNode(nid, 0, content);
    writer_->commit();
    PstReader r(dir_ + "/t.pst");
    r.checkAllocationAndRefs();
    for (const auto& p : r.problems()) ADD_FAILURE() << p;
    return r;
  }
  void expectNoProblems(const std::vector<std::string>& problems) {
    for (const auto& p : problems) ADD_FAILURE() << p;
  }
  std::string dir_;
  std::unique_ptr<NdbWriter> writer_;
};

TEST_P(LtpTest, HeapSpansBlocksWithPageAndBitmapHeaders) {
  HeapBuilder heap(format(), HeapClient::Bth);
  std::vector<Hid> hids;
  for (int i = 0; i < 40; ++i) hids.push_back(heap.allocate(bytesOf(3000 + i, static_cast<std::uint8_t>(i))));
  hids.push_back(heap.allocate({}));  // an empty allocation is allowed
  heap.setUserRoot(hids[3]);
  const auto blocks = heap.finish();
  ASSERT_GT(blocks.size(), 9u);  // block 8 carries an HNBITMAPHDR
  for (const auto& b : blocks) EXPECT_LE(b.size(), format().maxBlockPayload());
  EXPECT_EQ(hids[0], 0x20u);
  EXPECT_EQ(hids[2] >> 16, 1u) << "two 3000-byte allocations fill the first block";

  PstReader r = commitAndRead(0x21, NodeContent{blocks, {}});
  std::vector<std::string> problems;
  const auto view = test::readHeap(r, r.nodes().at(0x21).data, problems);
  expectNoProblems(problems);
  EXPECT_EQ(view.clientSig, 0xB5);
  EXPECT_EQ(view.userRoot, hids[3]);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(view.get(hids[i]), bytesOf(3000 + i, static_cast<std::uint8_t>(i)));
  EXPECT_TRUE(view.get(hids.back()).empty());
  EXPECT_THROW(heap.allocate(bytesOf(kMaxHeapAllocation + 1, 0)), PstError);
}

TEST_P(LtpTest, BthGrowsIntermediateLevels) {
  HeapBuilder heap(format(), HeapClient::Bth);
  std::vector<BthRecord> records;
  for (std::uint32_t i = 0; i < 5000; ++i)
    records.push_back({(i * 2654435761u) % 1000003u, bytesOf(4, static_cast<std::uint8_t>(i))});
  const Hid root = buildBth(heap, 0, 4, 4, records);
  heap.setUserRoot(root);
  PstReader r = commitAndRead(0x21, NodeContent{heap.finish(), {}});
  std::vector<std::string> problems;
  const auto view = test::readHeap(r, r.nodes().at(0x21).data, problems);
  int levels = 0;
  const auto read = test::readBth(view, root, &levels);
  EXPECT_GE(levels, 1);
  ASSERT_EQ(read.size(), records.size());
  for (std::size_t i = 1; i < read.size(); ++i) EXPECT_LT(loadLe32(read[i - 1].first.data()), loadLe32(read[i].first.data()));

  HeapBuilder dup(format(), HeapClient::Bth);
  EXPECT_THROW(buildBth(dup, 0, 4, 4, {{1, bytesOf(4, 0)}, {1, bytesOf(4, 1)}}), PstError);
}

TEST_P(LtpTest, PropertyValuesGoInlineOnTheHeapOrInSubnodes) {
  PropertyContextBuilder pc(format());
  pc.setInt32(0x0E070003, -5);
  pc.setBool(0x360A000B, true);
  pc.set(0x00020002, value::int16(0x1234));
  pc.setInt64(0x0E080014, 0x1122334455667788);
  pc.setString(0x0037001F, "Grüße");
  pc.setString(0x0037001F, "Subject");  // replaces
  pc.setString(0x3001001E, "");
  const auto big = bytesOf(20000, 3);
  pc.set(0x37010102, big);
  pc.set(0x8001101F, value::multiVariable({value::unicode("a"), value::unicode("bc")}));
  pc.set(0x80021003, value::multiFixed({value::int32(1), value::int32(2)}));
  EXPECT_THROW(pc.set(0x00030003, value::int16(1)), PstError);

  NodeContent node;
  SubnodeNids nids;
  pc.build(node, nids);
  ASSERT_EQ(node.subnodes.size(), 1u) << "only the 20000-byte value leaves the heap";
  EXPECT_EQ(nidType(node.subnodes[0].nid), NidType::Ltp);
  PstReader r = commitAndRead(0x21, node);
  std::vector<std::string> problems;
  const auto props = test::readPc(r, r.nodes().at(0x21), problems);
  expectNoProblems(problems);
  EXPECT_EQ(props.size(), 9u);
  EXPECT_EQ(props.at(0x0E070003), value::int32(-5));
  EXPECT_EQ(props.at(0x360A000B), value::boolean(true));
  EXPECT_EQ(props.at(0x00020002), value::int16(0x1234));
  EXPECT_EQ(props.at(0x0E080014), value::int64(0x1122334455667788));
  EXPECT_EQ(props.at(0x0037001F), value::unicode("Subject"));
  EXPECT_TRUE(props.at(0x3001001E).empty());
  EXPECT_EQ(props.at(0x37010102), big);
  const auto mv = props.at(0x8001101F);
  EXPECT_EQ(loadLe32(mv.data()), 2u);
  EXPECT_EQ(loadLe32(mv.data() + 4), 12u);
  EXPECT_EQ(loadLe32(mv.data() + 8), 14u);
  EXPECT_EQ(props.at(0x80021003).size(), 8u);
}

TEST_P(LtpTest, TableLayoutGroupsCellsBySizeAndSortsDescriptors) {
  TableContextBuilder tc(format(), {0x3001001F, 0x360A000B, 0x0E330014, 0x00020002, 0x36020003});
  // dwRowID and dwRowVer first, then 8/4-byte, 2-byte, 1-byte, then 1 CEB byte.
  const auto& cols = tc.columns();
  ASSERT_EQ(cols.size(), 7u);
  EXPECT_EQ(cols[0].tag, kTagLtpRowId);
  EXPECT_EQ(cols[0].ibData, 0);
  EXPECT_EQ(cols[1].tag, kTagLtpRowVer);
  EXPECT_EQ(cols[1].ibData, 4);
  EXPECT_EQ(cols[5].tag, 0x00020002u);
  EXPECT_EQ(cols[5].ibData, 24);
  EXPECT_EQ(cols[6].tag, 0x360A000Bu);
  EXPECT_EQ(cols[6].ibData, 26);
  EXPECT_EQ(tc.rowSize(), 28u);
  EXPECT_THROW(tc.addRow(1, {{0x0E070003, value::int32(1)}}), PstError);
}

TEST_P(LtpTest, RowsStayOnTheHeapOrMoveToASubnodeOfWholeRows) {
  for (std::size_t count : {3u, 400u}) {
    TableContextBuilder tc(format(), {0x3001001F, 0x36020003, 0x360A000B, 0x37010102});
    for (std::uint32_t i = 0; i < count; ++i) {
      std::map<PropTag, std::vector<std::uint8_t>> cells{{0x3001001F, value::unicode("row " + std::to_string(i))},
                                                         {0x36020003, value::int32(static_cast<std::int32_t>(i))}};
      if (i % 2) cells[0x360A000B] = value::boolean(true);
      if (i == 1) cells[0x37010102] = bytesOf(5000, 1);  // a cell too big for the heap
      tc.addRow(0x200004 + 32 * (count - i), cells, i);  // row ids in falling order
    }
    NodeContent node;
    SubnodeNids nids;
    tc.build(node, nids);
    EXPECT_EQ(node.subnodes.size(), count * tc.rowSize() > kMaxHeapAllocation ? 2u : 1u);
    if (writer_->findNode(0x12E))
      writer_->replaceNode(0x12E, 0, node);
    else
      writer_->createNode(0x12E, 0, node);
    writer_->commit();
    const auto view = readCommittedTable();
    ASSERT_EQ(view.rows.size(), count);
    EXPECT_TRUE(std::is_sorted(view.rowIds.begin(), view.rowIds.end()));
    // The row index is sorted by dwRowID; the last row added has the lowest.
    const auto& low = view.rows.front();
    EXPECT_EQ(low.at(0x3001001F), value::unicode("row " + std::to_string(count - 1)));
    EXPECT_EQ(low.at(0x36020003), value::int32(static_cast<std::int32_t>(count - 1)));
    EXPECT_EQ(low.at(kTagLtpRowVer), value::int32(static_cast<std::int32_t>(count - 1)));
    EXPECT_EQ(low.count(0x360A000B), (count - 1) % 2 ? 1u : 0u);
    const auto& second = view.rows[count - 2];
    EXPECT_EQ(second.at(0x37010102), bytesOf(5000, 1));
  }
}

TEST_P(LtpTest, EmptyTableHasAnEmptyRowIndexAndNoRows) {
  writer_->createNode(0x60D, 0, TableContextBuilder(format(), {0x3001001F}).build());
  writer_->commit();
  PstReader r(dir_ + "/t.pst");
  std::vector<std::string> problems;
  const auto view = test::readTc(r, r.nodes().at(0x60D), problems);
  expectNoProblems(problems);
  EXPECT_TRUE(view.rows.empty());
  EXPECT_EQ(view.columns.size(), 3u);
}

TEST_P(LtpTest, TableKeepsItsRowIndexHeaderAtTheFirstHid) {
  // Outlook's layout: the row index's BTHHEADER at HID 0x20, TCINFO after
  // it. Readers that take a table's BTHHEADER from HID 0x20 need it.
  TableContextBuilder tc(format(), {0x3001001F});
  tc.addRow(0x8022, {{0x3001001F, value::unicode("Inbox")}});
  PstReader r = commitAndRead(0x12D, tc.build());
  std::vector<std::string> problems;
  const auto heap = test::readHeap(r, r.nodes().at(0x12D).data, problems);
  expectNoProblems(problems);
  EXPECT_EQ(heap.clientSig, 0x7C);
  const auto first = heap.get(0x20);
  ASSERT_EQ(first.size(), 8u);
  EXPECT_EQ(first[0], 0xB5) << "bType of a BTHHEADER";
  EXPECT_NE(heap.userRoot, 0x20u);
  const auto info = heap.get(heap.userRoot);
  ASSERT_FALSE(info.empty());
  EXPECT_EQ(info[0], 0x7C) << "bType of TCINFO";
  EXPECT_EQ(test::readTc(r, r.nodes().at(0x12D), problems).rows.size(), 1u);
  expectNoProblems(problems);
}

TEST_P(LtpTest, GrowingTableMatchesItsRowsAfterEveryCommit) {
  // Rows added in rounds with a commit after each, some saved again (in the
  // block of rows still open and in full ones), one out of order; the
  // strings fill heap blocks past the first bitmap block (block 8) and the
  // rows a subnode past one block.
  const std::vector<PropTag> columns{0x0037001F, 0x0E070003, 0x0E080003, 0x0057000B, 0x37010102};
  TableContextWriter table(*writer_, 0x12E, 0, columns);
  std::map<std::uint32_t, std::map<PropTag, std::vector<std::uint8_t>>> expected;
  auto cellsOf = [](std::uint32_t i, int version) {
    std::map<PropTag, std::vector<std::uint8_t>> cells{
        {0x0037001F, value::unicode("subject " + std::to_string(i) + std::string(40 + i % 90, 'x') +
                                    " v" + std::to_string(version))},
        {0x0E070003, value::int32(version)}};
    if (i % 3 == 0) cells[0x0057000B] = value::boolean(true);
    if (i == 7) cells[0x37010102] = bytesOf(5000, static_cast<std::uint8_t>(version));  // a subnode value
    return cells;
  };
  auto check = [&](const char* when) {
    const auto view = readCommittedTable();
    ASSERT_EQ(view.rows.size(), expected.size()) << when;
    ASSERT_EQ(table.rowCount(), expected.size());
    std::size_t i = 0;
    for (const auto& [id, cells] : expected) {
      ASSERT_EQ(view.rowIds[i], id) << when;
      for (const auto& [tag, bytes] : cells) EXPECT_EQ(view.rows[i].at(tag), bytes) << when << " row " << id;
      EXPECT_EQ(view.rows[i].count(0x0057000B), cells.count(0x0057000B)) << when << " row " << id;
      ++i;
    }
  };
  const std::uint32_t rounds[] = {2, 30, 700, 1, 2500};
  std::uint32_t next = 0;
  for (std::uint32_t count : rounds) {
    for (std::uint32_t k = 0; k < count; ++k, ++next) {
      const std::uint32_t id = 0x200024 + 32 * next;
      expected[id] = cellsOf(next, 1);
      table.setRow(id, expected[id]);
      if (k % 2 == 1) {  // saved again at once, as the recovery does
        expected[id] = cellsOf(next, 2);
        table.setRow(id, expected[id]);
      }
    }
    // An early row (in a full row block by now) saved again.
    expected[0x200024 + 32 * 7] = cellsOf(7, static_cast<int>(next));
    table.setRow(0x200024 + 32 * 7, expected[0x200024 + 32 * 7]);
    table.write();
    writer_->commit();
    check(("after " + std::to_string(next) + " rows").c_str());
  }
  // A row id below the others goes into the first index leaf.
  expected[0x200004] = cellsOf(1, 9);
  table.setRow(0x200004, expected[0x200004]);
  table.write();
  writer_->commit();
  check("after the row out of order");
  EXPECT_EQ(table.cell(0x200024 + 32 * 5, 0x0E070003), value::int32(2));
  EXPECT_EQ(table.cell(0x200024, 0x0057000B), value::boolean(true));
  EXPECT_FALSE(table.cell(0x200044, 0x0057000B).has_value());
  EXPECT_FALSE(table.cell(0x100, 0x0E070003).has_value());
  // The rows span more than one block, the heap more than a bitmap block.
  PstReader r(dir_ + "/t.pst");
  const auto& node = r.nodes().at(0x12E);
  EXPECT_GT(r.dataBlocks(node.data).size(), 9u);
  EXPECT_GT(r.subnodes(node.sub).size(), 1u);
}

TEST_P(LtpTest, GrowingTableDeletesRowsAndKeepsItsMatrixDense) {
  // Rows deleted at the end, in the rows still being filled, in full row
  // blocks, at the front of the index and when the last full block has to
  // give its rows back; then rows added again. After each round the table
  // on disk holds exactly the rows left, each with its own cells.
  const std::vector<PropTag> columns{0x0037001F, 0x0E070003};
  TableContextWriter table(*writer_, 0x12E, 0, columns);
  const std::uint32_t perBlock = format().maxBlockPayload() / TableLayout(format(), columns).rowSize();
  std::map<std::uint32_t, std::map<PropTag, std::vector<std::uint8_t>>> expected;
  auto idOf = [](std::uint32_t i) { return 0x200024 + 32 * i; };
  auto add = [&](std::uint32_t i) {
    expected[idOf(i)] = {{0x0037001F, value::unicode("subject " + std::to_string(i))},
                         {0x0E070003, value::int32(static_cast<std::int32_t>(i))}};
    table.setRow(idOf(i), expected[idOf(i)]);
  };
  auto remove = [&](std::uint32_t i) {
    EXPECT_TRUE(table.deleteRow(idOf(i))) << i;
    expected.erase(idOf(i));
  };
  auto check = [&](const std::string& when) {
    table.write();
    writer_->commit();
    const auto view = readCommittedTable();
    ASSERT_EQ(view.rows.size(), expected.size()) << when;
    ASSERT_EQ(table.rowCount(), expected.size()) << when;
    std::size_t k = 0;
    for (const auto& [id, cells] : expected) {
      ASSERT_EQ(view.rowIds[k], id) << when;
      for (const auto& [tag, bytes] : cells) EXPECT_EQ(view.rows[k].at(tag), bytes) << when << " row " << id;
      EXPECT_EQ(view.rows[k].at(kTagLtpRowId), value::uint32(id)) << when;
      EXPECT_EQ(table.cell(id, 0x0E070003), cells.at(0x0E070003)) << when;
      ++k;
    }
  };
  const std::uint32_t total = 3 * perBlock + 5;
  for (std::uint32_t i = 0; i < total; ++i) add(i);
  check("after adding");
  remove(total - 1);  // the last row
  remove(perBlock + 3);  // a row in a full block
  remove(0);             // the first row of the index
  check("after three deletions");
  EXPECT_FALSE(table.deleteRow(idOf(0)));
  EXPECT_FALSE(table.deleteRow(0x100));
  // Down to whole blocks, then one more: the last full block reopens.
  while (table.rowCount() > 2 * perBlock) remove((expected.rbegin()->first - 0x200024) / 32);
  check("down to two full blocks");
  remove(5);
  check("after reopening the last full block");
  for (std::uint32_t i = total; i < total + perBlock + 2; ++i) add(i);
  check("after adding again");
  while (!expected.empty()) remove((expected.begin()->first - 0x200024) / 32);
  check("after deleting every row");
  add(total + 1000);
  check("after a row in the emptied table");
}

TEST_P(LtpTest, TableWrittenAfterEveryRowKeepsTheFillLevelsItRewrites) {
  // Rows of long strings, the table written after each. At some write the
  // last index leaf stays in a block of one bitmap group (blocks 8 to 135)
  // while the rows open the next (block 136); the next write frees that
  // leaf and so rewrites the earlier group's fill levels, which must still
  // be in memory. The string sizes are ones that reach that layout.
  const std::vector<PropTag> columns{0x0037001F, 0x0042001F, 0x0E1D001F, 0x0E070003};
  const std::uint32_t sizes[] = {1700, 1750, 2300, 3550};
  for (std::uint32_t size : sizes) {
    writer_.reset();
    std::filesystem::remove(dir_ + "/t.pst");
    writer_ = NdbWriter::create(dir_ + "/t.pst", {GetParam(), CryptMethod::Permute, 0});
    TableContextWriter table(*writer_, 0x12E, 0, columns);
    constexpr std::uint32_t kRows = 170;
    for (std::uint32_t i = 0; i < kRows; ++i) {
      const std::string text(size / 2 - 1 + i % 3, static_cast<char>('a' + i % 26));
      table.setRow(0x200024 + 32 * i, {{0x0037001F, value::unicode(text)},
                                       {0x0042001F, value::unicode(text)},
                                       {0x0E1D001F, value::unicode(text)},
                                       {0x0E070003, value::int32(static_cast<std::int32_t>(i))}});
      ASSERT_NO_THROW(table.write()) << "strings of " << size << " bytes, row " << i;
    }
    writer_->commit();
    const auto view = readCommittedTable();
    ASSERT_EQ(view.rows.size(), kRows) << size;
    for (std::uint32_t i = 0; i < kRows; i += 13) {
      EXPECT_EQ(view.rows[i].at(0x0E070003), value::int32(static_cast<std::int32_t>(i))) << size;
      EXPECT_EQ(view.rows[i].at(0x0042001F),
                value::unicode(std::string(size / 2 - 1 + i % 3, static_cast<char>('a' + i % 26))))
          << size;
    }
  }
}

TEST_P(LtpTest, GrowingTableRefusesRowsItsIndexCannotNumber) {
  if (GetParam() != Variant::Ansi) GTEST_SKIP() << "a Unicode row index numbers 2^32 rows";
  TableContextWriter table(*writer_, 0x12E, 0, {0x0E070003});
  for (std::uint32_t i = 0; i < 0xFFFF; ++i) table.setRow(0x24 + 32 * i, {});
  EXPECT_THROW(table.setRow(0x24 + 32 * 0xFFFF, {}), PstError);
  EXPECT_EQ(table.rowCount(), 0xFFFFu);
  table.setRow(0x24, {{0x0E070003, value::int32(5)}});  // an existing row may still change
  table.write();
  writer_->commit();
  PstReader r(dir_ + "/t.pst");
  std::vector<std::string> problems;
  const auto view = test::readTc(r, r.nodes().at(0x12E), problems);
  expectNoProblems(problems);
  ASSERT_EQ(view.rows.size(), 0xFFFFu);
  EXPECT_EQ(view.rows.front().at(0x0E070003), value::int32(5));
  EXPECT_EQ(view.rowIds.back(), 0x24 + 32 * 0xFFFEu);
}

INSTANTIATE_TEST_SUITE_P(Variants, LtpTest, ::testing::Values(Variant::Unicode, Variant::Ansi),
                         [](const auto& info) { return info.param == Variant::Unicode ? "Unicode" : "Ansi"; });

TEST(PropTypesTest, SizeRulesOfTheLtpLayer) {
  EXPECT_TRUE(isInlineInPc(pt::Boolean));
  EXPECT_TRUE(isInlineInPc(pt::Long));
  EXPECT_FALSE(isInlineInPc(pt::LongLong));   // 8 bytes: on the heap in a PC
  EXPECT_FALSE(isInlineInPc(pt::Unicode));
  EXPECT_EQ(tcCellSize(pt::SysTime), 8u);     // but in the row of a TC
  EXPECT_EQ(tcCellSize(pt::Clsid), 4u);       // 16 bytes: an HNID in a TC
  EXPECT_EQ(tcCellSize(pt::Boolean), 1u);
  EXPECT_EQ(tcCellSize(pt::Short), 2u);
  EXPECT_EQ(tcCellSize(pt::Long | pt::MultiValued), 4u);
  EXPECT_EQ(value::unicode("\xF0\x9F\x98\x80"), (std::vector<std::uint8_t>{0x3D, 0xD8, 0x00, 0xDE}));
}

}  // namespace
}  // namespace vexl::pst
