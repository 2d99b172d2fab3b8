// Messages, their attachments and recipients, and attachments whose message
// is lost (a carrier message of their own).
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/core/code_page.h"
#include "engine/ltp/heap_on_node.h"
#include "engine/ltp/ndb_node.h"
#include "engine/ltp/property_context.h"
#include "engine/ltp/table_context.h"
#include "engine/mailbox/mailbox_writer.h"
#include "engine/mapiout/object_copy.h"
#include "mapi/mapialloc.h"
#include "mapi/mapitags.h"
#include "mapi/mapiutil.h"

namespace vexl {
namespace {

using namespace mapi;

// The row id column of every [MS-PST] table context (PidTagLtpRowId).
constexpr ULONG kTagLtpRowId = PROP_TAG(PT_LONG, 0x67F2);
constexpr std::uint16_t kIdSubject = 0x0037;
constexpr std::uint16_t kIdAttachFilename = 0x3704;
constexpr ULONG kSaveAndClose = MAPI_DEFERRED_ERRORS;

bool isPropertyContext(const NdbNode& node) { return heapKind(node) == HeapKind::PropertyContext; }

// The subject as logged: an encoded prefix (0x01 and one more character) is
// dropped.
std::string loggedSubject(std::string subject) {
  if (subject.size() > 1 && subject[0] == '\x01') subject.erase(0, 2);
  return subject;
}

// The writer refuses, before writing anything, a save that would take the
// file past its format's limit (an ANSI file stays below 2 GiB). That is the
// end of this file, not of the item: it is left unused for the next split
// file, whether or not splitting by size is on. Only an item that does not
// fit even a file without messages is given up, or every file would refuse it.
bool leftForNextFile(HRESULT saved, NdbNode& node, EngineContext& engine, const MailboxRunState& state) {
  if (saved != MAPI_E_NOT_ENOUGH_DISK) return false;
  if (state.messagesInFile == 0) {
    node.markUsed(1);
    return true;
  }
  node.markUsed(0);
  engine.splitPending = true;
  return true;
}

}  // namespace

void MailboxWriter::checkSize() {
  ++state_.messagesInFile;
  // A stop asked for while a file is being written takes effect after this
  // message, as a split would: the walk and the passes take no further
  // item, the file is closed whole, and the driver's next abort query ends
  // the run before another file is made. Without this, a stop would wait
  // for the whole mailbox to be written.
  if (engine_.queryAbort() != 0) {
    engine_.splitPending = true;
    return;
  }
  const EngineOptions& o = engine_.options();
  if (o.SplitOversizePST == 0) return;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(store_.openedPath(), error);
  if (error) return;
  const std::uint64_t limit =
      static_cast<std::uint64_t>(static_cast<std::uint32_t>(o.PSTFileSizeLimit)) * std::uint64_t{1048576};
  if (size > limit) engine_.splitPending = true;
}

ObjectCopy MailboxWriter::objectCopy() {
  return [this](NdbNode& node, const SPropValue& record, IMAPIProp* target) {
    return copyObjectProp(
        engine_, [this](NdbNode& embedded, IMessage* message) { return recoverEmbeddedMessage(embedded, message); },
        node, record, target);
  };
}

// The copied properties overwrite it when the source has a message class.
void MailboxWriter::setDefaultMessageClass(IMessage* message) {
  const std::string messageClass = loadString(kStrDefaultMessageClass);
  std::u16string wide;
  SPropValue classProp{};
  if (engine_.pstFormat == PstFormat::Unicode) {
    wide = ansiToUtf16(messageClass);
    classProp.ulPropTag = PR_MESSAGE_CLASS_W;
    classProp.Value.lpszW = wide.data();
  } else {
    classProp.ulPropTag = PR_MESSAGE_CLASS_A;
    classProp.Value.lpszA = const_cast<char*>(messageClass.c_str());
  }
  SPropProblemArray* problems = nullptr;
  message->SetProps(1, &classProp, &problems);
  MAPIFreeBuffer(problems);
}

std::int32_t MailboxWriter::recoverMessage(NdbNode& node, IMAPIFolder* parent) {
  if (!isPropertyContext(node)) {
    node.markUsed(1);
    return 0;
  }
  engine_.report(LogLine, kStrRecoverMessage, {loggedSubject(getStringProp(node, kIdSubject))});
  if (parent == nullptr) return 0;
  IMessage* message = nullptr;
  try {
    if (FAILED(parent->CreateMessage(nullptr, MAPI_DEFERRED_ERRORS, &message)) || message == nullptr) {
      if (message != nullptr) message->Release();
      return 0;
    }
    setDefaultMessageClass(message);
    copyMessageProps(settings(), node, message);
    if (leftForNextFile(message->SaveChanges(kCopySaveFlags), node, engine_, state_)) {
      message->Release();
      return 0;
    }
    node.markUsed(1);
    recoverAttachments(node, message);
    recoverRecipients(node, message);
    // Refused with its attachments, the message stays here as first saved
    // and is written whole into the next file.
    if (leftForNextFile(message->SaveChanges(kSaveAndClose), node, engine_, state_)) {
      message->Release();
      return 0;
    }
    message->Release();
    message = nullptr;
    checkSize();
    return 1;
  } catch (...) {
    if (message != nullptr) message->Release();
    engine_.report(ErrorText, kStrErrorUnknown, {loadString(kStrMessageRecovery)});
    return 0;
  }
}

std::int32_t MailboxWriter::recoverEmbeddedMessage(NdbNode& node, IMessage* message) {
  if (embeddingDepth_ >= kMaxEmbeddingDepth) return 0;
  if (!isPropertyContext(node)) {
    node.markUsed(1);
    return 0;
  }
  engine_.report(LogLine, kStrRecoverEmbedded, {loggedSubject(getStringProp(node, kIdSubject))});
  if (message == nullptr) return 0;
  ++embeddingDepth_;
  std::int32_t result = 0;
  try {
    setDefaultMessageClass(message);
    copyMessageProps(settings(), node, message);
    message->SaveChanges(kCopySaveFlags);
    node.markUsed(1);
    recoverAttachments(node, message);
    recoverRecipients(node, message);
    message->SaveChanges(kSaveAndClose);
    result = 1;
  } catch (...) {
    engine_.report(ErrorText, kStrErrorUnknown, {loadString(kStrMessageRecovery)});
  }
  --embeddingDepth_;
  return result;
}

void MailboxWriter::attachSubnode(NdbNode& subnode, IMessage* message) {
  ULONG number = 0;
  IAttach* attach = nullptr;
  if (FAILED(message->CreateAttach(nullptr, MAPI_DEFERRED_ERRORS, &number, &attach)) || attach == nullptr) {
    if (attach != nullptr) attach->Release();
    return;
  }
  if (isPropertyContext(subnode)) {
    std::uint32_t count = 0;
    SPropValue* props = nullptr;
    if (getAllProps(subnode, count, props) != 0) copyProps(settings(), subnode, count, props, attach);
    MAPIFreeBuffer(props);
  }
  attach->SaveChanges(kSaveAndClose);
  attach->Release();
  subnode.markUsed(1);
}

void MailboxWriter::recoverAttachments(NdbNode& node, IMessage* message) {
  if (node.subnodeMap == nullptr || message == nullptr) return;
  NodeMap& subnodes = *node.subnodeMap;
  NdbNode* table = subnodes.find(kNidAttachmentTable);
  if (table != nullptr && table->isUsed() == 0 && heapKind(*table) == HeapKind::Table) {
    std::vector<std::uint32_t> columns;
    std::vector<SPropValue*> rows;
    readTable(*table, columns, rows);
    table->markUsed(1);
    std::size_t column = columns.size();
    for (std::size_t c = 0; c < columns.size(); ++c)
      if (columns[c] == kTagLtpRowId) {
        column = c;
        break;
      }
    if (column < columns.size()) {
      for (SPropValue* row : rows) {
        const SPropValue& cell = row[column];
        if (cell.ulPropTag != kTagLtpRowId || (cell.Value.ul & 0x1F) == 0) continue;
        NdbNode* sub = subnodes.find(cell.Value.ul);
        if (sub != nullptr && sub->isUsed() == 0) attachSubnode(*sub, message);
      }
    }
    freeRows(rows);
  }
  if (engine_.options().RecoverUnattchedAttach == 0) return;
  for (auto& list : subnodes.mutableLists()) {
    if ((list.key & 0x1F) != 5 || list.versions.empty()) continue;
    NdbNode& sub = list.versions.back();
    if (sub.isUsed() == 0) attachSubnode(sub, message);
  }
}

void MailboxWriter::recoverRecipients(NdbNode& node, IMessage* message) {
  if (node.subnodeMap == nullptr || message == nullptr) return;
  NdbNode* table = node.subnodeMap->find(kNidRecipientTable);
  if (table == nullptr || table->isUsed() != 0 || heapKind(*table) != HeapKind::Table) return;
  std::vector<std::uint32_t> columns;
  std::vector<SPropValue*> rows;
  readTable(*table, columns, rows);
  table->markUsed(1);
  if (rows.empty()) return;
  ADRLIST* list = nullptr;
  const std::size_t bytes = CbNewADRLIST(rows.size());
  if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(bytes), reinterpret_cast<void**>(&list))) || list == nullptr) {
    freeRows(rows);
    return;
  }
  std::memset(list, 0, bytes);
  std::size_t rowIdColumn = columns.size();
  for (std::size_t c = 0; c < columns.size(); ++c)
    if (columns[c] == PR_ROWID) {
      rowIdColumn = c;
      break;
    }
  list->cEntries = static_cast<ULONG>(rows.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    SPropValue* row = rows[r];
    if (rowIdColumn < columns.size() && row[rowIdColumn].ulPropTag == PR_ROWID) {
      row[rowIdColumn].ulPropTag = errorTwin(PR_ROWID);
      row[rowIdColumn].Value.err = MAPI_E_NOT_FOUND;
    }
    list->aEntries[r].cValues = static_cast<ULONG>(columns.size());
    list->aEntries[r].rgPropVals = row;
  }
  rows.clear();  // the list owns them now
  message->ModifyRecipients(MODRECIP_ADD, list);
  FreePadrlist(list);
}

std::int32_t MailboxWriter::recoverOrphanAttachment(NdbNode& node, IMAPIFolder* parent) {
  if (!isPropertyContext(node)) {
    node.markUsed(1);
    return 0;
  }
  const std::string fileName = getStringProp(node, kIdAttachFilename);
  engine_.report(LogLine, kStrRecoverAttachment, {fileName});
  if (parent == nullptr) return 0;
  IMessage* carrier = nullptr;
  if (FAILED(parent->CreateMessage(nullptr, MAPI_DEFERRED_ERRORS, &carrier)) || carrier == nullptr) {
    if (carrier != nullptr) carrier->Release();
    return 0;
  }
  std::string subject = loadString(kStrCarrierSubject);
  if (!fileName.empty()) subject += " " + fileName;
  SPropValue* size = nullptr;
  if (getProp(node, PR_ATTACH_SIZE, size) != 0 && size != nullptr)
    subject += " " + formatPrintf("(%lu bytes)", {static_cast<std::uint32_t>(size->Value.ul)});
  MAPIFreeBuffer(size);

  std::string messageClass = loadString(kStrDefaultMessageClass);
  SPropValue props[2]{};
  props[0].ulPropTag = PR_MESSAGE_CLASS_A;
  props[0].Value.lpszA = messageClass.data();
  props[1].ulPropTag = PR_SUBJECT_A;
  props[1].Value.lpszA = subject.data();
  copyProps(settings(), node, 2, props, carrier);
  if (leftForNextFile(carrier->SaveChanges(kCopySaveFlags), node, engine_, state_)) {
    carrier->Release();
    return 0;
  }

  std::int32_t result = 0;
  ULONG number = 0;
  IAttach* attach = nullptr;
  if (SUCCEEDED(carrier->CreateAttach(nullptr, MAPI_DEFERRED_ERRORS, &number, &attach)) && attach != nullptr) {
    std::uint32_t count = 0;
    SPropValue* all = nullptr;
    if (getAllProps(node, count, all) != 0) copyProps(settings(), node, count, all, attach);
    MAPIFreeBuffer(all);
    attach->SaveChanges(kSaveAndClose);
    attach->Release();
    node.markUsed(1);
    result = 1;
  } else if (attach != nullptr) {
    attach->Release();
  }
  const HRESULT saved = carrier->SaveChanges(kSaveAndClose);
  carrier->Release();
  if (leftForNextFile(saved, node, engine_, state_)) return 0;
  checkSize();
  return result;
}

}  // namespace vexl
