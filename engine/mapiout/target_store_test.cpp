// TargetStore over the MAPI layer: the start-up sequence (profile names,
// failures, clean-up) and a whole store written through it and read by the
// public [MS-PST] readers.
#include "engine/mapiout/target_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mapi/mapiutil.h"
#include "mapi/mapix.h"
#include "mapi/olestorage.h"
#include "mapi/pst/test_validators.h"
#include "mapi/store/test_mapi_support.h"

namespace vexl {
namespace {

using namespace mapi;
using pst::test::runCommand;

struct TempDir {
  std::string path = pst::test::makeTempDir("target-store");
  ~TempDir() { std::filesystem::remove_all(path); }
};

// Profiles made by a test itself, outside any TargetStore.
struct OwnProfiles {
  LPPROFADMIN admin = nullptr;
  std::vector<std::string> names;
  OwnProfiles() {
    MAPIInitialize(nullptr);
    MAPIAdminProfiles(0, &admin);
  }
  void add(std::string name) {
    ASSERT_EQ(admin->CreateProfile(name.data(), nullptr, 0, 0), S_OK);
    names.push_back(std::move(name));
  }
  bool exists(std::string name) {
    if (admin->CreateProfile(name.data(), nullptr, 0, 0) == E_ACCESSDENIED) return true;
    admin->DeleteProfile(name.data(), 0);
    return false;
  }
  ~OwnProfiles() {
    for (auto& n : names) admin->DeleteProfile(n.data(), 0);
    admin->Release();
    MAPIUninitialize();
  }
};

TEST(TargetStoreStartup, TakenProfileNamesAreSkippedAndCloseRemovesTheProfile) {
  TempDir dir;
  OwnProfiles own;
  own.add("PstLoadTmp000");
  own.add("PstLoadTmp001");
  auto store = makeMapiTargetStore();
  ASSERT_TRUE(store->initialize());
  ASSERT_TRUE(store->create(dir.path + "/a.pst", kPstNoEncryption, "Recovered Personal Folder", "", PstFormat::Ansi));
  EXPECT_EQ(currentTargetProfileName(), "PstLoadTmp002");
  EXPECT_TRUE(own.exists("PstLoadTmp002"));
  EXPECT_EQ(store->openedPath(), dir.path + "/a.pst");
  store->close();
  EXPECT_EQ(currentTargetProfileName(), "");
  EXPECT_FALSE(own.exists("PstLoadTmp002"));
  EXPECT_EQ(store->folder(kFolderIpmSubtree), nullptr);
  // The next split file gets a profile of its own.
  ASSERT_TRUE(store->create(dir.path + "/b.pst", kPstNoEncryption, "Recovered Personal Folder", "", PstFormat::Ansi));
  EXPECT_EQ(currentTargetProfileName(), "PstLoadTmp002");
  store->shutdown();
  EXPECT_FALSE(own.exists("PstLoadTmp002"));
}

TEST(TargetStoreStartup, AnExistingOutputFileIsReplaced) {
  TempDir dir;
  const std::string path = dir.path + "/out.pst";
  { std::ofstream(path) << "not a pst"; }
  auto store = makeMapiTargetStore();
  ASSERT_TRUE(store->initialize());
  ASSERT_TRUE(store->create(path, kPstNoEncryption, "Recovered Personal Folder", "", PstFormat::Unicode));
  store->shutdown();
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  in.read(magic, 4);
  EXPECT_EQ(std::string(magic, 4), "!BDN");
}

TEST(TargetStoreStartup, CreationFailureLeavesNoProfileBehind) {
  TempDir dir;
  OwnProfiles own;
  auto store = makeMapiTargetStore();
  ASSERT_TRUE(store->initialize());
  // A directory that does not exist: ConfigureMsgService cannot make the file.
  EXPECT_FALSE(store->create(dir.path + "/missing/out.pst", kPstNoEncryption, "R", "", PstFormat::Unicode));
  EXPECT_EQ(currentTargetProfileName(), "");
  EXPECT_FALSE(own.exists("PstLoadTmp000"));
  EXPECT_EQ(store->folder(kFolderIpmSubtree), nullptr);
  // The store is usable again.
  EXPECT_TRUE(store->create(dir.path + "/out.pst", kPstNoEncryption, "R", "", PstFormat::Unicode));
  store->shutdown();
}

TEST(TargetStoreStartup, SecondStoreInTheProcessCannotCreateWhileOneIsOpen) {
  TempDir dir;
  auto first = makeMapiTargetStore();
  auto second = makeMapiTargetStore();
  ASSERT_TRUE(first->initialize());
  ASSERT_TRUE(second->initialize());
  ASSERT_TRUE(first->create(dir.path + "/1.pst", kPstNoEncryption, "R", "", PstFormat::Unicode));
  EXPECT_FALSE(second->create(dir.path + "/2.pst", kPstNoEncryption, "R", "", PstFormat::Unicode));
  // The failed store did not take the first one's profile down.
  EXPECT_EQ(currentTargetProfileName(), "PstLoadTmp000");
  second->shutdown();
  EXPECT_EQ(currentTargetProfileName(), "PstLoadTmp000");
  first->shutdown();
  EXPECT_EQ(mapiLiveBlockCount(), 0u);
}

TEST(TargetStoreFolders, StandardFoldersAndGroupFolders) {
  TempDir dir;
  auto store = makeMapiTargetStore();
  ASSERT_TRUE(store->initialize());
  ASSERT_TRUE(store->create(dir.path + "/f.pst", kPstNoEncryption, "Recovered Personal Folder", "", PstFormat::Unicode));
  for (std::uint32_t key : {kFolderIpmSubtree, kFolderInbox, kFolderOutbox, kFolderDeletedItems, kFolderSentItems,
                            kFolderViews, kFolderCommonViews, kFolderFinder})
    EXPECT_NE(store->folder(key), nullptr) << std::hex << key;
  EXPECT_EQ(store->inboxName(), "Inbox");
  EXPECT_EQ(mapiStringProp(store->folder(kFolderDeletedItems), 0x3001), "Deleted Items");
  EXPECT_EQ(mapiStringProp(store->folder(kFolderDeletedItems), 0x3613), "IPF.Note");
  EXPECT_EQ(mapiStringProp(store->folder(kFolderDeletedItems), 0x3004), "");
  IMAPIFolder* g1 = store->openGroupFolder();
  IMAPIFolder* g2 = store->openGroupFolder();
  ASSERT_NE(g1, nullptr);
  ASSERT_NE(g2, nullptr);
  const std::string n1 = mapiStringProp(g1, 0x3001), n2 = mapiStringProp(g2, 0x3001);
  ASSERT_EQ(n1.rfind("Recovered_Group", 0), 0u);
  EXPECT_EQ(std::stoul(n2.substr(15)), std::stoul(n1.substr(15)) + 1);
  EXPECT_TRUE(store->deleteFolder(g1, store->folder(kFolderIpmSubtree)));
  EXPECT_FALSE(store->deleteFolder(g2, store->folder(kFolderInbox)));  // not its parent
  EXPECT_FALSE(store->deleteFolder(nullptr, store->folder(kFolderIpmSubtree)));
  g1->Release();
  g2->Release();
  store->shutdown();
}

// ---------------------------------------------------------- end to end

HRESULT setProps(IMAPIProp* obj, std::vector<SPropValue> props) {
  LPSPropProblemArray problems = nullptr;
  const HRESULT hr = obj->SetProps(static_cast<ULONG>(props.size()), props.data(), &problems);
  const bool clean = problems == nullptr;
  MAPIFreeBuffer(problems);
  return SUCCEEDED(hr) && !clean ? MAPI_W_ERRORS_RETURNED : hr;
}

void addRecipients(IMessage* m, const std::vector<std::pair<const char*, const char*>>& people, LONG type) {
  void* p = nullptr;
  ASSERT_EQ(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(people.size())), &p), S_OK);
  auto* list = static_cast<LPADRLIST>(p);
  list->cEntries = static_cast<ULONG>(people.size());
  for (std::size_t i = 0; i < people.size(); ++i) {
    void* v = nullptr;
    ASSERT_EQ(MAPIAllocateBuffer(5 * sizeof(SPropValue), &v), S_OK);
    auto* props = static_cast<LPSPropValue>(v);
    props[0] = test::stringProp(PR_DISPLAY_NAME, people[i].first);
    props[1] = test::stringProp(PR_EMAIL_ADDRESS, people[i].second);
    props[2] = test::stringProp(PR_ADDRTYPE, "SMTP");
    props[3] = test::longProp(PR_RECIPIENT_TYPE, type);
    props[4].ulPropTag = PROP_TAG(PT_ERROR, 0x3000);  // PR_ROWID for the store to assign
    props[4].Value.err = MAPI_E_NOT_FOUND;
    list->aEntries[i] = ADRENTRY{0, 5, props};
  }
  EXPECT_EQ(m->ModifyRecipients(MODRECIP_ADD, list), S_OK);
  FreePadrlist(list);
}

struct Written {
  std::string path;
  std::uint16_t namedId = 0;
};

Written writeMailbox(const std::string& dir, PstFormat format) {
  Written w;
  w.path = dir + (format == PstFormat::Unicode ? "/mail-unicode.pst" : "/mail-ansi.pst");
  auto store = makeMapiTargetStore();
  EXPECT_TRUE(store->initialize());
  EXPECT_TRUE(store->create(w.path, kPstNoEncryption, "Recovered Personal Folder", "", format));
  IMsgStore* mdb = store->store();
  SPropValue storeName = test::stringProp(PR_DISPLAY_NAME, "Recovered Personal Folder");
  EXPECT_EQ(setProps(mdb, {storeName}), S_OK);
  EXPECT_EQ(mdb->SaveChanges(KEEP_OPEN_READWRITE | MAPI_DEFERRED_ERRORS), S_OK);

  // A named property, registered as the engine registers them.
  GUID common{0x00062008, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  MAPINAMEID name{&common, MNID_ID, {}};
  name.Kind.lID = 0x8554;  // PidLidAgingDontAgeMe-like numeric name
  LPMAPINAMEID names[] = {&name};
  LPSPropTagArray tags = nullptr;
  EXPECT_EQ(mdb->GetIDsFromNames(1, names, MAPI_CREATE, &tags), S_OK);
  w.namedId = static_cast<std::uint16_t>(PROP_ID(tags->aulPropTag[0]));
  MAPIFreeBuffer(tags);

  IMAPIFolder* inbox = store->folder(kFolderInbox);
  LPMAPIFOLDER projects = nullptr;
  char folderName[] = "Recovered_Folder1";
  EXPECT_EQ(inbox->CreateFolder(FOLDER_GENERIC, folderName, nullptr, nullptr, OPEN_IF_EXISTS | MAPI_DEFERRED_ERRORS,
                                &projects),
            S_OK);
  // The copied name replaces the placeholder.
  EXPECT_EQ(setProps(projects, {test::stringProp(PR_DISPLAY_NAME, "Projects"),
                                test::stringProp(PR_CONTAINER_CLASS, "IPF.Note")}),
            S_OK);
  EXPECT_EQ(projects->SaveChanges(KEEP_OPEN_READWRITE | MAPI_DEFERRED_ERRORS), S_OK);

  LPMESSAGE m = nullptr;
  EXPECT_EQ(projects->CreateMessage(nullptr, MAPI_DEFERRED_ERRORS, &m), S_OK);
  SPropValue flags = test::longProp(PR_MESSAGE_FLAGS, 0);  // unread
  SPropValue named = test::longProp(PROP_TAG(PT_LONG, w.namedId), 4242);
  EXPECT_EQ(setProps(m, {test::stringProp(PR_MESSAGE_CLASS, "IPM.Note"), test::stringProp(PR_SUBJECT, "Budget 2026"),
                         test::stringProp(PR_BODY, "Dear team,\r\nthe budget is attached.\r\n"),
                         test::stringProp(PR_SENDER_NAME, "Alice Example"), flags, named}),
            S_OK);
  EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE | MAPI_DEFERRED_ERRORS), S_OK);
  addRecipients(m, {{"Bob Example", "bob@example.com"}, {"Carol Example", "carol@example.com"}}, MAPI_TO);
  addRecipients(m, {{"Dave Example", "dave@example.com"}}, MAPI_CC);

  // A file attachment.
  LPATTACH a = nullptr;
  ULONG num = 0;
  EXPECT_EQ(m->CreateAttach(nullptr, MAPI_DEFERRED_ERRORS, &num, &a), S_OK);
  std::vector<BYTE> data(9000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>('a' + i % 26);
  EXPECT_EQ(setProps(a, {test::longProp(PR_ATTACH_METHOD, ATTACH_BY_VALUE),
                         test::stringProp(PR_ATTACH_FILENAME, "budget.txt"),
                         test::stringProp(PR_ATTACH_LONG_FILENAME, "budget.txt"), test::binaryProp(PR_ATTACH_DATA_BIN, data)}),
            S_OK);
  EXPECT_EQ(a->SaveChanges(MAPI_DEFERRED_ERRORS), S_OK);
  a->Release();

  // An embedded message.
  EXPECT_EQ(m->CreateAttach(nullptr, MAPI_DEFERRED_ERRORS, &num, &a), S_OK);
  EXPECT_EQ(setProps(a, {test::longProp(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG),
                         test::stringProp(PR_DISPLAY_NAME, "Forwarded note")}),
            S_OK);
  LPUNKNOWN unk = nullptr;
  EXPECT_EQ(a->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_MODIFY | MAPI_CREATE | MAPI_DEFERRED_ERRORS, &unk),
            S_OK);
  auto* inner = static_cast<LPMESSAGE>(unk);
  EXPECT_EQ(setProps(inner, {test::stringProp(PR_MESSAGE_CLASS, "IPM.Note"),
                             test::stringProp(PR_SUBJECT, "Original note inside"),
                             test::stringProp(PR_BODY, "The embedded body.")}),
            S_OK);
  EXPECT_EQ(inner->SaveChanges(KEEP_OPEN_READWRITE | MAPI_DEFERRED_ERRORS), S_OK);
  addRecipients(inner, {{"Erin Example", "erin@example.com"}}, MAPI_TO);
  EXPECT_EQ(inner->SaveChanges(MAPI_DEFERRED_ERRORS), S_OK);
  inner->Release();
  EXPECT_EQ(a->SaveChanges(MAPI_DEFERRED_ERRORS), S_OK);
  a->Release();
  // An OLE 2 object: the storage copied into the attachment.
  EXPECT_EQ(m->CreateAttach(nullptr, MAPI_DEFERRED_ERRORS, &num, &a), S_OK);
  EXPECT_EQ(setProps(a, {test::longProp(PR_ATTACH_METHOD, ATTACH_OLE), test::stringProp(PR_DISPLAY_NAME, "Picture")}),
            S_OK);
  EXPECT_EQ(a->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, MAPI_MODIFY | MAPI_CREATE | MAPI_DEFERRED_ERRORS, &unk),
            S_OK);
  auto* stg = static_cast<IStorage*>(unk);
  IStream* contents = nullptr;
  EXPECT_EQ(stg->CreateStream(u"CONTENTS", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &contents), S_OK);
  EXPECT_EQ(contents->Write("OLE-PAYLOAD-BYTES", 17, nullptr), S_OK);
  contents->Release();
  EXPECT_EQ(stg->Commit(STGC_DEFAULT), S_OK);
  stg->Release();
  EXPECT_EQ(a->SaveChanges(MAPI_DEFERRED_ERRORS), S_OK);
  a->Release();
  EXPECT_EQ(m->SaveChanges(MAPI_DEFERRED_ERRORS), S_OK);
  m->Release();

  // A second message in the Inbox, and an empty folder deleted again.
  EXPECT_EQ(inbox->CreateMessage(nullptr, MAPI_DEFERRED_ERRORS, &m), S_OK);
  EXPECT_EQ(setProps(m, {test::stringProp(PR_SUBJECT, "Lunch on Friday"), test::longProp(PR_MESSAGE_FLAGS, 1)}), S_OK);
  EXPECT_EQ(m->SaveChanges(MAPI_DEFERRED_ERRORS), S_OK);
  m->Release();
  IMAPIFolder* group = store->openGroupFolder();
  EXPECT_NE(group, nullptr);
  EXPECT_TRUE(store->deleteFolder(group, store->folder(kFolderIpmSubtree)));
  group->Release();

  EXPECT_EQ(test::getProp(projects, PR_CONTENT_COUNT).l, 1);
  EXPECT_EQ(test::getProp(projects, PR_CONTENT_UNREAD).l, 1);
  EXPECT_EQ(test::getProp(inbox, PR_SUBFOLDERS).l, 1);
  EXPECT_EQ(test::getProp(inbox, PR_CONTENT_UNREAD).l, 0);
  projects->Release();
  store->shutdown();
  return w;
}

class EndToEnd : public ::testing::TestWithParam<PstFormat> {};

TEST_P(EndToEnd, ValidatorsFindEveryItemWithItsValues) {
  TempDir dir;
  const Written w = writeMailbox(dir.path, GetParam());
  EXPECT_EQ(mapiLiveBlockCount(), 0u);
  const bool unicode = GetParam() == PstFormat::Unicode;
  if (pst::test::haveTool("pffinfo")) {
    const auto info = runCommand("pffinfo '" + w.path + "'");
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find(unicode ? "64-bit" : "32-bit"), std::string::npos) << info.output;
  }
  if (pst::test::haveTool("pffexport")) {
    const std::string target = dir.path + "/export";
    const auto exp = runCommand("pffexport -m all -t '" + target + "' '" + w.path + "'");
    EXPECT_EQ(exp.status, 0) << exp.output;
    EXPECT_EQ(pst::test::pffexportProblems(w.path), "");
    const std::string tree = pst::test::listTree(target + ".export");
    EXPECT_NE(tree.find("Inbox/Projects/Message00001"), std::string::npos) << tree;
    EXPECT_EQ(tree.find("Recovered_Group"), std::string::npos) << tree;
    EXPECT_EQ(tree.find("Recovered_Folder1"), std::string::npos) << tree;
    EXPECT_NE(tree.find("budget.txt"), std::string::npos) << tree;
    auto grep = [&](const std::string& text) {
      return runCommand("grep -rl '" + text + "' '" + target + ".export'").status == 0;
    };
    EXPECT_TRUE(grep("Budget 2026")) << tree;
    EXPECT_TRUE(grep("the budget is attached")) << tree;
    EXPECT_TRUE(grep("Bob Example")) << tree;
    EXPECT_TRUE(grep("dave@example.com")) << tree;
    EXPECT_TRUE(grep("Original note inside")) << tree;
    EXPECT_TRUE(grep("Lunch on Friday")) << tree;
    EXPECT_TRUE(grep("abcdefghijklmnopqrstuvwxyzabc")) << tree;
    EXPECT_TRUE(grep("OLE-PAYLOAD-BYTES")) << tree;
  }
  if (pst::test::haveTool("readpst")) {
    const std::string out = dir.path + "/readpst";
    std::filesystem::create_directories(out);
    const auto rp = runCommand("readpst -D -o '" + out + "' '" + w.path + "'");
    EXPECT_EQ(rp.status, 0) << rp.output;
    EXPECT_EQ(runCommand("grep -r 'Subject: Budget 2026' '" + out + "'").status, 0) << rp.output;
    EXPECT_EQ(runCommand("grep -r 'Subject: Lunch on Friday' '" + out + "'").status, 0) << rp.output;
    EXPECT_EQ(runCommand("grep -r 'Original note inside' '" + out + "'").status, 0) << rp.output;
    EXPECT_EQ(runCommand("grep -rl 'budget.txt' '" + out + "'").status, 0) << rp.output;
  }
  if (pst::test::haveTool("lspst")) {
    const auto ls = runCommand("lspst '" + w.path + "'");
    EXPECT_EQ(ls.status, 0) << ls.output;
    EXPECT_NE(ls.output.find("Budget 2026"), std::string::npos) << ls.output;
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, EndToEnd, ::testing::Values(PstFormat::Unicode, PstFormat::Ansi),
                         [](const auto& info) { return info.param == PstFormat::Unicode ? "Unicode" : "Ansi"; });

}  // namespace
}  // namespace vexl
