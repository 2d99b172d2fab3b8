// The behaviours callers rely on, one per test: profiles, services, the
// store's folders, property problems, named properties, folder deletion,
// and the size limit of ANSI files.
#include <gtest/gtest.h>

#include "engine/core/code_page.h"

#include <filesystem>

#include "mapi/mapiutil.h"
#include "mapi/mapix.h"
#include "mapi/pst/test_pst_reader.h"
#include "mapi/pst/test_validators.h"
#include "mapi/store/store_context.h"
#include "mapi/store/test_mapi_support.h"

namespace vexl::mapi {
namespace {

using test::getProp;

// A profile with a configured PST service, a session and its store.
class OpenStore : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(MAPIInitialize(nullptr), S_OK); }
  void TearDown() override {
    for (auto* f : folders_) f->Release();
    if (store_) store_->Release();
    if (session_) session_->Release();
    if (admin_) {
      admin_->DeleteProfile(const_cast<char*>(profile_.c_str()), 0);
      admin_->Release();
    }
    store::setFileSizeLimitForTesting(0);
    MAPIUninitialize();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
    EXPECT_EQ(mapiLiveBlockCount(), 0u);
  }

  void open(const char* service, ULONG writeFlags = MDB_WRITE) {
    dir_ = pst::test::makeTempDir("mapi-store");
    path_ = dir_ + "/out.pst";
    ASSERT_EQ(MAPIAdminProfiles(0, &admin_), S_OK);
    profile_ = "StoreTest" + std::to_string(++serial_);
    ASSERT_EQ(admin_->CreateProfile(const_cast<char*>(profile_.c_str()), nullptr, 0, 0), S_OK);
    LPSERVICEADMIN services = nullptr;
    ASSERT_EQ(admin_->AdminServices(const_cast<char*>(profile_.c_str()), nullptr, 0, 0, &services), S_OK);
    ASSERT_EQ(services->CreateMsgService(const_cast<char*>(service), nullptr, 0, 0), S_OK);
    LPMAPITABLE table = nullptr;
    ASSERT_EQ(services->GetMsgServiceTable(0, &table), S_OK);
    LPSRowSet rows = nullptr;
    ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    MAPIUID uid{};
    for (ULONG i = 0; i < rows->aRow[0].cValues; ++i)
      if (rows->aRow[0].lpProps[i].ulPropTag == PR_SERVICE_UID)
        std::copy_n(rows->aRow[0].lpProps[i].Value.bin.lpb, 16, uid.ab);
    FreeProws(rows);
    table->Release();
    SPropValue config[] = {test::stringProp(PR_PST_PATH, path_.c_str()),
                           test::stringProp(PR_DISPLAY_NAME, "Test Folders"),
                           test::longProp(PR_PST_ENCRYPTION, static_cast<LONG>(PSTF_NO_ENCRYPTION))};
    ASSERT_EQ(services->ConfigureMsgService(&uid, 0, 0, 3, config), S_OK);
    services->Release();
    ASSERT_TRUE(std::filesystem::exists(path_));
    ASSERT_EQ(MAPILogonEx(0, const_cast<char*>(profile_.c_str()), nullptr, MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE,
                          &session_),
              S_OK);
    ASSERT_EQ(session_->GetMsgStoresTable(0, &table), S_OK);
    ASSERT_EQ(table->QueryRows(10, 0, &rows), S_OK);
    ASSERT_EQ(rows->cRows, 1u);
    SBinary eid{};
    for (ULONG i = 0; i < rows->aRow[0].cValues; ++i)
      if (rows->aRow[0].lpProps[i].ulPropTag == PR_ENTRYID) eid = rows->aRow[0].lpProps[i].Value.bin;
    ASSERT_EQ(session_->OpenMsgStore(0, eid.cb, reinterpret_cast<LPENTRYID>(eid.lpb), nullptr, writeFlags, &store_),
              S_OK);
    FreeProws(rows);
    table->Release();
  }

  LPMAPIFOLDER openFolder(const std::vector<BYTE>& eid) {
    ULONG type = 0;
    LPUNKNOWN unk = nullptr;
    if (FAILED(store_->OpenEntry(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(const_cast<BYTE*>(eid.data())),
                                 &IID_IMAPIFolder, MAPI_MODIFY, &type, &unk)))
      return nullptr;
    folders_.push_back(static_cast<LPMAPIFOLDER>(unk));
    return folders_.back();
  }
  LPMAPIFOLDER ipmSubtree() { return openFolder(getProp(store_, PR_IPM_SUBTREE_ENTRYID).bin); }
  LPMAPIFOLDER createFolder(LPMAPIFOLDER parent, const char* name, ULONG flags = 0) {
    LPMAPIFOLDER f = nullptr;
    if (FAILED(parent->CreateFolder(FOLDER_GENERIC, const_cast<char*>(name), nullptr, nullptr, flags, &f))) return nullptr;
    folders_.push_back(f);
    return f;
  }
  HRESULT addMessage(LPMAPIFOLDER folder, const char* subject) {
    LPMESSAGE m = nullptr;
    if (HRESULT hr = folder->CreateMessage(nullptr, MAPI_DEFERRED_ERRORS, &m); FAILED(hr)) return hr;
    SPropValue p = test::stringProp(PR_SUBJECT, subject);
    m->SetProps(1, &p, nullptr);
    const HRESULT hr = m->SaveChanges(KEEP_OPEN_READWRITE);
    m->Release();
    return hr;
  }

  static inline int serial_ = 0;
  std::string dir_, path_, profile_;
  LPPROFADMIN admin_ = nullptr;
  LPMAPISESSION session_ = nullptr;
  LPMDB store_ = nullptr;
  std::vector<LPMAPIFOLDER> folders_;
};

TEST_F(OpenStore, ProfileNamesAreTakenUntilDeleted) {
  ASSERT_EQ(MAPIAdminProfiles(0, &admin_), S_OK);
  char name[] = "PstLoadTmp000";
  ASSERT_EQ(admin_->CreateProfile(name, nullptr, 0, 0), S_OK);
  char sameOtherCase[] = "PSTLOADTMP000";
  EXPECT_EQ(admin_->CreateProfile(sameOtherCase, nullptr, 0, 0), E_ACCESSDENIED);
  EXPECT_EQ(admin_->DeleteProfile(name, 0), S_OK);
  EXPECT_EQ(admin_->DeleteProfile(name, 0), MAPI_E_NOT_FOUND);
  LPMAPISESSION s = nullptr;
  EXPECT_EQ(MAPILogonEx(0, name, nullptr, MAPI_EXTENDED | MAPI_EXPLICIT_PROFILE, &s), MAPI_E_LOGON_FAILED);
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(admin_->CreateProfile(name, nullptr, 0, 0), S_OK);
  profile_ = name;
}

TEST_F(OpenStore, OnlyThePstServicesExistAndConfiguringNeedsAPath) {
  ASSERT_EQ(MAPIAdminProfiles(0, &admin_), S_OK);
  profile_ = "ServiceTest";
  ASSERT_EQ(admin_->CreateProfile(const_cast<char*>(profile_.c_str()), nullptr, 0, 0), S_OK);
  LPSERVICEADMIN services = nullptr;
  ASSERT_EQ(admin_->AdminServices(const_cast<char*>(profile_.c_str()), nullptr, 0, 0, &services), S_OK);
  char bogus[] = "MSEMS";
  EXPECT_EQ(services->CreateMsgService(bogus, nullptr, 0, 0), MAPI_E_NOT_FOUND);
  char ansi[] = "MSPST MS";
  ASSERT_EQ(services->CreateMsgService(ansi, nullptr, 0, 0), S_OK);
  LPMAPITABLE table = nullptr;
  ASSERT_EQ(services->GetMsgServiceTable(0, &table), S_OK);
  LPSRowSet rows = nullptr;
  ASSERT_EQ(table->QueryRows(1, 0, &rows), S_OK);
  MAPIUID uid{};
  bool found = false;
  for (ULONG i = 0; i < rows->aRow[0].cValues; ++i)
    if (rows->aRow[0].lpProps[i].ulPropTag == PR_SERVICE_UID && rows->aRow[0].lpProps[i].Value.bin.cb == 16) {
      std::copy_n(rows->aRow[0].lpProps[i].Value.bin.lpb, 16, uid.ab);
      found = true;
    }
  EXPECT_TRUE(found);
  FreeProws(rows);
  table->Release();
  SPropValue name = test::stringProp(PR_DISPLAY_NAME, "x");
  EXPECT_EQ(services->ConfigureMsgService(&uid, 0, 0, 1, &name), MAPI_E_UNCONFIGURED);
  SPropValue badPath = test::stringProp(PR_PST_PATH, "/nonexistent-dir/x.pst");
  EXPECT_TRUE(FAILED(services->ConfigureMsgService(&uid, 0, 0, 1, &badPath)));
  // Logging on to a profile without a store gives an empty stores table.
  LPMAPISESSION s = nullptr;
  ASSERT_EQ(MAPILogonEx(0, const_cast<char*>(profile_.c_str()), nullptr, MAPI_EXTENDED, &s), S_OK);
  ASSERT_EQ(s->GetMsgStoresTable(0, &table), S_OK);
  ULONG count = 9;
  EXPECT_EQ(table->GetRowCount(0, &count), S_OK);
  EXPECT_EQ(count, 0u);
  table->Release();
  s->Release();
  services->Release();
}

TEST_F(OpenStore, ValidateIpmSubtreeCreatesTheStandardFoldersOnce) {
  open("MSUPST MS");
  ULONG n = 0;
  LPSPropValue v = nullptr;
  ASSERT_EQ(HrValidateIPMSubtree(store_, MAPI_FORCE_CREATE | MAPI_FULL_IPM_TREE, &n, &v, nullptr), S_OK);
  ASSERT_EQ(n, 9u);
  EXPECT_EQ(v[0].ulPropTag, PR_VALID_FOLDER_MASK);
  EXPECT_EQ(v[0].Value.ul, 0xFFu);
  std::vector<std::vector<BYTE>> first;
  for (ULONG i = 1; i < n; ++i) {
    std::vector<BYTE> eid(v[i].Value.bin.lpb, v[i].Value.bin.lpb + v[i].Value.bin.cb);
    LPMAPIFOLDER f = openFolder(eid);
    ASSERT_NE(f, nullptr) << std::hex << v[i].ulPropTag;
    first.push_back(eid);
    if (v[i].ulPropTag == PROP_TAG(PT_BINARY, 0)) {
      EXPECT_EQ(getProp(f, PR_DISPLAY_NAME).text, "Inbox");
    }
  }
  MAPIFreeBuffer(v);
  // A second call finds the same folders rather than new ones.
  ASSERT_EQ(HrValidateIPMSubtree(store_, MAPI_FORCE_CREATE | MAPI_FULL_IPM_TREE, &n, &v, nullptr), S_OK);
  for (ULONG i = 1; i < n; ++i)
    EXPECT_EQ(std::vector<BYTE>(v[i].Value.bin.lpb, v[i].Value.bin.lpb + v[i].Value.bin.cb), first[i - 1]);
  MAPIFreeBuffer(v);
  EXPECT_EQ(HrValidateIPMSubtree(nullptr, 0, &n, &v, nullptr), MAPI_E_INVALID_PARAMETER);
}

TEST_F(OpenStore, SetPropsReportsRefusedValuesAndKeepsTheRest) {
  open("MSUPST MS");
  LPMAPIFOLDER top = ipmSubtree();
  LPMESSAGE m = nullptr;
  ASSERT_EQ(top->CreateMessage(nullptr, MAPI_DEFERRED_ERRORS, &m), S_OK);
  SPropValue obj{};
  obj.ulPropTag = PR_ATTACH_DATA_OBJ;
  std::vector<BYTE> fake(24, 1);
  SPropValue props[] = {test::stringProp(PR_SUBJECT, "Hello"), obj, test::binaryProp(PR_ENTRYID, fake),
                        test::longProp(PR_IMPORTANCE, 2)};
  LPSPropProblemArray problems = nullptr;
  ASSERT_EQ(m->SetProps(4, props, &problems), S_OK);
  ASSERT_NE(problems, nullptr);
  ASSERT_EQ(problems->cProblem, 2u);
  EXPECT_EQ(problems->aProblem[0].ulIndex, 1u);
  EXPECT_EQ(problems->aProblem[0].scode, MAPI_E_INVALID_TYPE);
  EXPECT_EQ(problems->aProblem[1].ulIndex, 2u);
  EXPECT_EQ(problems->aProblem[1].scode, MAPI_E_COMPUTED);
  MAPIFreeBuffer(problems);
  // Without a problem array the call still succeeds.
  EXPECT_EQ(m->SetProps(4, props, nullptr), S_OK);
  // An 8-bit subject in a Unicode store reads back in either width.
  EXPECT_EQ(getProp(m, PR_SUBJECT_A).text, "Hello");
  EXPECT_EQ(getProp(m, PR_SUBJECT_W).tag, PR_SUBJECT_W);
  EXPECT_EQ(getProp(m, PR_IMPORTANCE).l, 2);
  EXPECT_EQ(PROP_TYPE(getProp(m, PR_BODY).tag), PT_ERROR);
  EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  // Still writable after a save that kept it open.
  SPropValue body = test::stringProp(PR_BODY, "text");
  EXPECT_EQ(m->SetProps(1, &body, nullptr), S_OK);
  EXPECT_EQ(m->SaveChanges(0), S_OK);
  m->Release();
  EXPECT_EQ(getProp(top, PR_CONTENT_COUNT).l, 1);
}

TEST_F(OpenStore, NamedPropertiesGetOneIdPerNameAndTheMapGrows) {
  open("MSPST MS");
  GUID set{0x00062008, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  MAPINAMEID byId{&set, MNID_ID, {}};
  byId.Kind.lID = 0x8580;
  char16_t text[] = u"x-custom-header";
  MAPINAMEID byName{const_cast<GUID*>(&PS_PUBLIC_STRINGS), MNID_STRING, {}};
  byName.Kind.lpwstrName = text;
  LPMAPINAMEID names[] = {&byId, &byName, &byId};
  LPSPropTagArray tags = nullptr;
  // Unknown names without MAPI_CREATE give error tags.
  ASSERT_EQ(store_->GetIDsFromNames(2, names, 0, &tags), MAPI_W_ERRORS_RETURNED);
  EXPECT_EQ(PROP_TYPE(tags->aulPropTag[0]), PT_ERROR);
  MAPIFreeBuffer(tags);
  ASSERT_EQ(store_->GetIDsFromNames(3, names, MAPI_CREATE, &tags), S_OK);
  ASSERT_EQ(tags->cValues, 3u);
  EXPECT_GE(PROP_ID(tags->aulPropTag[0]), 0x8000u);
  EXPECT_NE(tags->aulPropTag[0], tags->aulPropTag[1]);
  EXPECT_EQ(tags->aulPropTag[0], tags->aulPropTag[2]);
  const ULONG first = tags->aulPropTag[0];
  MAPIFreeBuffer(tags);
  // The same name asked again, through a folder this time, keeps its id.
  LPMAPIFOLDER top = ipmSubtree();
  ASSERT_EQ(top->GetIDsFromNames(1, names, 0, &tags), S_OK);
  EXPECT_EQ(tags->aulPropTag[0], first);
  MAPIFreeBuffer(tags);
  EXPECT_EQ(store_->GetIDsFromNames(0, nullptr, MAPI_CREATE, &tags), MAPI_E_NO_SUPPORT);
}

TEST_F(OpenStore, CreateFolderOpensAnExistingFolderOnlyWhenAsked) {
  open("MSUPST MS");
  LPMAPIFOLDER top = ipmSubtree();
  LPMAPIFOLDER a = createFolder(top, "Projects");
  ASSERT_NE(a, nullptr);
  LPMAPIFOLDER dup = nullptr;
  char again[] = "projects";
  EXPECT_EQ(top->CreateFolder(FOLDER_GENERIC, again, nullptr, nullptr, 0, &dup), MAPI_E_COLLISION);
  LPMAPIFOLDER b = createFolder(top, "projects", OPEN_IF_EXISTS | MAPI_DEFERRED_ERRORS);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(getProp(a, PR_ENTRYID).bin, getProp(b, PR_ENTRYID).bin);
  EXPECT_EQ(getProp(top, PR_SUBFOLDERS).l, 1);
  // A Unicode name with MAPI_UNICODE.
  char16_t wide[] = u"Caf\u00e9";
  LPMAPIFOLDER c = nullptr;
  ASSERT_EQ(top->CreateFolder(FOLDER_GENERIC, reinterpret_cast<char*>(wide), nullptr, nullptr, MAPI_UNICODE, &c), S_OK);
  folders_.push_back(c);
  EXPECT_EQ(getProp(c, PR_DISPLAY_NAME_W, MAPI_UNICODE).tag, PR_DISPLAY_NAME_W);
}

TEST_F(OpenStore, DeleteFolderRemovesOnlyEmptyFolders) {
  open("MSUPST MS");
  LPMAPIFOLDER top = ipmSubtree();
  LPMAPIFOLDER withMail = createFolder(top, "Mail");
  LPMAPIFOLDER withChild = createFolder(top, "Parent");
  createFolder(withChild, "Child");
  LPMAPIFOLDER empty = createFolder(top, "Empty");
  ASSERT_EQ(addMessage(withMail, "kept"), S_OK);
  auto del = [top](LPMAPIFOLDER f) {
    auto eid = getProp(f, PR_ENTRYID).bin;
    return top->DeleteFolder(static_cast<ULONG>(eid.size()), reinterpret_cast<LPENTRYID>(eid.data()), 0, nullptr, 0);
  };
  EXPECT_EQ(del(withMail), MAPI_E_HAS_MESSAGES);
  EXPECT_EQ(del(withChild), MAPI_E_HAS_FOLDERS);
  auto emptyId = getProp(empty, PR_ENTRYID).bin;
  EXPECT_EQ(del(empty), S_OK);
  EXPECT_EQ(top->DeleteFolder(static_cast<ULONG>(emptyId.size()), reinterpret_cast<LPENTRYID>(emptyId.data()), 0,
                              nullptr, 0),
            MAPI_E_NOT_FOUND);
  EXPECT_EQ(PROP_TYPE(getProp(empty, PR_ENTRYID).tag), 0u);  // the object refuses GetProps
  // The standard folders cannot go.
  LPMAPIFOLDER deleted = openFolder(getProp(store_, PR_IPM_WASTEBASKET_ENTRYID).bin);
  EXPECT_EQ(del(deleted), MAPI_E_NO_ACCESS);
  // A released-later object of a deleted folder refuses work instead of
  // writing into a folder that no longer exists.
  LPMESSAGE m = nullptr;
  EXPECT_EQ(empty->CreateMessage(nullptr, 0, &m), MAPI_E_OBJECT_DELETED);
  EXPECT_EQ(m, nullptr);
}

TEST_F(OpenStore, EmptyEntryIdOpensTheRootFolder) {
  open("MSUPST MS");
  ULONG type = 0;
  LPUNKNOWN unk = nullptr;
  ASSERT_EQ(store_->OpenEntry(0, nullptr, &IID_IMAPIFolder, MAPI_BEST_ACCESS | MAPI_DEFERRED_ERRORS | MAPI_MODIFY,
                              &type, &unk),
            S_OK);
  folders_.push_back(static_cast<LPMAPIFOLDER>(unk));
  EXPECT_EQ(type, MAPI_FOLDER);
  EXPECT_EQ(getProp(folders_.back(), PR_FOLDER_TYPE).l, static_cast<LONG>(FOLDER_ROOT));
  std::vector<BYTE> wrong(24, 0);
  EXPECT_EQ(store_->OpenEntry(24, reinterpret_cast<LPENTRYID>(wrong.data()), nullptr, 0, &type, &unk),
            MAPI_E_INVALID_ENTRYID);
}

TEST_F(OpenStore, ModifyRecipientsAddAppendsAndAssignsRowIds) {
  open("MSPST MS");
  LPMAPIFOLDER top = ipmSubtree();
  LPMESSAGE m = nullptr;
  ASSERT_EQ(top->CreateMessage(nullptr, 0, &m), S_OK);
  auto add = [m](const char* who, LONG rowId) {
    void* p = nullptr;
    MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(1)), &p);
    auto* list = static_cast<LPADRLIST>(p);
    void* v = nullptr;
    MAPIAllocateBuffer(3 * sizeof(SPropValue), &v);
    auto* props = static_cast<LPSPropValue>(v);
    props[0] = test::stringProp(PR_DISPLAY_NAME, who);
    props[1] = test::longProp(PR_RECIPIENT_TYPE, MAPI_TO);
    props[2] = test::longProp(PR_ROWID, rowId);  // ignored: the message numbers its rows
    list->cEntries = 1;
    list->aEntries[0] = ADRENTRY{0, 3, props};
    const HRESULT hr = m->ModifyRecipients(MODRECIP_ADD, list);
    FreePadrlist(list);
    return hr;
  };
  EXPECT_EQ(add("One", 7), S_OK);
  EXPECT_EQ(add("Two", 7), S_OK);
  LPMAPITABLE table = nullptr;
  ASSERT_EQ(m->GetRecipientTable(0, &table), S_OK);
  SizedSPropTagArray<2> cols{2, {PR_ROWID, PR_DISPLAY_NAME}};
  ASSERT_EQ(table->SetColumns(cols.get(), 0), S_OK);
  LPSRowSet rows = nullptr;
  ASSERT_EQ(table->QueryRows(10, 0, &rows), S_OK);
  ASSERT_EQ(rows->cRows, 2u);
  EXPECT_EQ(rows->aRow[0].lpProps[0].Value.l, 0);
  EXPECT_EQ(rows->aRow[1].lpProps[0].Value.l, 1);
  EXPECT_STREQ(rows->aRow[1].lpProps[1].Value.lpszA, "Two");
  FreeProws(rows);
  table->Release();
  ASSERT_EQ(m->SaveChanges(0), S_OK);
  m->Release();
}

TEST_F(OpenStore, ReadOnlyStoreRefusesWrites) {
  open("MSUPST MS", 0);
  LPMAPIFOLDER top = ipmSubtree();
  LPMAPIFOLDER f = nullptr;
  char name[] = "X";
  EXPECT_EQ(top->CreateFolder(FOLDER_GENERIC, name, nullptr, nullptr, 0, &f), MAPI_E_NO_ACCESS);
  SPropValue p = test::stringProp(PR_DISPLAY_NAME, "renamed");
  EXPECT_EQ(store_->SetProps(1, &p, nullptr), MAPI_E_NO_ACCESS);
}

TEST_F(OpenStore, AnsiSaveThatWouldPassTheLimitIsRefusedAndTheFileStaysGood) {
  store::setFileSizeLimitForTesting(3u << 20);
  open("MSPST MS");
  LPMAPIFOLDER top = ipmSubtree();
  ASSERT_EQ(addMessage(top, "first"), S_OK);
  LPMESSAGE m = nullptr;
  ASSERT_EQ(top->CreateMessage(nullptr, 0, &m), S_OK);
  std::vector<BYTE> big(3u << 20, 0x5A);
  SPropValue p = test::binaryProp(PR_RTF_COMPRESSED, big);
  ASSERT_EQ(m->SetProps(1, &p, nullptr), S_OK);
  EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_NOT_ENOUGH_DISK);
  m->Release();
  EXPECT_EQ(getProp(top, PR_CONTENT_COUNT).l, 1);
  ULONG flags = LOGOFF_NO_WAIT;
  EXPECT_EQ(store_->StoreLogoff(&flags), S_OK);
  EXPECT_LT(std::filesystem::file_size(path_), 3u << 20);
  if (pst::test::haveTool("pffinfo")) {
    const auto info = pst::test::runCommand("pffinfo '" + path_ + "'");
    EXPECT_EQ(info.status, 0) << info.output;
  }
  // The refused save's blocks leave nothing a scan of free space takes for a
  // lost item.
  if (pst::test::haveTool("pffexport")) {
    EXPECT_EQ(pst::test::pffexportProblems(path_), "");
  }
}

// What a split does at the size limit: the message whose save was refused
// is deleted from its folder and the run goes on in a new file. Deleted are
// one saved once before its second save was refused (its first version is
// in the file) and one whose first save was refused (nothing of it is).
TEST_F(OpenStore, DeleteMessagesRemovesMessagesWhoseSaveWasRefused) {
  store::setFileSizeLimitForTesting(3u << 20);
  open("MSPST MS");
  LPMAPIFOLDER top = ipmSubtree();
  LPMAPIFOLDER other = createFolder(top, "Other");
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(addMessage(top, "first"), S_OK);
  std::vector<BYTE> big(3u << 20, 0x5A);
  auto refusedMessage = [&](bool savedOnce, std::vector<BYTE>& eid) {
    LPMESSAGE m = nullptr;
    ASSERT_EQ(top->CreateMessage(nullptr, 0, &m), S_OK);
    eid = getProp(m, PR_ENTRYID).bin;  // named before any save
    SPropValue p[] = {test::stringProp(PR_SUBJECT, "refused"), test::longProp(PR_MESSAGE_FLAGS, 0)};  // unread
    ASSERT_EQ(m->SetProps(2, p, nullptr), S_OK);
    if (savedOnce) {
      ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    }
    SPropValue rtf = test::binaryProp(PR_RTF_COMPRESSED, big);
    ASSERT_EQ(m->SetProps(1, &rtf, nullptr), S_OK);
    EXPECT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), MAPI_E_NOT_ENOUGH_DISK);
    m->Release();
  };
  std::vector<BYTE> once, never;
  refusedMessage(true, once);
  refusedMessage(false, never);
  ASSERT_EQ(once.size(), 24u);
  ASSERT_EQ(never.size(), 24u);
  EXPECT_EQ(getProp(top, PR_CONTENT_COUNT).l, 2);
  EXPECT_EQ(getProp(top, PR_CONTENT_UNREAD).l, 1);

  auto del = [](LPMAPIFOLDER folder, std::vector<std::vector<BYTE>> eids) {
    std::vector<SBinary> bins;
    for (auto& e : eids) bins.push_back(SBinary{static_cast<ULONG>(e.size()), e.data()});
    ENTRYLIST list{static_cast<ULONG>(bins.size()), bins.data()};
    return folder->DeleteMessages(&list, 0, nullptr, 0);
  };
  // Another folder's message is not this folder's to delete.
  EXPECT_EQ(del(other, {once}), MAPI_W_PARTIAL_COMPLETION);
  EXPECT_EQ(getProp(top, PR_CONTENT_COUNT).l, 2);
  EXPECT_EQ(del(top, {once, never}), S_OK);
  EXPECT_EQ(getProp(top, PR_CONTENT_COUNT).l, 1);
  EXPECT_EQ(getProp(top, PR_CONTENT_UNREAD).l, 0);
  EXPECT_EQ(del(top, {never}), MAPI_W_PARTIAL_COMPLETION);  // gone already
  EXPECT_EQ(del(top, {std::vector<BYTE>(24, 0)}), MAPI_W_PARTIAL_COMPLETION);
  EXPECT_EQ(top->DeleteMessages(nullptr, 0, nullptr, 0), MAPI_E_INVALID_PARAMETER);
  const std::vector<BYTE> folderEid = getProp(top, PR_ENTRYID).bin;
  ASSERT_EQ(folderEid.size(), 24u);
  // The split goes on in a new file; this one is closed with what it has.
  ULONG flags = LOGOFF_NO_WAIT;
  ASSERT_EQ(store_->StoreLogoff(&flags), S_OK);

  pst::test::PstReader r(path_);
  r.checkAllocationAndRefs();
  for (const auto& p : r.problems()) ADD_FAILURE() << p;
  auto nidOf = [](const std::vector<BYTE>& eid) {
    return static_cast<pst::Nid>(eid[20] | eid[21] << 8 | eid[22] << 16 | eid[23] << 24);
  };
  EXPECT_EQ(r.nodes().count(nidOf(once)), 0u);
  EXPECT_EQ(r.nodes().count(nidOf(never)), 0u);
  const pst::Nid folder = nidOf(folderEid);
  std::vector<std::string> problems;
  const auto contents = pst::test::readTc(r, r.nodes().at(pst::withType(folder, pst::NidType::ContentsTable)), problems);
  ASSERT_EQ(contents.rowIds.size(), 1u);
  EXPECT_EQ(r.nodes().at(contents.rowIds[0]).parent, folder);
  const auto props = pst::test::readPc(r, r.nodes().at(folder), problems);
  EXPECT_EQ(props.at(PR_CONTENT_COUNT), pst::value::int32(1));
  EXPECT_EQ(props.at(PR_CONTENT_UNREAD), pst::value::int32(0));
  for (const auto& p : problems) ADD_FAILURE() << p;
  if (pst::test::haveTool("pffinfo")) {
    const auto info = pst::test::runCommand("pffinfo '" + path_ + "'");
    EXPECT_EQ(info.status, 0) << info.output;
  }
  if (pst::test::haveTool("pffexport")) {
    EXPECT_EQ(pst::test::pffexportProblems(path_), "");
  }
}

}  // namespace
}  // namespace vexl::mapi

namespace vexl::mapi {
namespace {

// Reads a string property as it is stored: UTF-16 units or ANSI bytes.
std::u16string wideProp(IMAPIProp* obj, ULONG tag) {
  SizedSPropTagArray<1> tags{1, {tag}};
  ULONG n = 0;
  LPSPropValue v = nullptr;
  std::u16string out;
  if (SUCCEEDED(obj->GetProps(tags.get(), MAPI_UNICODE, &n, &v)) && n == 1 && v[0].ulPropTag == tag)
    out = v[0].Value.lpszW;
  MAPIFreeBuffer(v);
  return out;
}

std::string ansiProp(IMAPIProp* obj, ULONG tag) {
  SizedSPropTagArray<1> tags{1, {tag}};
  ULONG n = 0;
  LPSPropValue v = nullptr;
  std::string out;
  if (SUCCEEDED(obj->GetProps(tags.get(), 0, &n, &v)) && n == 1 && v[0].ulPropTag == tag) out = v[0].Value.lpszA;
  MAPIFreeBuffer(v);
  return out;
}

// PT_STRING8 names and values are in the system ANSI code page, whatever the
// file's width: a Unicode file gets the characters, an ANSI file the bytes.
TEST_F(OpenStore, AnsiTextGoesThroughTheCodePageIntoAUnicodeFile) {
  ASSERT_TRUE(setSystemAnsiCodePage(1252));
  open("MSUPST MS");
  LPMAPIFOLDER folder = createFolder(ipmSubtree(), "Caf\xE9");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(wideProp(folder, PR_DISPLAY_NAME_W), u"Caf\u00e9");
  char comment[] = "na\xEFve";
  SPropValue value{};
  value.ulPropTag = PR_COMMENT_A;
  value.Value.lpszA = comment;
  ASSERT_EQ(folder->SetProps(1, &value, nullptr), S_OK);
  EXPECT_EQ(wideProp(folder, PR_COMMENT_W), u"na\u00efve");
  // A name set afterwards, as the recovery renames its placeholder folders.
  char renamed[] = "R\xE9sum\xE9";
  value.ulPropTag = PR_DISPLAY_NAME_A;
  value.Value.lpszA = renamed;
  ASSERT_EQ(folder->SetProps(1, &value, nullptr), S_OK);
  EXPECT_EQ(wideProp(folder, PR_DISPLAY_NAME_W), u"R\u00e9sum\u00e9");
}

TEST_F(OpenStore, AnsiTextKeepsItsBytesInAnAnsiFile) {
  ASSERT_TRUE(setSystemAnsiCodePage(1252));
  open("MSPST MS");
  LPMAPIFOLDER folder = createFolder(ipmSubtree(), "Caf\xE9");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(ansiProp(folder, PR_DISPLAY_NAME_A), "Caf\xE9");
  char16_t wide[] = u"\u00c5ngstr\u00f6m";
  LPMAPIFOLDER second = nullptr;
  ASSERT_EQ(ipmSubtree()->CreateFolder(FOLDER_GENERIC, reinterpret_cast<char*>(wide), nullptr, nullptr, MAPI_UNICODE,
                                       &second),
            S_OK);
  EXPECT_EQ(ansiProp(second, PR_DISPLAY_NAME_A), "\xC5ngstr\xF6m");
  char renamed[] = "R\xE9sum\xE9";
  SPropValue value{};
  value.ulPropTag = PR_DISPLAY_NAME_A;
  value.Value.lpszA = renamed;
  ASSERT_EQ(second->SetProps(1, &value, nullptr), S_OK);
  EXPECT_EQ(ansiProp(second, PR_DISPLAY_NAME_A), "R\xE9sum\xE9");
  second->Release();
}

TEST_F(OpenStore, AttachmentsWithoutTheirDataAreSoundForTheReaders) {
  // A recovery may write an attachment's method and name but lose its data
  // (PR_ATTACH_DATA_BIN, or the object of PR_ATTACH_DATA_OBJ): by value,
  // embedded message and OLE object, each without data. Readers must still
  // open every one (as an empty attachment).
  open("MSUPST MS");
  LPMAPIFOLDER folder = createFolder(ipmSubtree(), "Lost data");
  ASSERT_NE(folder, nullptr);
  LPMESSAGE m = nullptr;
  ASSERT_EQ(folder->CreateMessage(nullptr, 0, &m), S_OK);
  SPropValue subject = test::stringProp(PR_SUBJECT, "Three attachments without data");
  ASSERT_EQ(m->SetProps(1, &subject, nullptr), S_OK);
  for (LONG method : {ATTACH_BY_VALUE, ATTACH_EMBEDDED_MSG, ATTACH_OLE}) {
    LPATTACH a = nullptr;
    ULONG num = 0;
    ASSERT_EQ(m->CreateAttach(nullptr, 0, &num, &a), S_OK);
    SPropValue props[] = {test::longProp(PR_ATTACH_METHOD, method),
                          test::stringProp(PR_ATTACH_LONG_FILENAME, "lost.bin")};
    ASSERT_EQ(a->SetProps(2, props, nullptr), S_OK);
    ASSERT_EQ(a->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
    a->Release();
  }
  ASSERT_EQ(m->SaveChanges(KEEP_OPEN_READWRITE), S_OK);
  m->Release();
  ULONG flags = LOGOFF_NO_WAIT;
  ASSERT_EQ(store_->StoreLogoff(&flags), S_OK);

  if (pst::test::haveTool("pffexport")) {
    EXPECT_EQ(pst::test::pffexportProblems(path_), "");
    const auto run = pst::test::runCommand("pffexport -m all -f all -t '" + dir_ + "/x' '" + path_ + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    const std::string attachments = dir_ + "/x.export/Top of Personal Folders/Lost data/Message00001/Attachments/";
    for (const char* name : {"1_lost.bin", "2_lost.bin", "3_lost.bin"}) {
      ASSERT_TRUE(std::filesystem::exists(attachments + name)) << name << pst::test::listTree(dir_ + "/x.export");
      EXPECT_EQ(std::filesystem::file_size(attachments + name), 0u);
    }
  }
}

}  // namespace
}  // namespace vexl::mapi
