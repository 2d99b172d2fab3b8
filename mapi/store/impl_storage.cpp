// IStorage and IStream over an in-memory tree. A writable tree's root
// Commit writes it as a compound file and hands the bytes on (an OLE
// attachment keeps them as its PR_ATTACH_DATA_OBJ); StgOpenStorage gives a
// read-only tree read from a compound file on disk, which CopyTo copies
// into any other storage.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include "mapi/olestorage.h"
#include "mapi/store/com_object.h"
#include "mapi/store/compound_file.h"
#include "mapi/store/objects.h"
#include "mapi/store/prop_convert.h"

namespace vexl::mapi::store {
namespace {

constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001);
constexpr HRESULT STG_E_INVALIDNAME = static_cast<HRESULT>(0x800300FC);
constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070);
constexpr HRESULT STG_E_INVALIDFLAG = static_cast<HRESULT>(0x800300FF);
constexpr HRESULT STG_E_INVALIDPOINTER = static_cast<HRESULT>(0x80030009);
constexpr HRESULT STG_E_READFAULT = static_cast<HRESULT>(0x8003001E);

constexpr DWORD kCreateMode = STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE;

// What every storage and stream of one tree shares.
struct Tree {
  CompoundEntry root;
  bool writable = true;
  std::function<HRESULT(std::vector<std::uint8_t>)> onCommit;
  IUnknown* keepAlive = nullptr;
  ~Tree() {
    if (keepAlive) keepAlive->Release();
  }
};

class Stream final : public ComObject<Stream, IStream> {
 public:
  Stream(std::shared_ptr<Tree> tree, CompoundEntry* entry) : tree_(std::move(tree)), entry_(entry) {}
  HRESULT QueryInterface(REFIID riid, LPVOID* out) override {
    return answer(riid, out, {IID_IStream, IID_ISequentialStream});
  }
  HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
    const auto& d = entry_->data;
    const std::size_t n = pos_ >= d.size() ? 0 : std::min<std::size_t>(cb, d.size() - pos_);
    if (n) std::memcpy(pv, d.data() + pos_, n);
    pos_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return S_OK;
  }
  HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
    if (!tree_->writable) return STG_E_ACCESSDENIED;
    if (cb && !pv) return E_POINTER;
    auto& d = entry_->data;
    if (pos_ + cb > d.size()) d.resize(pos_ + cb);
    if (cb) std::memcpy(d.data() + pos_, pv, cb);
    pos_ += cb;
    if (written) *written = cb;
    return S_OK;
  }
  HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* now) override {
    long long base = origin == STREAM_SEEK_SET ? 0
                     : origin == STREAM_SEEK_CUR ? static_cast<long long>(pos_)
                     : origin == STREAM_SEEK_END ? static_cast<long long>(entry_->data.size())
                                                 : -1;
    if (base < 0 || base + move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
    pos_ = static_cast<std::size_t>(base + move.QuadPart);
    if (now) now->QuadPart = pos_;
    return S_OK;
  }
  HRESULT SetSize(ULARGE_INTEGER size) override {
    if (!tree_->writable) return STG_E_ACCESSDENIED;
    if (size.QuadPart > (1u << 30)) return STG_E_MEDIUMFULL;
    entry_->data.resize(static_cast<std::size_t>(size.QuadPart));
    return S_OK;
  }
  HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  HRESULT Commit(DWORD) override { return S_OK; }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  HRESULT Clone(IStream**) override { return E_NOTIMPL; }

 private:
  std::shared_ptr<Tree> tree_;
  CompoundEntry* entry_;
  std::size_t pos_ = 0;
};

class Storage final : public ComObject<Storage, IStorage> {
 public:
  Storage(std::shared_ptr<Tree> tree, CompoundEntry* entry) : tree_(std::move(tree)), entry_(entry) {}
  HRESULT QueryInterface(REFIID riid, LPVOID* out) override { return answer(riid, out, {IID_IStorage}); }

  HRESULT CreateStream(const OLECHAR* name, DWORD mode, DWORD, DWORD, IStream** out) override {
    CompoundEntry* e = nullptr;
    if (HRESULT hr = make(name, mode, false, &e); FAILED(hr)) return hr;
    if (!out) return E_POINTER;
    *out = new Stream(tree_, e);
    return S_OK;
  }
  HRESULT OpenStream(const OLECHAR* name, void*, DWORD, DWORD, IStream** out) override {
    if (!out || !name) return E_POINTER;
    *out = nullptr;
    CompoundEntry* e = entry_->find(name);
    if (!e || e->storage) return STG_E_FILENOTFOUND;
    *out = new Stream(tree_, e);
    return S_OK;
  }
  HRESULT CreateStorage(const OLECHAR* name, DWORD mode, DWORD, DWORD, IStorage** out) override {
    CompoundEntry* e = nullptr;
    if (HRESULT hr = make(name, mode, true, &e); FAILED(hr)) return hr;
    if (!out) return E_POINTER;
    *out = new Storage(tree_, e);
    return S_OK;
  }
  HRESULT OpenStorage(const OLECHAR* name, IStorage*, DWORD, SNB, DWORD, IStorage** out) override {
    if (!out || !name) return E_POINTER;
    *out = nullptr;
    CompoundEntry* e = entry_->find(name);
    if (!e || !e->storage) return STG_E_FILENOTFOUND;
    *out = new Storage(tree_, e);
    return S_OK;
  }
  // The whole tree below this storage, its class and state bits into
  // `dest`; elements named in `exclude` (this level only) and those of an
  // excluded interface (IID_IStorage, IID_IStream) are left out.
  HRESULT CopyTo(DWORD excludedCount, const IID* excludedIids, SNB exclude, IStorage* dest) override {
    if (!dest) return STG_E_INVALIDPARAMETER;
    if (excludedCount && !excludedIids) return STG_E_INVALIDPARAMETER;
    bool storages = true, streams = true;
    for (DWORD i = 0; i < excludedCount; ++i) {
      if (excludedIids[i] == IID_IStorage) storages = false;
      if (excludedIids[i] == IID_IStream) streams = false;
    }
    const auto excluded = [exclude](const std::u16string& name) {
      for (SNB n = exclude; n && *n; ++n)
        if (name == std::u16string(*n)) return true;
      return false;
    };
    if (HRESULT hr = copyEntry(*entry_, dest, storages, streams, excluded); FAILED(hr)) return hr;
    return S_OK;
  }
  HRESULT MoveElementTo(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) override { return E_NOTIMPL; }
  HRESULT Commit(DWORD) override {
    // Nested storages commit with the root; a read-only tree has nothing to.
    if (entry_ != &tree_->root || !tree_->writable) return S_OK;
    auto bytes = writeCompoundFile(tree_->root);
    if (!bytes) return STG_E_MEDIUMFULL;
    return tree_->onCommit(std::move(*bytes));
  }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT EnumElements(DWORD, void*, DWORD, IEnumSTATSTG**) override { return E_NOTIMPL; }
  HRESULT DestroyElement(const OLECHAR* name) override {
    if (!tree_->writable) return STG_E_ACCESSDENIED;
    if (!name) return E_POINTER;
    auto& kids = entry_->children;
    CompoundEntry* e = entry_->find(name);
    if (!e) return STG_E_FILENOTFOUND;
    kids.erase(std::remove_if(kids.begin(), kids.end(), [e](const auto& k) { return k.get() == e; }), kids.end());
    return S_OK;
  }
  HRESULT RenameElement(const OLECHAR*, const OLECHAR*) override { return E_NOTIMPL; }
  HRESULT SetElementTimes(const OLECHAR*, const FILETIME*, const FILETIME*, const FILETIME*) override { return S_OK; }
  HRESULT SetClass(REFCLSID clsid) override {
    if (!tree_->writable) return STG_E_ACCESSDENIED;
    auto& c = entry_->clsid;
    for (int i = 0; i < 4; ++i) c[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(clsid.Data1 >> (8 * i));
    c[4] = static_cast<std::uint8_t>(clsid.Data2);
    c[5] = static_cast<std::uint8_t>(clsid.Data2 >> 8);
    c[6] = static_cast<std::uint8_t>(clsid.Data3);
    c[7] = static_cast<std::uint8_t>(clsid.Data3 >> 8);
    std::memcpy(c.data() + 8, clsid.Data4, 8);
    return S_OK;
  }
  HRESULT SetStateBits(DWORD bits, DWORD mask) override {
    if (!tree_->writable) return STG_E_ACCESSDENIED;
    entry_->stateBits = (entry_->stateBits & ~mask) | (bits & mask);
    return S_OK;
  }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }

 private:
  // A new child; an existing one of that name is replaced with STGM_CREATE.
  HRESULT make(const OLECHAR* name, DWORD mode, bool storage, CompoundEntry** out) {
    if (!tree_->writable) return STG_E_ACCESSDENIED;
    if (!name) return E_POINTER;
    const std::u16string n(name);
    if (n.empty() || n.size() > 31) return STG_E_INVALIDNAME;
    if (CompoundEntry* old = entry_->find(n)) {
      if (!(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
      DestroyElement(name);
      (void)old;
    }
    auto e = std::make_unique<CompoundEntry>();
    e->name = n;
    e->storage = storage;
    *out = e.get();
    entry_->children.push_back(std::move(e));
    return S_OK;
  }
  static HRESULT copyEntry(const CompoundEntry& from, IStorage* dest, bool storages, bool streams,
                           const std::function<bool(const std::u16string&)>& excluded) {
    CLSID clsid{};
    clsid.Data1 = static_cast<std::uint32_t>(from.clsid[0] | from.clsid[1] << 8 | from.clsid[2] << 16 |
                                             static_cast<std::uint32_t>(from.clsid[3]) << 24);
    clsid.Data2 = static_cast<std::uint16_t>(from.clsid[4] | from.clsid[5] << 8);
    clsid.Data3 = static_cast<std::uint16_t>(from.clsid[6] | from.clsid[7] << 8);
    std::memcpy(clsid.Data4, from.clsid.data() + 8, 8);
    if (HRESULT hr = dest->SetClass(clsid); FAILED(hr)) return hr;
    if (HRESULT hr = dest->SetStateBits(from.stateBits, 0xFFFFFFFF); FAILED(hr)) return hr;
    for (const auto& child : from.children) {
      if (excluded(child->name) || (child->storage ? !storages : !streams)) continue;
      if (child->storage) {
        IStorage* sub = nullptr;
        HRESULT hr = dest->CreateStorage(child->name.c_str(), kCreateMode, 0, 0, &sub);
        if (SUCCEEDED(hr) && sub) hr = copyEntry(*child, sub, true, true, nothingExcluded);
        if (sub) sub->Release();
        if (FAILED(hr)) return hr;
        continue;
      }
      IStream* stream = nullptr;
      HRESULT hr = dest->CreateStream(child->name.c_str(), kCreateMode, 0, 0, &stream);
      for (std::size_t at = 0; SUCCEEDED(hr) && stream && at < child->data.size();) {
        const auto chunk = static_cast<ULONG>(std::min<std::size_t>(child->data.size() - at, 1u << 20));
        ULONG written = 0;
        hr = stream->Write(child->data.data() + at, chunk, &written);
        if (SUCCEEDED(hr) && written != chunk) hr = STG_E_MEDIUMFULL;
        at += chunk;
      }
      if (stream) stream->Release();
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  static bool nothingExcluded(const std::u16string&) { return false; }

  std::shared_ptr<Tree> tree_;
  CompoundEntry* entry_;
};

}  // namespace

IStorage* makeStorage(std::function<HRESULT(std::vector<std::uint8_t>)> onCommit, IUnknown* keepAlive) {
  auto tree = std::make_shared<Tree>();
  tree->root.storage = true;
  tree->onCommit = std::move(onCommit);
  tree->keepAlive = keepAlive;
  if (keepAlive) keepAlive->AddRef();
  return new Storage(tree, &tree->root);
}

}  // namespace vexl::mapi::store

namespace vexl::mapi {

HRESULT StgOpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD, IStorage** out) {
  using namespace store;
  if (!out) return STG_E_INVALIDPOINTER;
  *out = nullptr;
  if (!name) return STG_E_INVALIDNAME;
  if (priority || exclude || (mode & (STGM_WRITE | STGM_READWRITE))) return STG_E_INVALIDFLAG;  // read-only here
  std::ifstream file(utf16ToUtf8(name), std::ios::binary);
  if (!file) return STG_E_FILENOTFOUND;
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return STG_E_READFAULT;
  auto tree = std::make_shared<Tree>();
  tree->writable = false;
  switch (readCompoundFile(bytes, tree->root)) {
    case CompoundRead::NotCompoundFile: return STG_E_FILEALREADYEXISTS;
    case CompoundRead::Damaged: return STG_E_DOCFILECORRUPT;
    case CompoundRead::Ok: break;
  }
  *out = new Storage(tree, &tree->root);
  return S_OK;
}

}  // namespace vexl::mapi
