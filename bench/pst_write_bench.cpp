// PST writer benchmark: a store of many messages written through the MAPI
// subset the engine uses (TargetStore, CreateMessage, SetProps,
// ModifyRecipients, CreateAttach, SaveChanges), then checked with pffinfo.
//
//   pst_write_bench [--messages N] [--folders 1-5] [--grouped] [--ansi] [--out PATH] [--keep]
//
// Defaults: 100,000 messages in a Unicode file. The messages go round five
// folders (Inbox, Sent Items, Deleted Items and two of their own; --folders
// takes fewer, --grouped fills one folder after the other); each has
// a subject and a plain body of 0.5 to 2.5 KB in several scripts, a sender,
// one or two recipients, every fifth an attachment of 4 to 40 KB, every
// third is unread. Each message is saved twice, as the recovery saves it.
//
// Reported: messages/s, MB/s of file written, the file size, and memory:
// every tenth of the run the resident set and the heap in use (mallinfo2),
// at the end the peak resident set (getrusage). Memory that stays flat from
// the first tenth to the last is memory that does not grow with the number
// of messages. Last, the CPU seconds pffinfo takes to open the file.
//
// pffinfo (libpff 20180714) builds a tree of every node when it opens a
// file: for each NBT entry, in NID order, it searches that tree depth
// first from the top for the entry's parent, then inserts the entry into
// the parent's list of children, walking the list from its start. Opening
// a file therefore costs about the square of the messages per folder plus,
// for every message, the messages filed before its folder in that search;
// it is the same for a file Outlook writes with the same folders and
// messages. Measured here (Unicode, 5 folders, CPU seconds): 20,000
// messages 2.0 s, 40,000 12-16 s; one folder of 20,000, 2.1 s. Doubling the
// messages should about quadruple the time; much more than that is a
// change in the file's shape.
//
// A Unicode file past 4 GiB: run the writer's long test, disabled by default,
//   pst_test --gtest_also_run_disabled_tests --gtest_filter='*PastFourGibibytes*'
// (writes about 4.3 GiB into the system temporary directory, then reads it
// with pffinfo and pffexport), or this benchmark with --messages 350000.
#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/core/code_page.h"
#include "engine/mapiout/target_store.h"
#include "mapi/mapicode.h"
#include "mapi/mapitags.h"
#include "mapi/mapiutil.h"

using namespace vexl;
using namespace vexl::mapi;

namespace {

struct Options {
  unsigned messages = 100000;
  bool ansi = false;
  bool keep = false;
  unsigned folders = 5;
  bool grouped = false;
  std::string out;
};

// Property values whose texts and bytes live as long as the list.
class Props {
 public:
  explicit Props(bool unicode) : unicode_(unicode) {}
  void text(ULONG id, const std::string& utf8) {
    SPropValue& p = add(PROP_TAG(unicode_ ? PT_UNICODE : PT_STRING8, id));
    if (unicode_)
      p.Value.lpszW = wide_.emplace_back(utf8ToUtf16(utf8)).data();
    else
      p.Value.lpszA = narrow_.emplace_back(utf8ToAnsi(utf8)).data();
  }
  void number(ULONG tag, LONG v) { add(tag).Value.l = v; }
  void time(ULONG tag, std::uint64_t filetime) {
    SPropValue& p = add(tag);
    p.Value.ft.dwLowDateTime = static_cast<ULONG>(filetime);
    p.Value.ft.dwHighDateTime = static_cast<ULONG>(filetime >> 32);
  }
  void binary(ULONG tag, std::vector<std::uint8_t> bytes) {
    SPropValue& p = add(tag);
    auto& b = bytes_.emplace_back(std::move(bytes));
    p.Value.bin.cb = static_cast<ULONG>(b.size());
    p.Value.bin.lpb = b.data();
  }
  ULONG count() const { return static_cast<ULONG>(values_.size()); }
  LPSPropValue data() { return values_.data(); }

 private:
  SPropValue& add(ULONG tag) {
    SPropValue& p = values_.emplace_back();
    std::memset(&p, 0, sizeof p);
    p.ulPropTag = tag;
    return p;
  }
  bool unicode_;
  std::vector<SPropValue> values_;
  std::vector<std::u16string> wide_;
  std::vector<std::string> narrow_;
  std::vector<std::vector<std::uint8_t>> bytes_;
};

const char* const kWords[] = {"report", "meeting", "Angebot", "Grüße", "счёт", "договор", "会議", "資料",
                              "budget", "schedule", "review", "draft", "Übersicht", "отчёт", "予定", "invoice"};
const char* const kNames[] = {"Alice Martin", "Bernd Köhler", "Ольга Иванова", "山田 太郎", "Chloé Dubois", "Sam Lee"};

std::string sentence(unsigned seed, std::size_t bytes) {
  std::string s;
  while (s.size() < bytes) {
    s += kWords[(seed = seed * 1103515245u + 12345u) >> 16 & 15];
    s += (seed >> 8) % 9 == 0 ? ".\r\n" : " ";
  }
  return s;
}

std::string address(unsigned i) { return "user" + std::to_string(i % 97) + "@example.com"; }

bool ok(HRESULT hr, const char* what) {
  if (!FAILED(hr)) return true;
  std::fprintf(stderr, "%s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  return false;
}

bool writeMessage(IMAPIFolder* folder, unsigned i, bool unicode) {
  IMessage* message = nullptr;
  if (!ok(folder->CreateMessage(nullptr, MAPI_DEFERRED_ERRORS, &message), "CreateMessage")) return false;
  struct Release {
    IUnknown* p;
    ~Release() { UlRelease(p); }
  } releaseMessage{message};

  Props props(unicode);
  props.text(PROP_ID(PR_MESSAGE_CLASS), "IPM.Note");
  props.text(PROP_ID(PR_SUBJECT), "Message " + std::to_string(i) + ": " + sentence(i, 40));
  props.text(PROP_ID(PR_BODY), sentence(i * 7 + 1, 500 + (i * 131) % 2000));
  props.text(PROP_ID(PR_SENDER_NAME), kNames[i % 6]);
  props.text(0x0C1F, address(i));  // PR_SENDER_EMAIL_ADDRESS
  props.text(0x0C1E, "SMTP");      // PR_SENDER_ADDRTYPE
  props.number(PR_MESSAGE_FLAGS, i % 3 == 0 ? 0 : 0x01);  // MSGFLAG_READ
  props.time(PR_MESSAGE_DELIVERY_TIME, 0x01D9000000000000ull + std::uint64_t{i} * 600000000ull);
  if (!ok(message->SetProps(props.count(), props.data(), nullptr), "SetProps")) return false;

  // One To, every second message a Cc. The subset copies the rows, so the
  // list needs no MAPI allocation.
  const unsigned recipients = 1 + i % 2;
  std::vector<Props> rows;
  std::vector<std::uint8_t> buffer(CbNewADRLIST(recipients), 0);
  auto* list = reinterpret_cast<LPADRLIST>(buffer.data());
  list->cEntries = recipients;
  rows.reserve(recipients);
  for (unsigned r = 0; r < recipients; ++r) {
    Props& row = rows.emplace_back(unicode);
    row.number(PR_RECIPIENT_TYPE, r == 0 ? MAPI_TO : MAPI_CC);
    row.text(PROP_ID(PR_DISPLAY_NAME), kNames[(i + r + 1) % 6]);
    row.text(PROP_ID(PR_EMAIL_ADDRESS), address(i + r + 1));
    row.text(PROP_ID(PR_ADDRTYPE), "SMTP");
    list->aEntries[r] = ADRENTRY{0, row.count(), row.data()};
  }
  if (!ok(message->ModifyRecipients(MODRECIP_ADD, list), "ModifyRecipients")) return false;

  if (i % 5 == 0) {
    IAttach* attach = nullptr;
    ULONG num = 0;
    if (!ok(message->CreateAttach(nullptr, 0, &num, &attach), "CreateAttach")) return false;
    Release releaseAttach{attach};
    std::vector<std::uint8_t> data(4096 + (i * 7919) % 36864);
    for (std::size_t k = 0; k < data.size(); ++k) data[k] = static_cast<std::uint8_t>((k * 31 + i) >> 3);
    Props a(unicode);
    a.number(PR_ATTACH_METHOD, ATTACH_BY_VALUE);
    a.text(PROP_ID(PR_ATTACH_LONG_FILENAME), "Anlage " + std::to_string(i) + ".bin");
    a.text(PROP_ID(PR_DISPLAY_NAME), "Anlage " + std::to_string(i) + ".bin");
    a.binary(PR_ATTACH_DATA_BIN, std::move(data));
    if (!ok(attach->SetProps(a.count(), a.data(), nullptr), "SetProps of an attachment")) return false;
    if (!ok(attach->SaveChanges(KEEP_OPEN_READWRITE), "SaveChanges of an attachment")) return false;
  }
  return ok(message->SaveChanges(KEEP_OPEN_READWRITE), "SaveChanges") && ok(message->SaveChanges(0), "SaveChanges");
}

IMAPIFolder* createFolder(IMAPIFolder* parent, const char* name) {
  IMAPIFolder* folder = nullptr;
  if (!ok(parent->CreateFolder(FOLDER_GENERIC, const_cast<LPTSTR>(name), nullptr, nullptr, OPEN_IF_EXISTS, &folder),
          "CreateFolder"))
    return nullptr;
  ok(folder->SaveChanges(KEEP_OPEN_READWRITE), "SaveChanges of a folder");
  return folder;
}

long residentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::size_t heapKiB() {
  const struct mallinfo2 m = mallinfo2();
  return (m.uordblks + m.hblkhd) / 1024;
}

bool parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--messages" && i + 1 < argc) {
      o.messages = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--ansi") {
      o.ansi = true;
    } else if (a == "--keep") {
      o.keep = true;
    } else if (a == "--folders" && i + 1 < argc) {
      o.folders = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--grouped") {
      o.grouped = true;
    } else if (a == "--out" && i + 1 < argc) {
      o.out = argv[++i];
    } else {
      std::fprintf(stderr, "usage: pst_write_bench [--messages N] [--folders 1-5] [--grouped] [--ansi] [--out PATH] [--keep]\n");
      return false;
    }
  }
  if (o.out.empty())
    o.out = (std::filesystem::temp_directory_path() / ("pst_write_bench_" + std::to_string(getpid()) + ".pst")).string();
  return o.messages > 0 && o.folders >= 1 && o.folders <= 5;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!parse(argc, argv, o)) return 2;
  const bool unicode = !o.ansi;
  std::unique_ptr<TargetStore> target = makeMapiTargetStore();
  if (!target->initialize() ||
      !target->create(o.out, kPstNoEncryption, "Benchmark", "", unicode ? PstFormat::Unicode : PstFormat::Ansi)) {
    std::fprintf(stderr, "the store could not be created at %s\n", o.out.c_str());
    return 1;
  }
  IMAPIFolder* top = target->folder(kFolderIpmSubtree);
  std::vector<IMAPIFolder*> own{createFolder(top, "Projects"), createFolder(top, "Archive 2024")};
  std::vector<IMAPIFolder*> folders{target->folder(kFolderInbox), target->folder(kFolderSentItems),
                                    target->folder(kFolderDeletedItems), own[0], own[1]};
  folders.resize(o.folders);
  for (IMAPIFolder* f : folders)
    if (!f) return 1;

  std::printf("%s store, %u messages, %s\n", unicode ? "Unicode" : "ANSI", o.messages, o.out.c_str());
  std::printf("%10s %9s %11s %12s %12s\n", "messages", "seconds", "file MiB", "resident KiB", "heap KiB");
  const auto start = std::chrono::steady_clock::now();
  auto seconds = [&start] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  const unsigned step = o.messages >= 10 ? o.messages / 10 : 1;
  for (unsigned i = 0; i < o.messages; ++i) {
    const std::size_t f = o.grouped ? std::size_t{i} * folders.size() / o.messages : i % folders.size();
    if (!writeMessage(folders[f], i, unicode)) return 1;
    if ((i + 1) % step == 0) {
      std::error_code ec;
      const auto size = std::filesystem::file_size(o.out, ec);
      std::printf("%10u %9.2f %11.1f %12ld %12zu\n", i + 1, seconds(), static_cast<double>(size) / (1 << 20),
                  residentKiB(), heapKiB());
      std::fflush(stdout);
    }
  }
  for (IMAPIFolder* f : own) UlRelease(f);
  target->shutdown();  // the last commit
  const double elapsed = seconds();
  const auto size = std::filesystem::file_size(o.out);
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%.0f messages/s, %.1f MB/s, file %.1f MiB (%llu bytes), peak resident %ld KiB, %.2f s\n",
              o.messages / elapsed, static_cast<double>(size) / 1e6 / elapsed, static_cast<double>(size) / (1 << 20),
              static_cast<unsigned long long>(size), usage.ru_maxrss, elapsed);

  int status = 0;
  if (std::system("command -v pffinfo > /dev/null 2>&1") == 0) {
    const std::string command = "pffinfo '" + o.out + "' > /dev/null 2>&1";
    struct rusage before {}, after {};
    getrusage(RUSAGE_CHILDREN, &before);
    status = std::system(command.c_str()) == 0 ? 0 : 1;
    getrusage(RUSAGE_CHILDREN, &after);
    auto cpu = [](const struct rusage& u) {
      return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
             static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    std::printf("pffinfo: %s, %.2f s CPU\n", status == 0 ? "opens the file" : "FAILED to open the file",
                cpu(after) - cpu(before));
  } else {
    std::printf("pffinfo: not installed, not checked\n");
  }
  if (!o.keep) std::filesystem::remove(o.out);
  return status;
}
