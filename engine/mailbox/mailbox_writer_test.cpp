// The walk over source nodes built in memory, written into a real target
// store: folders kept, renamed or removed, the target Inbox by name, cycles
// and over-deep chains in the parent links, messages and their logged
// subjects, carrier messages of orphan attachments, the split limit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/test_heap_builder.h"
#include "engine/mailbox/mailbox_writer.h"
#include "engine/mailbox/test_pff_export.h"
#include "mapi/mapialloc.h"
#include "mapi/pst/test_validators.h"

namespace vexl::testing {
namespace {

namespace fs = std::filesystem;

class TestEngine final : public EngineContext {
 public:
  TestEngine() : EngineContext(&TestEngine::receive, this) {}
  EngineOptions& options() { return options_; }
  std::vector<std::string> lines;

 private:
  static std::int32_t receive(std::int32_t code, void* data, void* user) {
    auto* self = static_cast<TestEngine*>(user);
    if ((code == LogLine || code == ErrorText) && data != nullptr) self->lines.emplace_back(static_cast<char*>(data));
    return 0;
  }
};

struct Prop {
  std::uint16_t id;
  std::uint16_t type;  // 0x001F (text), 0x0003 (value), 0x000D (object: the subnode's NID)
  std::u16string text;
  std::uint32_t value = 0;
};

std::vector<Bytes> pcBytes(const std::vector<Prop>& props) {
  HeapBuilder heap(kHeapSigPropertyContext);
  std::vector<PcRecord> records;
  for (const Prop& p : props) {
    const std::uint32_t hnid = p.type == 0x001F   ? heap.add(utf16le(p.text))
                               : p.type == 0x000D ? heap.add(le32(p.value) + le32(0))
                                                  : p.value;
    records.push_back({p.id, p.type, hnid});
  }
  addPcBth(heap, records);
  return heap.build();
}

// A source mailbox: nodes built one by one, each in a file of its own, and
// entered in the node index of the first.
class Source {
 public:
  Source() { host_ = std::make_unique<NodeFile>(std::vector<Bytes>{Bytes(64, 0)}); }
  NdbFormat& format() { return *host_->node().format; }

  NdbNode& pc(std::uint32_t nid, const std::vector<Prop>& props, std::vector<std::uint32_t> children = {},
             const std::vector<SubnodeSpec>& subnodes = {}) {
    return enter(std::make_unique<NodeFile>(pcBytes(props), subnodes), nid, std::move(children));
  }
  // A node whose data is no heap at all.
  NdbNode& junk(std::uint32_t nid, std::vector<std::uint32_t> children = {}) {
    return enter(std::make_unique<NodeFile>(std::vector<Bytes>{Bytes(40, 0x5A)}), nid, std::move(children));
  }
  NdbNode& node(std::uint32_t nid) { return *format().nodeIndex().find(nid); }

 private:
  NdbNode& enter(std::unique_ptr<NodeFile> file, std::uint32_t nid, std::vector<std::uint32_t> children) {
    NdbNode copy = file->node();
    copy.nid = nid;
    copy.childNids = std::move(children);
    files_.push_back(std::move(file));
    format().nodeIndex().append(nid, copy);
    return node(nid);
  }
  std::unique_ptr<NodeFile> host_;
  std::vector<std::unique_ptr<NodeFile>> files_;
};

constexpr std::uint32_t folderNid(std::uint32_t n) { return n << 5 | 2; }
constexpr std::uint32_t messageNid(std::uint32_t n) { return n << 5 | 4; }
constexpr std::uint32_t attachmentNid(std::uint32_t n) { return n << 5 | 5; }

Prop name(const std::u16string& text) { return {0x3001, 0x001F, text}; }
Prop subject(const std::u16string& text) { return {0x0037, 0x001F, text}; }

// Attachment subnode `attach` holding an embedded message as its object,
// subnode `object`, with `props` and the message's own `subnodes`.
SubnodeSpec embedding(std::uint32_t attach, std::uint32_t object, const std::vector<Prop>& props,
                      std::vector<SubnodeSpec> subnodes = {}) {
  return {attach,
          pcBytes({{0x3705, 0x0003, u"", 5}, {0x3701, 0x000D, u"", object}}),
          {{object, pcBytes(props), std::move(subnodes)}}};
}

// The subjects of the embedded messages pffexport finds in `pst`, each with
// the depth of its embedding ("2|Level 2").
std::multiset<std::string> embeddedSubjects(const std::string& pst, const std::string& scratch) {
  const fs::path dir = fs::path(scratch) / "embedded-export";
  fs::create_directories(dir);
  const std::string command = "cd '" + dir.string() + "' && pffexport -q -m all -t x '" + pst + "' >/dev/null 2>&1";
  (void)std::system(command.c_str());
  std::multiset<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file() || e.path().filename() != "OutlookHeaders.txt") continue;
    int depth = 0;
    for (const auto& part : e.path()) depth += part == "Attachments";
    if (depth == 0) continue;
    std::ifstream in(e.path());
    for (std::string line; std::getline(in, line);)
      if (line.rfind("Subject:", 0) == 0) out.insert(std::to_string(depth) + "|" + line.substr(line.find_first_not_of(" \t", 8)));
  }
  return out;
}

class MailboxWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = pst::test::makeTempDir("mailbox-walk");
    path_ = dir_ + "/out.pst";
    engine_.pstFormat = PstFormat::Unicode;
    ASSERT_TRUE(store_->initialize());
    ASSERT_TRUE(store_->create(path_, kPstNoEncryption, "Recovered", "", PstFormat::Unicode));
    writer_ = std::make_unique<MailboxWriter>(engine_, source_.format(), *store_, state_);
  }
  void TearDown() override {
    store_->shutdown();
    fs::remove_all(dir_);
  }
  // Closes the target and exports it.
  ExportedMailbox exported() {
    store_->close();
    return exportWithPffexport(path_);
  }
  mapi::IMAPIFolder* subtree() { return store_->folder(kFolderIpmSubtree); }
  bool logged(const std::string& line) const {
    for (const auto& l : engine_.lines)
      if (l == line) return true;
    return false;
  }

  TestEngine engine_;
  Source source_;
  std::unique_ptr<TargetStore> store_ = makeMapiTargetStore();
  MailboxRunState state_;
  std::unique_ptr<MailboxWriter> writer_;
  std::string dir_, path_;
};

TEST(PlaceholderNames, PrefixAndA32BitNumber) {
  EXPECT_TRUE(isPlaceholderText("Recovered_Folder1"));
  EXPECT_TRUE(isPlaceholderText("Recovered_Folder4294967295"));
  EXPECT_FALSE(isPlaceholderText("Recovered_Folder4294967296"));
  EXPECT_FALSE(isPlaceholderText("Recovered_Folder"));
  EXPECT_FALSE(isPlaceholderText("Recovered_Folder1a"));
  EXPECT_FALSE(isPlaceholderText("Recovered_folder1"));
  EXPECT_FALSE(isPlaceholderText("Inbox"));
}

TEST(PlaceholderNames, TheCounterRunsOnAcrossCalls) {
  const std::string a = nextPlaceholderName(), b = nextPlaceholderName();
  ASSERT_TRUE(isPlaceholderText(a));
  EXPECT_EQ(std::stoul(b.substr(16)), std::stoul(a.substr(16)) + 1);
}

TEST_F(MailboxWalk, EmptyFoldersStayWithARecoveredNameAndGoOtherwise) {
  source_.pc(folderNid(1), {name(u"Keep")});
  source_.pc(folderNid(2), {{0x3613, 0x001F, u"IPF.Note"}});  // no name: stays a placeholder
  source_.junk(folderNid(3));
  EXPECT_EQ(writer_->recoverNode(folderNid(1), subtree()), 1);
  EXPECT_TRUE(logged("Recover folder 'Keep' ..."));
  EXPECT_EQ(writer_->recoverNode(folderNid(2), subtree()), 0);
  EXPECT_EQ(source_.node(folderNid(2)).usedMark, 1u);
  EXPECT_EQ(writer_->recoverNode(folderNid(3), subtree()), 0);
  EXPECT_EQ(source_.node(folderNid(3)).usedMark, 1u);
  EXPECT_EQ(writer_->recoverNode(folderNid(1), subtree()), 0) << "used nodes are not written twice";
  EXPECT_EQ(engine_.lines.size(), 1u);

  const ExportedMailbox out = exported();
  ASSERT_TRUE(out.ran);
  EXPECT_TRUE(out.folders.count("Keep"));
  for (const auto& f : out.folders) EXPECT_FALSE(isPlaceholderText(f)) << f;
}

TEST_F(MailboxWalk, RemoveEmptyFolderDeletesEvenNamedOnes) {
  engine_.options().RemoveEmptyFolder = 1;
  source_.pc(folderNid(1), {name(u"Empty")});
  source_.pc(folderNid(2), {name(u"Full")}, {messageNid(1)});
  source_.pc(messageNid(1), {{0x0037, 0x001F, u"Hello"}});
  EXPECT_EQ(writer_->recoverNode(folderNid(1), subtree()), 0);
  EXPECT_EQ(writer_->recoverNode(folderNid(2), subtree()), 2);
  EXPECT_FALSE(logged("Recover folder 'Empty' ..."));
  const ExportedMailbox out = exported();
  EXPECT_FALSE(out.folders.count("Empty"));
  EXPECT_TRUE(out.folders.count("Full"));
  EXPECT_EQ(out.items.count("Message|Hello"), 1u);
}

TEST_F(MailboxWalk, AFolderWithoutAPropertyContextHoldsItsChildren) {
  source_.junk(folderNid(1), {folderNid(2), folderNid(3)});
  source_.pc(folderNid(2), {name(u"Inner")});
  source_.junk(folderNid(3));
  EXPECT_EQ(writer_->recoverNode(folderNid(1), subtree()), 2);
  // Without anything recovered below it the holder goes again.
  source_.junk(folderNid(4), {folderNid(5)});
  source_.junk(folderNid(5));
  EXPECT_EQ(writer_->recoverNode(folderNid(4), subtree()), 0);
  const ExportedMailbox out = exported();
  EXPECT_TRUE(out.folders.count("Inner"));
}

TEST_F(MailboxWalk, AFolderNamedLikeTheTargetInboxLandsInIt) {
  state_.foldersByName[store_->inboxName()] = store_->folder(kFolderInbox);
  ASSERT_FALSE(store_->inboxName().empty());
  source_.pc(folderNid(1), {name(u"Inbox")}, {messageNid(1)});
  source_.pc(messageNid(1), {{0x0037, 0x001F, u"In the inbox"}});
  // No parent: only a folder found in the maps can take the node.
  EXPECT_EQ(writer_->recoverNode(folderNid(1), nullptr), 2);
  const ExportedMailbox out = exported();
  EXPECT_EQ(out.items.count("Message|In the inbox"), 1u);
}

// An Exchange store names its folders by server entry IDs: its Sent Items
// must still land in the target's own rather than beside it.
TEST_F(MailboxWalk, SpecialFoldersTheStoreDoesNotNameAreMatchedByName) {
  source_.pc(kNidMessageStore, {name(u"Mailbox")});
  source_.pc(folderNid(1), {name(u"Sent Items")}, {messageNid(1)});
  source_.pc(messageNid(1), {{0x0037, 0x001F, u"Sent"}});
  source_.pc(folderNid(2), {name(u"Sent Items")}, {messageNid(2)});
  source_.pc(messageNid(2), {{0x0037, 0x001F, u"Sent too"}});
  ASSERT_EQ(writer_->recoverStore(), 1);
  EXPECT_EQ(writer_->recoverNode(folderNid(1), subtree()), 2);
  EXPECT_EQ(writer_->recoverNode(folderNid(2), subtree()), 2);

  mapi::IMAPIFolder* sent = store_->folder(kFolderSentItems);
  ASSERT_NE(sent, nullptr);
  mapi::SPropTagArray tags{1, {0x36020003}};  // PR_CONTENT_COUNT
  mapi::ULONG count = 0;
  mapi::SPropValue* values = nullptr;
  ASSERT_EQ(sent->GetProps(&tags, 0, &count, &values), mapi::S_OK);
  EXPECT_EQ(values[0].Value.l, 2) << "both land in the target's own Sent Items";
  mapi::MAPIFreeBuffer(values);
}

TEST_F(MailboxWalk, CyclesInTheChildLinksEnd) {
  source_.pc(folderNid(1), {name(u"A")}, {folderNid(1), folderNid(2)});
  source_.pc(folderNid(2), {name(u"B")}, {folderNid(1), folderNid(2)});
  EXPECT_EQ(writer_->recoverNode(folderNid(1), subtree()), 2);
}

TEST_F(MailboxWalk, AnOverDeepChainIsCutAndLeftForLaterPasses) {
  const std::uint32_t depth = kMaxFolderDepth + 20;
  for (std::uint32_t i = 1; i <= depth; ++i)
    source_.pc(folderNid(i), {name(u"F")}, i < depth ? std::vector<std::uint32_t>{folderNid(i + 1)}
                                                     : std::vector<std::uint32_t>{});
  const std::int32_t count = writer_->recoverNode(folderNid(1), subtree());
  EXPECT_EQ(count, kMaxFolderDepth + 1);
  EXPECT_EQ(source_.node(folderNid(depth)).usedMark, 0u);
}

TEST_F(MailboxWalk, MessagesAreLoggedWithoutTheirSubjectPrefix) {
  source_.pc(messageNid(1), {{0x0037, 0x001F, u"\x01\x05Re: news"}});
  source_.pc(messageNid(2), {{0x0037, 0x001F, u"\x01"}});
  source_.junk(messageNid(3));
  source_.pc(messageNid(4), {{0x0037, 0x001F, u"No folder"}});
  EXPECT_EQ(writer_->recoverNode(messageNid(1), subtree()), 1);
  EXPECT_EQ(writer_->recoverNode(messageNid(2), subtree()), 1);
  EXPECT_EQ(writer_->recoverNode(messageNid(3), subtree()), 0);
  EXPECT_EQ(source_.node(messageNid(3)).usedMark, 1u);
  EXPECT_EQ(writer_->recoverNode(messageNid(4), nullptr), 0);
  EXPECT_EQ(source_.node(messageNid(4)).usedMark, 0u);
  EXPECT_TRUE(logged("Recover message 'Re: news' ..."));
  EXPECT_TRUE(logged("Recover message '\x01' ..."));
  EXPECT_TRUE(logged("Recover message 'No folder' ..."));
}

TEST_F(MailboxWalk, AnOrphanAttachmentGetsACarrierMessage) {
  source_.pc(attachmentNid(1), {{0x3704, 0x001F, u"a.doc"}, {0x0E20, 0x0003, u"", 1234}, {0x3705, 0x0003, u"", 1}});
  source_.pc(attachmentNid(2), {{0x3705, 0x0003, u"", 1}});
  EXPECT_EQ(writer_->recoverNode(attachmentNid(1), subtree()), 1);
  EXPECT_EQ(writer_->recoverNode(attachmentNid(2), subtree()), 1);
  EXPECT_TRUE(logged("Recover attachment 'a.doc' ..."));
  const ExportedMailbox out = exported();
  EXPECT_EQ(out.items.count("Message|Empty message with one attachment a.doc (1234 bytes)"), 1u);
  EXPECT_EQ(out.items.count("Message|Empty message with one attachment"), 1u);
}

TEST_F(MailboxWalk, TheSplitLimitStopsTheFolderAfterTheMessageThatPassedIt) {
  engine_.options().SplitOversizePST = 1;
  engine_.options().PSTFileSizeLimit = 0;  // any file is past it
  source_.pc(folderNid(1), {name(u"Mail")}, {messageNid(1), messageNid(2)});
  source_.pc(messageNid(1), {{0x0037, 0x001F, u"first"}});
  source_.pc(messageNid(2), {{0x0037, 0x001F, u"second"}});
  EXPECT_EQ(writer_->recoverNode(folderNid(1), subtree()), 2);
  EXPECT_TRUE(engine_.splitPending);
  EXPECT_EQ(source_.node(messageNid(2)).usedMark, 0u);
}

TEST_F(MailboxWalk, EmbeddedMessagesNestedThreeDeepAreFilled) {
  engine_.options().RecoverUnattchedAttach = 1;  // attachments without a table
  source_.pc(messageNid(1), {subject(u"Outer")}, {},
             {embedding(attachmentNid(1), messageNid(2), {subject(u"Level 1")},
                        {embedding(attachmentNid(2), messageNid(3), {subject(u"Level 2")},
                                   {embedding(attachmentNid(3), messageNid(4), {subject(u"Level 3")})})})});
  EXPECT_EQ(writer_->recoverNode(messageNid(1), subtree()), 1);
  for (const char* level : {"Level 1", "Level 2", "Level 3"})
    EXPECT_TRUE(logged(std::string("Recover embedded message '") + level + "' ...")) << level;
  store_->close();
  if (!pst::test::haveTool("pffexport")) GTEST_SKIP() << "pffexport missing";
  EXPECT_EQ(embeddedSubjects(path_, dir_), (std::multiset<std::string>{"1|Level 1", "2|Level 2", "3|Level 3"}));
}

// The walk opens every node it writes; what open loaded (the subnodes, of
// messages above all) must not stay on the index for the rest of the run,
// neither for items written nor for those refused.
TEST_F(MailboxWalk, WrittenNodesKeepNoSubnodesLoaded) {
  engine_.options().RecoverUnattchedAttach = 1;
  source_.pc(folderNid(1), {name(u"Mail")}, {messageNid(1), messageNid(2), messageNid(3)});
  source_.pc(messageNid(1), {subject(u"Outer")}, {},
             {embedding(attachmentNid(1), messageNid(4), {subject(u"Inner")})});
  source_.pc(messageNid(2), {subject(u"Plain")});
  source_.junk(messageNid(3));
  EXPECT_NE(source_.node(messageNid(1)).subnodeMap, nullptr);
  EXPECT_EQ(writer_->recoverNode(folderNid(1), subtree()), 3);
  // The embedded message was written from the subnodes while they were loaded.
  EXPECT_TRUE(logged("Recover embedded message 'Inner' ..."));
  for (std::uint32_t nid : {folderNid(1), messageNid(1), messageNid(2), messageNid(3)}) {
    EXPECT_NE(source_.node(nid).usedMark, 0u) << nid;
    EXPECT_EQ(source_.node(nid).subnodeMap, nullptr) << nid;
  }
  const ExportedMailbox out = exported();
  EXPECT_EQ(out.items.count("Message|Outer"), 1u);
}

// A hostile file: the embedded message's attachment names as its subnode
// tree the one that holds it, so its object would be itself again.
TEST_F(MailboxWalk, ACycleOfEmbeddedMessagesEnds) {
  engine_.options().RecoverUnattchedAttach = 1;
  SubnodeSpec looped = embedding(attachmentNid(2), messageNid(3), {subject(u"Again")});
  looped.subnodes.clear();
  looped.holdersTree = true;
  SubnodeSpec again{messageNid(3), pcBytes({subject(u"Again")}), {}, true};
  source_.pc(messageNid(1), {subject(u"Outer")}, {},
             {embedding(attachmentNid(1), messageNid(2), {subject(u"Inner")}, {looped, again})});
  EXPECT_EQ(writer_->recoverNode(messageNid(1), subtree()), 1);
  EXPECT_TRUE(logged("Recover embedded message 'Inner' ..."));
  std::size_t agains = 0;
  for (const auto& l : engine_.lines) agains += l == "Recover embedded message 'Again' ...";
  EXPECT_LE(agains, static_cast<std::size_t>(kMaxEmbeddingDepth));
  const ExportedMailbox out = exported();
  EXPECT_EQ(out.items.count("Message|Outer"), 1u);
}

}  // namespace
}  // namespace vexl::testing
