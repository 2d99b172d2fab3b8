// IStorage and IStream over an in-memory tree; committing the root storage
// writes the tree as a compound file and hands the bytes on (an OLE
// attachment keeps them as its PR_ATTACH_DATA_OBJ).
#include <algorithm>
#include <cstring>
#include <functional>

#include "mapi/olestorage.h"
#include "mapi/store/com_object.h"
#include "mapi/store/compound_file.h"
#include "mapi/store/objects.h"

namespace vexl::mapi::store {
namespace {

constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001);
constexpr HRESULT STG_E_FILENOTFOUND = static_cast<HRESULT>(0x80030002);
constexpr HRESULT STG_E_INVALIDNAME = static_cast<HRESULT>(0x800300FC);
constexpr HRESULT STG_E_FILEALREADYEXISTS = static_cast<HRESULT>(0x80030050);
constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070);

// What every storage and stream of one tree shares.
struct Tree {
  CompoundEntry root;
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
  HRESULT CopyTo(DWORD, const IID*, SNB, IStorage*) override { return E_NOTIMPL; }
  HRESULT MoveElementTo(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) override { return E_NOTIMPL; }
  HRESULT Commit(DWORD) override {
    if (entry_ != &tree_->root) return S_OK;  // nested storages commit with the root
    auto bytes = writeCompoundFile(tree_->root);
    if (!bytes) return STG_E_MEDIUMFULL;
    return tree_->onCommit(std::move(*bytes));
  }
  HRESULT Revert() override { return E_NOTIMPL; }
  HRESULT EnumElements(DWORD, void*, DWORD, IEnumSTATSTG**) override { return E_NOTIMPL; }
  HRESULT DestroyElement(const OLECHAR* name) override {
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
    auto& c = entry_->clsid;
    for (int i = 0; i < 4; ++i) c[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(clsid.Data1 >> (8 * i));
    c[4] = static_cast<std::uint8_t>(clsid.Data2);
    c[5] = static_cast<std::uint8_t>(clsid.Data2 >> 8);
    c[6] = static_cast<std::uint8_t>(clsid.Data3);
    c[7] = static_cast<std::uint8_t>(clsid.Data3 >> 8);
    std::memcpy(c.data() + 8, clsid.Data4, 8);
    return S_OK;
  }
  HRESULT SetStateBits(DWORD, DWORD) override { return S_OK; }
  HRESULT Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }

 private:
  // A new child; an existing one of that name is replaced with STGM_CREATE.
  HRESULT make(const OLECHAR* name, DWORD mode, bool storage, CompoundEntry** out) {
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
