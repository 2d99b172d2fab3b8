// Recoveries of damaged copies of the samples: for each kind of damage, how
// many of the intact file's items (kind and subject, as pffexport lists
// them) reach the output, lost-and-found folders included. Every output
// must open in pffinfo and readpst. The table is printed; the floors are
// what the recovery reached when they were set, so a loss shows as a
// failure.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "client/TRELD.h"
#include "engine/mailbox/test_pff_export.h"
#include "engine/ndb/ndb_layout.h"
#include "mapi/pst/test_validators.h"

namespace vexl::testing {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

const NdbLayout& layoutOf(const Bytes& file) { return file.size() > 11 && file[10] >= 23 ? kUnicodeLayout : kAnsiLayout; }

std::uint64_t loadRef(const Bytes& b, std::size_t at, std::uint32_t width) {
  std::uint64_t v = 0;
  for (std::uint32_t i = 0; i < width && at + i < b.size(); ++i) v |= static_cast<std::uint64_t>(b[at + i]) << (8 * i);
  return v;
}

void zero(Bytes& b, std::uint64_t at, std::uint64_t count) {
  if (at >= b.size()) return;
  std::fill(b.begin() + static_cast<std::ptrdiff_t>(at),
            b.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(b.size(), at + count)), 0);
}

struct Damage {
  const char* name;
  bool fastRecovery;  // inserted bytes move every structure off its alignment
  std::function<void(Bytes&, const NdbLayout&)> apply;
};

const std::vector<Damage>& damages() {
  static const std::vector<Damage> all = {
      {"zeroed HEADER", true, [](Bytes& b, const NdbLayout&) { zero(b, 0, 564); }},
      {"zeroed B-tree roots", true,
       [](Bytes& b, const NdbLayout& L) {
         zero(b, loadRef(b, L.rootNbtIb, L.refWidth), L.pageSize);
         zero(b, loadRef(b, L.rootBbtIb, L.refWidth), L.pageSize);
       }},
      {"zeroed NBT leaves", true,
       [](Bytes& b, const NdbLayout& L) {
         for (std::size_t at = 0; at + L.pageSize <= b.size(); at += L.pageSize) {
           const unsigned char* p = b.data() + at;
           if (p[L.ptypeOffset] == kPageTypeNbt && p[L.ptypeRepeatOffset] == kPageTypeNbt && p[L.cLevelOffset] == 0)
             zero(b, at, L.pageSize);
         }
       }},
      {"zeroed sectors (2%)", true,
       [](Bytes& b, const NdbLayout&) {
         std::mt19937 random(20261209);
         const std::size_t sectors = b.size() / 512;
         std::uniform_int_distribution<std::size_t> pick(0, sectors - 1);
         for (std::size_t i = 0; i < sectors / 50 + 1; ++i) zero(b, pick(random) * 512, 512);
       }},
      {"bit flips (1 per 4 KiB)", true,
       [](Bytes& b, const NdbLayout&) {
         std::mt19937 random(4096);
         std::uniform_int_distribution<std::size_t> pick(0, b.size() * 8 - 1);
         for (std::size_t i = 0; i < b.size() / 4096 + 1; ++i) {
           const std::size_t bit = pick(random);
           b[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
         }
       }},
      {"truncated to 70%", true, [](Bytes& b, const NdbLayout&) { b.resize(b.size() * 7 / 10); }},
      {"3 bytes inserted at the start", false,
       [](Bytes& b, const NdbLayout&) { b.insert(b.begin(), {0x00, 0x13, 0x37}); }},
  };
  return all;
}

// The lowest count of intact items each case has to bring back; measured
// when set. Cases not listed must bring back all of them.
std::size_t floorFor(const std::string& sample, const std::string& damage, std::size_t intact) {
  static const std::map<std::string, std::size_t> floors = {
      {"unicode-18-items.ost / zeroed sectors (2%)", 17},
      {"unicode-18-items.ost / bit flips (1 per 4 KiB)", 15},
      {"unicode-mailing-list.pst / bit flips (1 per 4 KiB)", 5},
      {"unicode-attachments.pst / bit flips (1 per 4 KiB)", 10},
      {"unicode-attachments.pst / truncated to 70%", 9},
      {"ansi-calendar.pst / bit flips (1 per 4 KiB)", 0},
      {"ansi-calendar.pst / truncated to 70%", 0},
      {"exchange-2010.ost / zeroed sectors (2%)", 84},
      {"exchange-2010.ost / bit flips (1 per 4 KiB)", 38},
      {"exchange-2010.ost / truncated to 70%", 91},
  };
  const auto it = floors.find(sample + " / " + damage);
  return it == floors.end() ? intact : it->second;
}

std::vector<std::string> samplesToDamage() {
  std::vector<std::string> names = {"unicode-18-items.ost", "unicode-mailing-list.pst",
                                    "unicode-contacts-distlist.pst", "unicode-attachments.pst",
                                    "ansi-calendar.pst"};
#if !defined(__SANITIZE_ADDRESS__)
  // Under the sanitizers the Exchange sample alone would take minutes.
  names.push_back("exchange-2010.ost");
#endif
  return names;
}

class Quiet final : public client::EngineEvents {
 public:
  bool onMessage(std::int32_t code, void* data) override {
    if (code == LogLine && data != nullptr) {
      const std::string line = static_cast<const char*>(data);
      const std::string prefix = "Current file size exceeds the limit. Create split file '";
      if (line.rfind(prefix, 0) == 0) splits.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 2));
    }
    return false;
  }
  std::vector<std::string> splits;
};

TEST(Damage, WhatReachesTheOutputOfDamagedCopies) {
  if (!pst::test::haveTool("pffexport") || !pst::test::haveTool("pffinfo") || !pst::test::haveTool("readpst"))
    GTEST_SKIP() << "pffexport, pffinfo or readpst missing";
  const std::string dir = pst::test::makeTempDir("damage");
  std::string table = "\nsample                         damage                          items  floor\n";
  for (const std::string& name : samplesToDamage()) {
    const std::string source = (fs::path(BRELLIN_SAMPLES_DIR) / name).string();
    const ExportedMailbox intact = exportWithPffexport(source);
    ASSERT_TRUE(intact.ran) << name;
    const Bytes original = readFile(source);
    for (const Damage& damage : damages()) {
      SCOPED_TRACE(name + " / " + damage.name);
      Bytes copy = original;
      damage.apply(copy, layoutOf(original));
      const std::string damaged = dir + "/damaged-" + name;
      const std::string target = dir + "/out.pst";
      writeFile(damaged, copy);
      EngineOptions options = client::defaultEngineOptions();
      options.DstFormat = 2;
      options.FastRecovery = damage.fastRecovery ? -1 : 0;
      Quiet events;
      client::runRecovery(damaged, options, target, &events);
      std::vector<std::string> outputs;
      if (fs::exists(target)) outputs.push_back(target);
      outputs.insert(outputs.end(), events.splits.begin(), events.splits.end());

      std::multiset<std::string> items;
      for (const std::string& out : outputs) {
        SCOPED_TRACE(out);
        const auto info = pst::test::runCommand("pffinfo '" + out + "'");
        EXPECT_EQ(info.status, 0) << info.output;
        const std::string readpstDir = pst::test::makeTempDir("damage-readpst");
        const auto readpst = pst::test::runCommand("readpst -D -o '" + readpstDir + "' '" + out + "'");
        EXPECT_EQ(readpst.status, 0) << readpst.output;
        fs::remove_all(readpstDir);
        const ExportedMailbox got = exportWithPffexport(out);
        items.insert(got.items.begin(), got.items.end());
        fs::remove(out);
      }
      const std::size_t found = itemsFound(intact.items, items);
      const std::size_t floor = floorFor(name, damage.name, intact.items.size());
      char row[160];
      std::snprintf(row, sizeof row, "%-30s %-30s %4zu/%-4zu %4zu\n", name.c_str(), damage.name, found,
                    intact.items.size(), floor);
      table += row;
      EXPECT_GE(found, floor);
    }
  }
  std::fputs(table.c_str(), stdout);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vexl::testing
