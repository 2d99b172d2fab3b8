// The lost-and-found passes and the split files over whole recoveries of the
// shared samples: the group folders and their numbers, a folder whose parent
// node is gone, a message whose node entry is gone, splits by size during the
// root walk, saves the writer refuses at its format's limit, and a stop
// between two files. Damage is done to the indexes the scan rebuilt, after
// the scan, so each case loses exactly what it names.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/TRELD.h"
#include "engine/core/recovery_engine.h"
#include "engine/core/test_event_log.h"
#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/ndb_node.h"
#include "engine/ltp/property_context.h"
#include "engine/mailbox/test_pff_export.h"
#include "mapi/mapicode.h"
#include "mapi/mapitags.h"
#include "mapi/pst/test_validators.h"
#include "mapi/store/store_context.h"

namespace vexl::testing {
namespace {

namespace fs = std::filesystem;
using test_support::EventLog;

constexpr const char* kSplitLine = "LogLine Current file size exceeds the limit. Create split file '";

std::string sample(const char* name) { return (fs::path(BRELLIN_SAMPLES_DIR) / name).string(); }

bool haveValidators() {
  return pst::test::haveTool("pffexport") && pst::test::haveTool("pffinfo") && pst::test::haveTool("readpst");
}

// 1 for an ANSI file, 2 for a Unicode one (wVer of the HEADER).
std::uint8_t variantOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char header[12] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  return header[10] >= 23 ? 2 : 1;
}

// The NDB reader of the run, with `damage` applied to what the scan rebuilt.
class DamagedFormat final : public NdbFormat {
 public:
  DamagedFormat(EngineContext& engine, CFile64Ex& source, const NdbLayout& layout,
                std::function<void(NdbFormat&)> damage)
      : NdbFormat(engine, source, layout), damage_(std::move(damage)) {}
  std::uint32_t collectSubnodeTreeRoots() override {
    const std::uint32_t count = NdbFormat::collectSubnodeTreeRoots();
    if (damage_) damage_(*this);
    return count;
  }

 private:
  std::function<void(NdbFormat&)> damage_;
};

struct RunResult {
  EventLog log;
  std::int32_t result = 0;
  std::vector<std::string> targets;  // the first file and every split file

  std::size_t lines(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& e : log.events) n += e.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  std::vector<std::string> errors() const {
    std::vector<std::string> out;
    for (const auto& e : log.events)
      if (e.rfind("ErrorText ", 0) == 0) out.push_back(e);
    return out;
  }
};

std::vector<std::string> splitTargets(const std::string& first, const std::vector<std::string>& events) {
  std::vector<std::string> out{first};
  const std::string prefix = kSplitLine;
  for (const auto& e : events)
    if (e.rfind(prefix, 0) == 0) out.push_back(e.substr(prefix.size(), e.size() - prefix.size() - 2));
  return out;
}

// A whole run in this process (so test-only overrides of the writer apply),
// through the engine's driver with its real reconstruction.
RunResult recoverInProcess(const std::string& source, EngineOptions options, const std::string& target,
                     std::function<void(NdbFormat&)> damage = {}, std::function<bool(const RunResult&)> stopWhen = {}) {
  RunResult run;
  run.log.abortAnswer = [&run, stopWhen](int) -> std::int32_t { return stopWhen && stopWhen(run) ? 1 : 0; };
  options.SrcFormat = variantOf(source);
  EngineServices services = EngineServices::platform();
  services.makeNdbFormat = [damage](std::uint8_t variant, EngineContext& engine,
                                    CFile64Ex& file) -> std::unique_ptr<NdbFormat> {
    return std::make_unique<DamagedFormat>(engine, file, variant == 32 ? kAnsiLayout : kUnicodeLayout, damage);
  };
  RecoveryEngine engine(&EventLog::callback, &run.log, std::move(services));
  run.result = engine.run(source.c_str(), &options, 0, target.c_str());
  run.targets = splitTargets(target, run.log.events);
  return run;
}

// Everything pffexport finds in all the files of a run.
ExportedMailbox exportAll(const std::vector<std::string>& files) {
  ExportedMailbox all;
  all.ran = true;
  for (const std::string& file : files) {
    ExportedMailbox one = exportWithPffexport(file);
    all.ran = all.ran && one.ran;
    all.items.insert(one.items.begin(), one.items.end());
    all.placedItems.insert(one.placedItems.begin(), one.placedItems.end());
    all.folders.insert(one.folders.begin(), one.folders.end());
    all.folderPaths.insert(one.folderPaths.begin(), one.folderPaths.end());
  }
  return all;
}

void expectReadable(const std::string& file) {
  SCOPED_TRACE(file);
  const auto info = pst::test::runCommand("pffinfo '" + file + "'");
  EXPECT_EQ(info.status, 0) << info.output;
  const std::string dir = pst::test::makeTempDir("lost-found-readpst");
  const auto readpst = pst::test::runCommand("readpst -D -o '" + dir + "' '" + file + "'");
  EXPECT_EQ(readpst.status, 0) << readpst.output;
  fs::remove_all(dir);
}

EngineOptions optionsWithLevels(std::initializer_list<int> levels) {
  EngineOptions o = client::defaultEngineOptions();
  o.DstFormat = 2;
  o.Level1Recovery = o.Level2Recovery = o.Level3Recovery = o.Level4Recovery = o.Level5Recovery = 0;
  for (int level : levels) {
    if (level == 1) o.Level1Recovery = -1;
    if (level == 2) o.Level2Recovery = -1;
    if (level == 3) o.Level3Recovery = -1;
    if (level == 4) o.Level4Recovery = -1;
    if (level == 5) o.Level5Recovery = -1;
  }
  return o;
}

// The first folder node named `name`, opened; null when there is none.
NdbNode* folderNamed(NdbFormat& ndb, const std::string& name) {
  for (auto& list : ndb.nodeIndex().mutableLists()) {
    if ((list.key & 0x1F) != 2 || list.versions.empty()) continue;
    NdbNode& node = list.versions.back();
    node.open(CryptMode::Unknown);
    if (heapKind(node) == HeapKind::PropertyContext && getDisplayName(node) == name) return &node;
  }
  return nullptr;
}

// The subject as the export and the log show it: without the encoded
// prefix (0x01 and one more character).
std::string subjectOf(const NdbNode& node) {
  std::string subject = getStringProp(node, 0x0037);
  if (subject.size() > 1 && subject[0] == '\x01') subject.erase(0, 2);
  return subject;
}

// Drops a node from the index as a lost NBT entry would.
void forgetNode(NdbFormat& ndb, std::uint32_t nid) {
  if (auto* versions = ndb.nodeIndex().versions(nid)) versions->clear();
}

// The split check reads the size of the file on disk after each message:
// the writer's blocks go to disk as a message is saved, long before the
// next commit makes the HEADER reach them.
TEST(SplitLimit, TheTargetFileGrowsWithEachSavedMessageBeforeAnyCommit) {
  const std::string dir = pst::test::makeTempDir("lost-found-growth");
  const std::string path = dir + "/grow.pst";
  std::unique_ptr<TargetStore> store = makeMapiTargetStore();
  ASSERT_TRUE(store->initialize());
  ASSERT_TRUE(store->create(path, kPstNoEncryption, "Growth", "", PstFormat::Unicode));
  mapi::IMAPIFolder* folder = store->folder(kFolderIpmSubtree);
  ASSERT_NE(folder, nullptr);
  std::vector<unsigned char> body(300000);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<unsigned char>(i * 7919 >> 3);
  // The new file's free space takes the first blocks; from then on the
  // file holds at least the bytes of every message saved.
  std::uintmax_t before = fs::file_size(path);
  for (int n = 0; n < 4; ++n) {
    mapi::IMessage* message = nullptr;
    ASSERT_EQ(folder->CreateMessage(nullptr, mapi::MAPI_DEFERRED_ERRORS, &message), mapi::S_OK);
    mapi::SPropValue prop{};
    prop.ulPropTag = mapi::PR_RTF_COMPRESSED;
    prop.Value.bin.cb = static_cast<mapi::ULONG>(body.size());
    prop.Value.bin.lpb = body.data();
    ASSERT_EQ(message->SetProps(1, &prop, nullptr), mapi::S_OK);
    ASSERT_EQ(message->SaveChanges(mapi::MAPI_DEFERRED_ERRORS), mapi::S_OK);
    message->Release();
    const std::uintmax_t after = fs::file_size(path);
    EXPECT_GT(after, before) << "message " << n;
    EXPECT_GE(after, (n + 1) * body.size()) << "message " << n;
    before = after;
  }
  store->shutdown();
  fs::remove_all(dir);
}

class LostAndFoundRuns : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!haveValidators()) GTEST_SKIP() << "pffexport, pffinfo or readpst missing";
    resetGroupFolderCounterForTesting();
    dir_ = pst::test::makeTempDir("lost-found");
    target_ = dir_ + "/out.pst";
  }
  void TearDown() override {
    mapi::store::setFileSizeLimitForTesting(0);
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string dir_, target_;
};

// Passes 1 and 3 find nothing here, pass 2 finds the old version made
// below: the only group folder left is the second one made.
TEST_F(LostAndFoundRuns, AGroupFolderThatReceivedNothingGoesButUsesUpItsNumber) {
  std::string subject;
  const RunResult run = recoverInProcess(sample("unicode-mailing-list.pst"), optionsWithLevels({1, 2, 3}), target_,
                                   [&](NdbFormat& ndb) {
                                     for (auto& list : ndb.nodeIndex().mutableLists()) {
                                       if ((list.key & 0x1F) != 4 || list.versions.empty()) continue;
                                       NdbNode& node = list.versions.back();
                                       node.open(CryptMode::Unknown);
                                       subject = subjectOf(node);
                                       // An older version of the message under the same NID.
                                       list.versions.insert(list.versions.begin(), list.versions.back());
                                       return;
                                     }
                                   });
  ASSERT_EQ(run.result, 1);
  ASSERT_FALSE(subject.empty());
  ASSERT_EQ(run.targets.size(), 1u);
  const ExportedMailbox out = exportWithPffexport(target_);
  EXPECT_FALSE(out.folders.count("Recovered_Group1"));
  EXPECT_FALSE(out.folders.count("Recovered_Group3"));
  const std::string group = out.pathEndingIn("Recovered_Group2");
  ASSERT_FALSE(group.empty());
  EXPECT_EQ(out.placedItems.count(group + "|Message|" + subject), 1u);
  expectReadable(target_);
}

TEST_F(LostAndFoundRuns, AFolderWhoseParentNodeIsGoneComesBackWithItsSubtree) {
  const std::string source = sample("exchange-2010.ost");
  const ExportedMailbox before = exportWithPffexport(source);
  const std::string inbox = before.pathEndingIn("IPM_SUBTREE/Inbox");
  ASSERT_FALSE(inbox.empty());

  const RunResult run = recoverInProcess(source, optionsWithLevels({1}), target_, [](NdbFormat& ndb) {
    NdbNode* sub1 = folderNamed(ndb, "sub1");
    ASSERT_NE(sub1, nullptr);
    forgetNode(ndb, sub1->parentNid);  // the Inbox
  });
  ASSERT_EQ(run.result, 1);
  const ExportedMailbox out = exportWithPffexport(target_);
  const std::string group = out.pathEndingIn("Recovered_Group1");
  ASSERT_FALSE(group.empty());
  EXPECT_TRUE(out.folderPaths.count(group + "/sub1"));
  EXPECT_TRUE(out.folderPaths.count(group + "/sub2"));
  // Every message of the lost Inbox and of its subfolders, in place.
  for (const char* folder : {"", "/sub1", "/sub2"}) {
    SCOPED_TRACE(std::string("Inbox") + folder);
    std::size_t expected = 0, found = 0;
    for (const std::string& placed : before.placedItems) {
      if (placed.rfind(inbox + folder + "|", 0) != 0) continue;
      ++expected;
      found += out.placedItems.count(group + folder + placed.substr(inbox.size() + std::strlen(folder))) ? 1 : 0;
    }
    EXPECT_GT(expected, 10u);
    EXPECT_EQ(found, expected);
  }
  expectReadable(target_);
}

TEST_F(LostAndFoundRuns, AMessageWhoseNodeEntryIsGoneComesBackFromItsDataBlock) {
  std::string subject;
  const RunResult run = recoverInProcess(sample("unicode-18-items.ost"), optionsWithLevels({4}), target_,
                                   [&](NdbFormat& ndb) {
                                     for (auto& list : ndb.nodeIndex().mutableLists()) {
                                       if ((list.key & 0x1F) != 4 || list.versions.empty()) continue;
                                       NdbNode& node = list.versions.back();
                                       node.open(CryptMode::Unknown);
                                       subject = subjectOf(node);
                                       if (subject.empty()) continue;
                                       forgetNode(ndb, static_cast<std::uint32_t>(list.key));
                                       return;
                                     }
                                   });
  ASSERT_EQ(run.result, 1);
  ASSERT_FALSE(subject.empty());
  const ExportedMailbox out = exportWithPffexport(target_);
  const std::string group = out.pathEndingIn("Recovered_Group1");
  ASSERT_FALSE(group.empty());
  // Its kind comes from its message class (the sample's items are contacts
  // whose names recur); the walk wrote the others of that subject.
  std::size_t inGroup = 0, everywhere = 0, inSource = 0;
  for (const std::string& placed : out.placedItems) {
    if (!placed.ends_with("|" + subject)) continue;
    ++everywhere;
    inGroup += placed.rfind(group + "|", 0) == 0 ? 1 : 0;
  }
  for (const std::string& item : exportWithPffexport(sample("unicode-18-items.ost")).items)
    inSource += item.ends_with("|" + subject) ? 1 : 0;
  EXPECT_EQ(inGroup, 1u);
  EXPECT_EQ(everywhere, inSource);
  expectReadable(target_);
}

// The message's node entry is gone, its subnode tree survives: pass 3
// gives each attachment a carrier message of its own.
TEST_F(LostAndFoundRuns, TheAttachmentsOfALostMessageComeBackFromItsSubnodeTree) {
  std::size_t attachments = 0;
  const RunResult run = recoverInProcess(sample("unicode-attachments.pst"), optionsWithLevels({3}), target_,
                                         [&](NdbFormat& ndb) {
                                           for (auto& list : ndb.nodeIndex().mutableLists()) {
                                             if ((list.key & 0x1F) != 4 || list.versions.empty()) continue;
                                             NdbNode& node = list.versions.back();
                                             node.open(CryptMode::Unknown);
                                             if (subjectOf(node) != "Multiple attachments") continue;
                                             for (const auto& sub : node.subnodes().lists())
                                               attachments += (sub.key & 0x1F) == 5 ? 1 : 0;
                                             forgetNode(ndb, static_cast<std::uint32_t>(list.key));
                                             return;
                                           }
                                         });
  ASSERT_EQ(run.result, 1);
  ASSERT_GE(attachments, 2u);
  EXPECT_EQ(run.lines("LogLine Recover attachment '"), attachments);
  const ExportedMailbox out = exportWithPffexport(target_);
  const std::string group = out.pathEndingIn("Recovered_Group1");
  ASSERT_FALSE(group.empty());
  std::size_t carriers = 0;
  for (const std::string& placed : out.placedItems)
    carriers += placed.rfind(group + "|Message|Empty message with one attachment ", 0) == 0 ? 1 : 0;
  EXPECT_EQ(carriers, attachments);
  expectReadable(target_);
}

// The limit passed during the root walk: the next file has the folders
// again and the messages not yet written, and across the files every item
// of the source is there exactly once.
TEST_F(LostAndFoundRuns, ASplitDuringTheWalkWritesEveryMessageOnce) {
  const std::string source = sample("unicode-attachments.pst");
  EngineOptions options = optionsWithLevels({});
  options.SplitOversizePST = -1;
  options.PSTFileSizeLimit = 1;
  const RunResult run = recoverInProcess(source, options, target_);
  ASSERT_EQ(run.result, 1);
  EXPECT_TRUE(run.errors().empty()) << run.errors().front();
  ASSERT_GE(run.targets.size(), 2u);
  EXPECT_EQ(run.targets[1], dir_ + "/out_1.pst");
  for (const std::string& file : run.targets) {
    ASSERT_TRUE(fs::exists(file)) << file;
    expectReadable(file);
  }
  const ExportedMailbox before = exportWithPffexport(source);
  const ExportedMailbox after = exportAll(run.targets);
  EXPECT_EQ(after.items, before.items);
  // Each later file begins with the folder the walk stopped in.
  const ExportedMailbox second = exportWithPffexport(run.targets[1]);
  EXPECT_FALSE(second.items.empty());
  for (const std::string& placed : second.placedItems) {
    const std::string folder = placed.substr(0, placed.find('|'));
    EXPECT_FALSE(folder.find("Recovered_Folder") != std::string::npos) << placed;
  }
}

// An ANSI file cannot pass its format's limit (here a small one for the
// test): the save the writer refuses goes into the next file, with
// splitting by size off.
TEST_F(LostAndFoundRuns, ASaveRefusedAtTheFormatsLimitGoesIntoTheNextFile) {
  const std::string source = sample("unicode-attachments.pst");
  EngineOptions options = optionsWithLevels({});
  options.DstFormat = 1;
  const std::string whole = dir_ + "/whole.pst";
  const RunResult control = recoverInProcess(source, options, whole);
  ASSERT_EQ(control.targets.size(), 1u);

  // The writer keeps 2 MiB of a file for its commits: half a MiB of messages
  // fits each file.
  constexpr std::uint64_t kLimit = 5u << 19;
  mapi::store::setFileSizeLimitForTesting(kLimit);
  const RunResult run = recoverInProcess(source, options, target_);
  mapi::store::setFileSizeLimitForTesting(0);
  ASSERT_EQ(run.result, 1);
  EXPECT_TRUE(run.errors().empty()) << run.errors().front();
  ASSERT_GE(run.targets.size(), 2u);
  for (const std::string& file : run.targets) {
    ASSERT_TRUE(fs::exists(file)) << file;
    EXPECT_LE(fs::file_size(file), kLimit) << file;
    expectReadable(file);
  }
  const ExportedMailbox expected = exportWithPffexport(whole);
  const ExportedMailbox got = exportAll(run.targets);
  ASSERT_FALSE(expected.items.empty());
  EXPECT_EQ(itemsFound(expected.items, got.items), expected.items.size());
  // A message refused on its last save (the one with its attachments) keeps
  // its first save, without them, in the file that refused it: at most one
  // such copy per file.
  EXPECT_LE(got.items.size(), expected.items.size() + run.targets.size() - 1);
}

TEST_F(LostAndFoundRuns, AStopWhileWritingEndsTheFileAfterTheCurrentMessageAndMakesNoOther) {
  const std::string source = sample("unicode-attachments.pst");
  EngineOptions options = optionsWithLevels({1, 2, 3, 4, 5});
  options.SplitOversizePST = -1;
  options.PSTFileSizeLimit = 1;
  const RunResult split = recoverInProcess(source, options, dir_ + "/split.pst");
  ASSERT_GE(split.targets.size(), 2u);

  // Once the walk has written a message, every abort query answers stop.
  const RunResult stopped = recoverInProcess(source, options, target_, {},
                                       [](const RunResult& r) { return r.lines("LogLine Recover message '") > 0; });
  EXPECT_EQ(stopped.result, 1);
  EXPECT_EQ(stopped.lines(kSplitLine), 0u);
  EXPECT_EQ(stopped.lines("LogLine Recover message '"), 1u) << "the stop takes effect after the current message";
  EXPECT_FALSE(fs::exists(dir_ + "/out_1.pst"));
  ASSERT_TRUE(fs::exists(target_));
  expectReadable(target_);
  // The passes took nothing after the stop, so no group folder stays.
  for (const auto& f : exportWithPffexport(target_).folders)
    EXPECT_EQ(f.rfind("Recovered_Group", 0), std::string::npos) << f;
}

}  // namespace
}  // namespace vexl::testing
