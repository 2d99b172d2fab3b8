#include "engine/mapiout/object_copy.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "engine/core/code_page.h"
#include "engine/file/file_error.h"
#include "engine/file/temp_files.h"
#include "mapi/mapicode.h"
#include "mapi/mapiguid.h"

namespace vexl {
namespace {

using namespace mapi;

// The temporary file of one object, removed on every path once named.
class TempFile {
 public:
  TempFile() : path_(makeTempFileName()) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove(path_, ignored);
  }
  const std::string& path() const { return path_; }

  // False when the file cannot be made or written; a failed write costs
  // this object only.
  bool write(const std::vector<unsigned char>& bytes) const {
    if (path_.empty()) return false;
    try {
      return writeBufferToFile(path_, bytes.data(), bytes.size()) != 0;
    } catch (const FileError&) {
      return false;
    }
  }

 private:
  std::string path_;
};

// One reference, released when it goes.
template <typename T>
struct Held {
  T* p = nullptr;
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (p != nullptr) p->Release();
  }
  LPUNKNOWN* unknown() { return reinterpret_cast<LPUNKNOWN*>(&p); }
};

// The object's subnode: the first 32 bits of the value ([MS-PST] 2.3.3.5).
std::uint32_t objectNid(const SPropValue& record) {
  std::uint32_t nid = 0;
  std::memcpy(&nid, &record.Value, sizeof nid);
  return nid;
}

int copyStorage(IStorage& source, ULONG tag, IMAPIProp& target) {
  Held<IStorage> destination;
  if (FAILED(target.OpenProperty(tag, &IID_IStorage, 0, kOpenObjectFlags, destination.unknown())) ||
      destination.p == nullptr)
    return 0;
  if (FAILED(source.CopyTo(0, nullptr, nullptr, destination.p))) return 0;
  return SUCCEEDED(destination.p->Commit(STGC_DEFAULT)) ? 1 : 0;
}

int copyEmbeddedMessage(const EmbeddedMessageFill& fillEmbedded, NdbNode& node, const SPropValue& record,
                        IMAPIProp& target) {
  Held<IMessage> message;
  if (FAILED(target.OpenProperty(record.ulPropTag, &IID_IMessage, 0, kOpenObjectFlags, message.unknown())) ||
      message.p == nullptr)
    return 0;
  NdbNode* subnode = node.subnodeMap ? node.subnodeMap->find(objectNid(record)) : nullptr;
  if (subnode == nullptr || !fillEmbedded) return 0;
  return fillEmbedded(*subnode, message.p) != 0 ? 1 : 0;
}

}  // namespace

int copyObjectProp(EngineContext& engine, const EmbeddedMessageFill& fillEmbedded, NdbNode& node,
                   const SPropValue& record, IMAPIProp* target) {
  if (target == nullptr) return 0;
  std::vector<unsigned char> data;
  if (node.readSubnodeData(objectNid(record), data) == 0) return 0;
  const TempFile temp;
  if (!temp.write(data)) return 0;
  data = {};  // the file holds them now

  Held<IStorage> source;
  const std::u16string name = utf8ToUtf16(temp.path());
  const HRESULT opened = StgOpenStorage(name.c_str(), nullptr, kOpenSourceStorageMode, nullptr, 0, &source.p);
  if (SUCCEEDED(opened) && source.p != nullptr) {
    engine.report(LogLine, kStrRecoverOleObject);
    return copyStorage(*source.p, record.ulPropTag, *target);
  }
  if (opened == STG_E_FILEALREADYEXISTS) return copyEmbeddedMessage(fillEmbedded, node, record, *target);
  return 0;  // a damaged compound file: the property stays unwritten
}

}  // namespace vexl
