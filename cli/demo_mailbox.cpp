#include "cli/demo_mailbox.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

#include "cli/demo_random.h"
#include "engine/core/code_page.h"
#include "engine/mapiout/target_store.h"
#include "engine/ndb/ndb_crypto.h"
#include "mapi/mapialloc.h"
#include "mapi/mapicode.h"
#include "mapi/mapiguid.h"
#include "mapi/mapitags.h"
#include "mapi/mapiutil.h"
#include "mapi/olestorage.h"

namespace vexl::demo {
namespace {

using namespace mapi;

// Tags the subset's header does not name ([MS-OXPROPS]); strings take the
// store's width through textTag.
constexpr ULONG idSenderEmail = 0x0C1F, idSenderAddrType = 0x0C1E, idSentRepresentingEmail = 0x0065,
                idInternetMessageId = 0x1035;

// PSETID_Common {00062008-0000-0000-C000-000000000046} and its
// PidLidCurrentVersionName; the sequence number is a name of our own in
// PS_PUBLIC_STRINGS.
constexpr GUID kPsetidCommon{0x00062008, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr LONG kLidCurrentVersionName = 0x8554;

// 2023-03-01 00:00 UTC as a FILETIME tick count (100 ns since 1601).
constexpr std::uint64_t kFirstMessageTime = (1677628800ull + 11644473600ull) * 10000000ull;
constexpr std::uint64_t kHour = 3600ull * 10000000ull;

struct Person {
  const char* name;
  const char* address;
};
constexpr Person kPeople[] = {
    {"Anna Schäfer", "anna.schaefer@example.de"},   {"Jörg Müller", "joerg.mueller@example.de"},
    {"Olivia Bennett", "olivia.bennett@example.com"}, {"François Lefèvre", "francois.lefevre@example.fr"},
    {"Marco Rossi", "marco.rossi@example.it"},      {"Ingrid Sørensen", "ingrid.sorensen@example.dk"},
    {"Pedro Alvarez", "pedro.alvarez@example.es"},  {"Noah Williams", "noah.williams@example.com"},
};

// Subjects in both widths; the Unicode file adds German, Cyrillic and
// Japanese ones, the ANSI file keeps to Windows-1252 letters.
constexpr const char* kCommonSubjects[] = {
    "Quarterly report", "Meeting notes", "Travel plans for the conference", "Invoice",
    "Re: Budget review", "Fwd: Product launch", "Weekly status", "Lunch on Friday?",
};
constexpr const char* kUnicodeSubjects[] = {
    "Grüße aus München", "Привет из Москвы", "東京からのお知らせ", "Übersicht der Änderungen",
    "Отчёт за квартал", "会議の議事録",
};
constexpr const char* kAnsiSubjects[] = {
    "Grüße aus München", "Café au lait à Paris", "Übersicht der Änderungen", "Señor Núñez – 50 €",
};

std::string subjectFor(unsigned i, bool unicode) {
  if (i % 3 == 2) {
    if (unicode) return kUnicodeSubjects[(i / 3) % std::size(kUnicodeSubjects)];
    return kAnsiSubjects[(i / 3) % std::size(kAnsiSubjects)];
  }
  return kCommonSubjects[i % std::size(kCommonSubjects)];
}

constexpr const char* kParagraphs[] = {
    "Please find the figures for the last quarter below. Sales rose in the north and fell slightly in the "
    "south; the details are in the attached report.",
    "As agreed in the meeting, the next review takes place in two weeks. Bring the updated plan and the list "
    "of open questions.",
    "The train leaves at 8:15 from platform 4. Hotel rooms are booked for three nights; the conference "
    "starts on Tuesday morning.",
    "Thank you for the quick answer. I have forwarded the documents to the accounting department and will "
    "let you know once they are processed.",
};

std::string bodyFor(unsigned i, const std::string& subject) {
  std::string text = "Hello,\r\n\r\n";
  const unsigned paragraphs = 2 + i % 4;
  for (unsigned p = 0; p < paragraphs; ++p) {
    text += kParagraphs[(i + p) % std::size(kParagraphs)];
    text += "\r\n\r\n";
  }
  text += "Subject of this message: " + subject + "\r\nMessage number " + std::to_string(i + 1) +
          ".\r\n\r\nBest regards\r\n";
  return text;
}

std::string htmlFor(const std::string& body) {
  std::string html = "<html><head><meta charset=\"utf-8\"></head><body>";
  std::string line;
  for (char c : body) {
    if (c == '\r') continue;
    if (c == '\n') {
      html += "<p>" + line + "</p>";
      line.clear();
    } else if (c == '<') {
      line += "&lt;";
    } else if (c == '&') {
      line += "&amp;";
    } else {
      line += c;
    }
  }
  return html + "<p>" + line + "</p></body></html>";
}

std::string rtfFor(unsigned i) {
  std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}\\f0\\fs20 Hello,\\par\\par ";
  const unsigned paragraphs = 2 + i % 3;
  for (unsigned p = 0; p < paragraphs; ++p) {
    rtf += p == 0 ? "{\\b " : "";
    rtf += kParagraphs[(i + p) % std::size(kParagraphs)];
    rtf += p == 0 ? "}" : "";
    rtf += "\\par\\par ";
  }
  return rtf + "Message number " + std::to_string(i + 1) + ".\\par Best regards\\par }";
}

FILETIME fileTime(std::uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

// SPropValue arrays whose strings and bytes live as long as the list.
// Texts go in the store's width: PT_UNICODE for a Unicode file, PT_STRING8
// in the system ANSI code page for an ANSI one.
class PropList {
 public:
  explicit PropList(bool unicode) : unicode_(unicode) {}

  ULONG textTag(ULONG id) const { return PROP_TAG(unicode_ ? PT_UNICODE : PT_STRING8, id); }
  void text(ULONG id, const std::string& utf8) {
    SPropValue& p = add(textTag(id));
    if (unicode_) p.Value.lpszW = wide_.emplace_back(utf8ToUtf16(utf8)).data();
    else p.Value.lpszA = narrow_.emplace_back(utf8ToAnsi(utf8)).data();
  }
  void number(ULONG tag, LONG v) { add(tag).Value.l = v; }
  void boolean(ULONG tag, bool v) { add(tag).Value.b = v ? 1 : 0; }
  void time(ULONG tag, std::uint64_t ticks) { add(tag).Value.ft = fileTime(ticks); }
  void binary(ULONG tag, std::vector<BYTE> bytes) {
    auto& kept = bytes_.emplace_back(std::move(bytes));
    add(tag).Value.bin = {static_cast<ULONG>(kept.size()), kept.data()};
  }
  ULONG count() const { return static_cast<ULONG>(values_.size()); }
  LPSPropValue data() { return values_.data(); }

 private:
  SPropValue& add(ULONG tag) {
    SPropValue& p = values_.emplace_back();
    p.ulPropTag = tag;
    return p;
  }
  bool unicode_;
  std::vector<SPropValue> values_;
  std::deque<std::u16string> wide_;
  std::deque<std::string> narrow_;
  std::deque<std::vector<BYTE>> bytes_;
};

// Releases a MAPI object when it goes out of scope.
template <class T>
struct Released {
  T* p = nullptr;
  ~Released() { UlRelease(p); }
  T** out() { return &p; }
  T* operator->() const { return p; }
};

class Writer {
 public:
  Writer(IMsgStore* store, bool unicode, std::string& error) : store_(store), unicode_(unicode), error_(error) {}

  bool ok(HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return true;
    if (error_.empty()) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
      error_ = std::string(what) + " failed (" + code + ")";
    }
    return false;
  }

  bool registerNames() {
    std::u16string sequenceName = u"BrellinDemoSequence";
    GUID publicStrings = PS_PUBLIC_STRINGS, common = kPsetidCommon;
    MAPINAMEID names[2]{};
    names[0].lpguid = &publicStrings;
    names[0].ulKind = MNID_STRING;
    names[0].Kind.lpwstrName = sequenceName.data();
    names[1].lpguid = &common;
    names[1].ulKind = MNID_ID;
    names[1].Kind.lID = kLidCurrentVersionName;
    LPMAPINAMEID list[2] = {&names[0], &names[1]};
    LPSPropTagArray tags = nullptr;
    const HRESULT hr = store_->GetIDsFromNames(2, list, MAPI_CREATE, &tags);
    bool good = ok(hr, "GetIDsFromNames") && tags && tags->cValues == 2;
    if (good) {
      sequenceTag_ = PROP_TAG(PT_LONG, PROP_ID(tags->aulPropTag[0]));
      versionNameId_ = PROP_ID(tags->aulPropTag[1]);
      good = PROP_ID(sequenceTag_) >= MAPI_NAMED_PROP_MIN && versionNameId_ >= MAPI_NAMED_PROP_MIN;
      if (!good) error_ = "GetIDsFromNames gave no named property ids";
    }
    MAPIFreeBuffer(tags);
    return good;
  }

  IMAPIFolder* createFolder(IMAPIFolder* parent, const std::string& name) {
    IMAPIFolder* folder = nullptr;
    std::u16string wide = utf8ToUtf16(name);
    std::string narrow = utf8ToAnsi(name);
    LPTSTR text = unicode_ ? reinterpret_cast<LPTSTR>(wide.data()) : narrow.data();
    if (!ok(parent->CreateFolder(FOLDER_GENERIC, text, nullptr, nullptr, unicode_ ? MAPI_UNICODE : 0, &folder),
            "CreateFolder"))
      return nullptr;
    PropList props(unicode_);
    props.text(PROP_ID(PR_CONTAINER_CLASS), "IPF.Note");
    folder->SetProps(props.count(), props.data(), nullptr);
    if (!ok(folder->SaveChanges(KEEP_OPEN_READWRITE), "SaveChanges of a folder")) {
      folder->Release();
      return nullptr;
    }
    return folder;
  }

  // Message number `i` (from 0) in `folder`; adds what it wrote to `out`.
  bool writeMessage(IMAPIFolder* folder, unsigned i, DemoMailbox& out) {
    Released<IMessage> message;
    if (!ok(folder->CreateMessage(nullptr, MAPI_DEFERRED_ERRORS, message.out()), "CreateMessage")) return false;
    const std::string subject = subjectFor(i, unicode_);
    PropList props(unicode_);
    fillEnvelope(props, i, subject);
    const std::string body = bodyFor(i, subject);
    switch (i % 3) {
      case 0:
        props.text(PROP_ID(PR_BODY), body);
        break;
      case 1: {
        props.text(PROP_ID(PR_BODY), body);
        const std::string html = htmlFor(body);
        props.binary(PR_HTML, std::vector<BYTE>(html.begin(), html.end()));
        break;
      }
      default:
        props.binary(PR_RTF_COMPRESSED, compressRtf(rtfFor(i)));
        break;
    }
    if (!ok(message->SetProps(props.count(), props.data(), nullptr), "SetProps of a message")) return false;
    if (!addRecipients(message.p, i)) return false;

    if (i % 4 == 1 && !addFileAttachment(message.p, i, out)) return false;
    if (i % 10 == 3 && !addEmbeddedMessage(message.p, i, out)) return false;
    if (i % 15 == 7 && !addOleAttachment(message.p, i, out)) return false;
    if (!ok(message->SaveChanges(KEEP_OPEN_READWRITE), "SaveChanges of a message")) return false;
    ++out.messages;
    return true;
  }

 private:
  void fillEnvelope(PropList& props, unsigned i, const std::string& subject) {
    const Person& sender = kPeople[i % std::size(kPeople)];
    props.text(PROP_ID(PR_MESSAGE_CLASS), "IPM.Note");
    props.text(PROP_ID(PR_SUBJECT), subject);
    props.text(PROP_ID(PR_SENDER_NAME), sender.name);
    props.text(idSenderEmail, sender.address);
    props.text(idSenderAddrType, "SMTP");
    props.text(PROP_ID(PR_SENT_REPRESENTING_NAME), sender.name);
    props.text(idSentRepresentingEmail, sender.address);
    props.text(idInternetMessageId, "<demo-" + std::to_string(i + 1) + "@example.com>");
    const std::uint64_t sent = kFirstMessageTime + i * 7 * kHour / 3;
    props.time(PR_CLIENT_SUBMIT_TIME, sent);
    props.time(PR_MESSAGE_DELIVERY_TIME, sent + kHour / 60);
    props.number(PR_MESSAGE_FLAGS, i % 5 == 4 ? 0 : 1);  // every fifth message unread
    props.number(PR_IMPORTANCE, i % 7 == 0 ? 2 : 1);
    props.number(sequenceTag_, static_cast<LONG>(i + 1));
    props.text(versionNameId_, "Brellin demo mailbox");
  }

  // One To, every second message a Cc, every fifth a Bcc.
  bool addRecipients(IMessage* message, unsigned i) {
    std::vector<std::pair<LONG, const Person*>> list{{MAPI_TO, &kPeople[(i + 1) % std::size(kPeople)]}};
    if (i % 2 == 0) list.push_back({MAPI_CC, &kPeople[(i + 3) % std::size(kPeople)]});
    if (i % 5 == 0) list.push_back({MAPI_BCC, &kPeople[(i + 5) % std::size(kPeople)]});
    LPADRLIST adr = nullptr;
    if (!ok(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(list.size())), reinterpret_cast<LPVOID*>(&adr)),
            "MAPIAllocateBuffer"))
      return false;
    adr->cEntries = 0;
    bool good = true;
    for (const auto& [type, person] : list) {
      PropList props(unicode_);
      props.number(PR_RECIPIENT_TYPE, type);
      props.text(PROP_ID(PR_DISPLAY_NAME), person->name);
      props.text(PROP_ID(PR_EMAIL_ADDRESS), person->address);
      props.text(PROP_ID(PR_ADDRTYPE), "SMTP");
      ADRENTRY& entry = adr->aEntries[adr->cEntries];
      entry = ADRENTRY{0, 0, nullptr};
      if (!copyProps(props, entry)) {
        good = false;
        break;
      }
      ++adr->cEntries;
    }
    good = good && ok(message->ModifyRecipients(MODRECIP_ADD, adr), "ModifyRecipients");
    FreePadrlist(adr);
    return good;
  }

  // The entry's values as one MAPI buffer, as FreePadrlist frees them.
  bool copyProps(PropList& props, ADRENTRY& entry) {
    LPSPropValue values = nullptr;
    if (!ok(MAPIAllocateBuffer(props.count() * sizeof(SPropValue), reinterpret_cast<LPVOID*>(&values)),
            "MAPIAllocateBuffer"))
      return false;
    entry.rgPropVals = values;
    entry.cValues = props.count();
    for (ULONG k = 0; k < props.count(); ++k) {
      values[k] = props.data()[k];
      const ULONG type = PROP_TYPE(values[k].ulPropTag);
      std::size_t bytes = 0;
      const void* from = nullptr;
      if (type == PT_UNICODE) {
        from = values[k].Value.lpszW;
        bytes = (std::char_traits<char16_t>::length(values[k].Value.lpszW) + 1) * sizeof(char16_t);
      } else if (type == PT_STRING8) {
        from = values[k].Value.lpszA;
        bytes = std::char_traits<char>::length(values[k].Value.lpszA) + 1;
      }
      if (!from) continue;
      LPVOID copy = nullptr;
      if (!ok(MAPIAllocateMore(static_cast<ULONG>(bytes), values, &copy), "MAPIAllocateMore")) return false;
      std::memcpy(copy, from, bytes);
      if (type == PT_UNICODE) values[k].Value.lpszW = static_cast<LPWSTR>(copy);
      else values[k].Value.lpszA = static_cast<LPSTR>(copy);
    }
    return true;
  }

  bool saveAttachment(IAttach* attach, PropList& props, DemoMailbox& out) {
    if (!ok(attach->SetProps(props.count(), props.data(), nullptr), "SetProps of an attachment")) return false;
    if (!ok(attach->SaveChanges(KEEP_OPEN_READWRITE), "SaveChanges of an attachment")) return false;
    ++out.attachments;
    return true;
  }

  // A text file of 6 to 70 KB, some of them beyond one data block.
  bool addFileAttachment(IMessage* message, unsigned i, DemoMailbox& out) {
    Released<IAttach> attach;
    ULONG num = 0;
    if (!ok(message->CreateAttach(nullptr, 0, &num, attach.out()), "CreateAttach")) return false;
    Random random(0xB5E11u + i);
    const std::size_t size = 6000 + static_cast<std::size_t>(random.below(64000));
    std::vector<BYTE> data;
    data.reserve(size);
    while (data.size() < size) {
      const std::string line = "Line " + std::to_string(data.size() / 64 + 1) + ": " +
                               kParagraphs[random.below(std::size(kParagraphs))] + "\r\n";
      data.insert(data.end(), line.begin(), line.end());
    }
    data.resize(size);
    const bool german = unicode_ && i % 8 == 5;
    const std::string longName = german ? "Übersicht " + std::to_string(i + 1) + ".txt"
                                        : "Report " + std::to_string(i + 1) + ".txt";
    PropList props(unicode_);
    props.number(PR_ATTACH_METHOD, ATTACH_BY_VALUE);
    props.text(PROP_ID(PR_ATTACH_FILENAME), "REPORT" + std::to_string((i + 1) % 100) + ".TXT");
    props.text(PROP_ID(PR_ATTACH_LONG_FILENAME), longName);
    props.text(PROP_ID(PR_DISPLAY_NAME), longName);
    props.text(PROP_ID(PR_ATTACH_EXTENSION), ".txt");
    props.text(PROP_ID(PR_ATTACH_MIME_TAG), "text/plain");
    props.binary(PR_ATTACH_DATA_BIN, std::move(data));
    return saveAttachment(attach.p, props, out);
  }

  // A forwarded note as an embedded message (PR_ATTACH_DATA_OBJ opened as
  // IID_IMessage), with a recipient of its own.
  bool addEmbeddedMessage(IMessage* message, unsigned i, DemoMailbox& out) {
    Released<IAttach> attach;
    ULONG num = 0;
    if (!ok(message->CreateAttach(nullptr, 0, &num, attach.out()), "CreateAttach")) return false;
    const std::string subject = "Original note " + std::to_string(i + 1);
    {
      Released<IUnknown> object;
      if (!ok(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IMessage, 0, MAPI_CREATE | MAPI_MODIFY, object.out()),
              "OpenProperty as IID_IMessage"))
        return false;
      auto* embedded = static_cast<IMessage*>(object.p);
      PropList props(unicode_);
      fillEnvelope(props, i + 1000, subject);
      props.text(PROP_ID(PR_BODY), bodyFor(i + 1, subject));
      if (!ok(embedded->SetProps(props.count(), props.data(), nullptr), "SetProps of an embedded message"))
        return false;
      if (!addRecipients(embedded, i + 1)) return false;
      if (!ok(embedded->SaveChanges(KEEP_OPEN_READWRITE), "SaveChanges of an embedded message")) return false;
    }
    PropList props(unicode_);
    props.number(PR_ATTACH_METHOD, ATTACH_EMBEDDED_MSG);
    props.text(PROP_ID(PR_DISPLAY_NAME), subject);
    if (!saveAttachment(attach.p, props, out)) return false;
    ++out.embeddedMessages;
    return true;
  }

  // An OLE 2 object: a storage with the streams a packaged document has,
  // written by the subset's compound-file writer on Commit.
  bool addOleAttachment(IMessage* message, unsigned i, DemoMailbox& out) {
    Released<IAttach> attach;
    ULONG num = 0;
    if (!ok(message->CreateAttach(nullptr, 0, &num, attach.out()), "CreateAttach")) return false;
    {
      Released<IUnknown> object;
      if (!ok(attach->OpenProperty(PR_ATTACH_DATA_OBJ, &IID_IStorage, 0, MAPI_CREATE | MAPI_MODIFY, object.out()),
              "OpenProperty as IID_IStorage"))
        return false;
      auto* storage = static_cast<IStorage*>(object.p);
      // CLSID of an OLE package {0003000C-0000-0000-C000-000000000046}.
      const CLSID package{0x0003000C, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
      if (!ok(storage->SetClass(package), "IStorage::SetClass")) return false;
      const std::string contents =
          "Packaged note " + std::to_string(i + 1) + "\r\n" + kParagraphs[i % std::size(kParagraphs)] + "\r\n";
      const std::array<BYTE, 6> oleHeader{1, 0, 0, 2, 0, 0};
      const std::pair<std::u16string, std::vector<BYTE>> streams[] = {
          {u"\u0001Ole", std::vector<BYTE>(oleHeader.begin(), oleHeader.end())},
          {u"\u0001Ole10Native", std::vector<BYTE>(contents.begin(), contents.end())},
      };
      for (const auto& [name, bytes] : streams) {
        Released<IStream> stream;
        if (!ok(storage->CreateStream(name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                      stream.out()),
                "IStorage::CreateStream"))
          return false;
        ULONG written = 0;
        if (!ok(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), "IStream::Write"))
          return false;
      }
      if (!ok(storage->Commit(STGC_DEFAULT), "IStorage::Commit")) return false;
    }
    PropList props(unicode_);
    props.number(PR_ATTACH_METHOD, ATTACH_OLE);
    props.text(PROP_ID(PR_DISPLAY_NAME), "Packaged note " + std::to_string(i + 1));
    if (!saveAttachment(attach.p, props, out)) return false;
    ++out.oleObjects;
    return true;
  }

  IMsgStore* store_;
  bool unicode_;
  std::string& error_;
  ULONG sequenceTag_ = 0;
  ULONG versionNameId_ = 0;
};

// The NID at the end of a folder's PR_ENTRYID ([MS-PST] 2.4.3.2).
std::uint32_t nidOf(IMAPIProp* folder) {
  SizedSPropTagArray<1> tags{1, {PR_ENTRYID}};
  ULONG count = 0;
  LPSPropValue values = nullptr;
  std::uint32_t nid = 0;
  if (SUCCEEDED(folder->GetProps(tags.get(), 0, &count, &values)) && count == 1 &&
      values[0].ulPropTag == PR_ENTRYID && values[0].Value.bin.cb >= 24) {
    const BYTE* b = values[0].Value.bin.lpb + values[0].Value.bin.cb - 4;
    nid = std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
  }
  MAPIFreeBuffer(values);
  return nid;
}

// The folders below the IPM subtree, parents first: a standard folder
// key, or the index of the parent in this list and a name per width.
struct FolderPlan {
  std::uint32_t standardKey;  // 0 for a created folder
  int parent;                 // index into the plan; -1 for the IPM subtree
  const char* unicodeName;
  const char* ansiName;
};
constexpr FolderPlan kFolders[] = {
    {kFolderInbox, -1, "Inbox", "Inbox"},
    {kFolderSentItems, -1, "Sent Items", "Sent Items"},
    {0, 0, "Projects", "Projects"},
    {0, 2, "Brellin", "Brellin"},
    {0, 2, "Archive 2023", "Archive 2023"},
    {0, 0, "Grüße aus München", "Grüße aus München"},
    {0, -1, "Переписка", "Café Résumé"},
    {0, -1, "日本語のメール", "Señor Núñez"},
};
constexpr int kFolderToLose = 4;  // Archive 2023
constexpr int kFolderProjects = 2;
static_assert(std::size(kFolders) == kDemoPlannedFolders);

}  // namespace

std::vector<std::uint8_t> compressRtf(const std::string& text) {
  // The dictionary starts with 207 preset bytes, so the first literal goes to
  // position 207; a reference to the current write position ends the data.
  constexpr unsigned kPresetLength = 207;
  std::vector<std::uint8_t> body;
  unsigned position = kPresetLength;
  std::size_t at = 0;
  bool ended = false;
  while (!ended) {
    const std::size_t control = body.size();
    body.push_back(0);
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (at < text.size()) {
        body.push_back(static_cast<std::uint8_t>(text[at++]));
        position = (position + 1) % 4096;
        continue;
      }
      body[control] = static_cast<std::uint8_t>(body[control] | (1u << bit));
      const unsigned reference = position << 4;  // offset, length field 0
      body.push_back(static_cast<std::uint8_t>(reference >> 8));
      body.push_back(static_cast<std::uint8_t>(reference & 0xFF));
      ended = true;
      break;
    }
  }
  std::vector<std::uint8_t> out;
  auto put32 = [&out](std::uint32_t v) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  };
  put32(static_cast<std::uint32_t>(body.size() + 12));  // COMPSIZE: what follows this field
  put32(static_cast<std::uint32_t>(text.size()));       // RAWSIZE
  put32(0x75465A4C);                                     // COMPTYPE "LZFu"
  put32(ndbcrypt::crc(0, body.data(), body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::optional<DemoMailbox> writeDemoMailbox(const std::string& path, const DemoMailboxOptions& options,
                                            std::string& error) {
  const bool unicode = options.format == PstFormat::Unicode;
  std::unique_ptr<TargetStore> target = makeMapiTargetStore();
  if (!target->initialize()) {
    error = "MAPIInitialize failed";
    return std::nullopt;
  }
  if (!target->create(path, kPstNoEncryption, "Demo Mailbox", "", options.format) || !target->store()) {
    error = "the demo file could not be created";
    return std::nullopt;
  }
  DemoMailbox out;
  out.format = options.format;
  Writer writer(target->store(), unicode, error);
  if (!writer.registerNames()) return std::nullopt;

  // Created folders are released at the end; standard ones belong to the
  // TargetStore.
  std::vector<IMAPIFolder*> folders;
  std::vector<IMAPIFolder*> created;
  struct ReleaseAll {
    std::vector<IMAPIFolder*>& list;
    ~ReleaseAll() {
      for (IMAPIFolder* f : list) UlRelease(f);
    }
  } releaseCreated{created};
  for (const FolderPlan& plan : kFolders) {
    const std::string name = unicode ? plan.unicodeName : plan.ansiName;
    IMAPIFolder* parent = plan.parent < 0 ? target->folder(kFolderIpmSubtree) : folders[plan.parent];
    IMAPIFolder* folder = nullptr;
    if (plan.standardKey != 0) {
      folder = target->folder(plan.standardKey);
      if (!folder) error = "the store has no folder " + name;
    } else if (parent) {
      folder = writer.createFolder(parent, name);
      if (folder) created.push_back(folder);
    }
    if (!folder) return std::nullopt;
    folders.push_back(folder);
    const std::string parentPath = plan.parent < 0 ? "" : out.folders[plan.parent].path + "/";
    out.folders.push_back(DemoFolder{parentPath + name, nidOf(folder), 0});
  }
  for (unsigned k = kDemoPlannedFolders; k < options.folders; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "Project %03u", k - kDemoPlannedFolders + 1);
    IMAPIFolder* folder = writer.createFolder(folders[kFolderProjects], name);
    if (!folder) return std::nullopt;
    created.push_back(folder);
    folders.push_back(folder);
    out.folders.push_back(DemoFolder{out.folders[kFolderProjects].path + "/" + name, nidOf(folder), 0});
  }
  out.folderToLose = out.folders[kFolderToLose].nid;

  for (unsigned i = 0; i < options.messages; ++i) {
    // Spread over the folders so that every folder gets each kind of message.
    const std::size_t f = (i + i / folders.size()) % folders.size();
    if (!writer.writeMessage(folders[f], i, out)) return std::nullopt;
    ++out.folders[f].messages;
  }
  for (IMAPIFolder* f : created) UlRelease(f);
  created.clear();
  target->shutdown();
  return out;
}

}  // namespace vexl::demo
