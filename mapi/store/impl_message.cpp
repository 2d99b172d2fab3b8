// IMessage and IAttach. A message keeps its properties, recipients and
// attachments in memory until SaveChanges writes the message node whole;
// an attachment's SaveChanges hands its data to its message, an embedded
// message's SaveChanges to its attachment.
#include <map>

#include "mapi/store/com_object.h"
#include "mapi/store/objects.h"

namespace vexl::mapi::store {
namespace {

class Attach;

std::uint64_t sizeOf(const pst::MessageData& m) {
  std::uint64_t n = 0;
  auto props = [&n](const PropMap& p) {
    for (const auto& [t, b] : p) n += b.size() + 16;
  };
  props(m.props);
  for (const auto& r : m.recipients) props(r);
  for (const auto& a : m.attachments) {
    props(a.props);
    n += a.object.size();
    if (a.embedded) n += sizeOf(*a.embedded);
  }
  return n;
}

class Message final : public PropObject<Message, IMessage> {
 public:
  Message(std::shared_ptr<StoreContext> ctx, pst::Nid folder, Attach* parent, const pst::MessageData* initial,
          pst::Nid nid = 0);
  ~Message() override;

  HRESULT QueryInterface(REFIID riid, LPVOID* out) override { return answer(riid, out, {IID_IMAPIProp, IID_IMessage}); }
  HRESULT SaveChanges(ULONG flags) override;
  HRESULT GetAttachmentTable(ULONG, LPMAPITABLE* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    std::vector<PropMap> rows;
    for (const auto& [num, a] : attachments_) {
      PropMap row = a.props;
      row[PR_ATTACH_NUM] = pst::value::uint32(num);
      rows.push_back(std::move(row));
    }
    *out = makeRowTable(std::move(rows));
    return S_OK;
  }
  HRESULT OpenAttach(ULONG, LPCIID, ULONG, LPATTACH* out) override {
    if (out) *out = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT CreateAttach(LPCIID iid, ULONG, ULONG* num, LPATTACH* out) override;
  HRESULT DeleteAttach(ULONG num, ULONG_PTR, LPMAPIPROGRESS, ULONG) override {
    return attachments_.erase(num) ? S_OK : MAPI_E_NOT_FOUND;
  }
  HRESULT GetRecipientTable(ULONG, LPMAPITABLE* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    std::vector<PropMap> rows = recipients_;
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i][PR_ROWID] = pst::value::uint32(static_cast<std::uint32_t>(i));
    *out = makeRowTable(std::move(rows));
    return S_OK;
  }
  HRESULT ModifyRecipients(ULONG flags, LPADRLIST mods) override {
    if (!mods) return MAPI_E_INVALID_PARAMETER;
    if (flags & (MODRECIP_MODIFY | MODRECIP_REMOVE)) return MAPI_E_NO_SUPPORT;
    std::vector<PropMap> added;
    for (ULONG i = 0; i < mods->cEntries; ++i) {
      const ADRENTRY& e = mods->aEntries[i];
      if (e.cValues && !e.rgPropVals) return MAPI_E_INVALID_PARAMETER;
      PropMap row;
      for (ULONG k = 0; k < e.cValues; ++k) {
        const SPropValue& v = e.rgPropVals[k];
        // Row ids are the message's to assign; errors carry no value.
        if (PROP_ID(v.ulPropTag) == PROP_ID(PR_ROWID) || isComputedTag(v.ulPropTag)) continue;
        if (auto stored = toStored(v, ctx_->stringType())) replaceById(row, stored->first, std::move(stored->second));
      }
      added.push_back(std::move(row));
    }
    if (!(flags & MODRECIP_ADD)) recipients_.clear();  // no flag: the list replaces the recipients
    for (auto& r : added) recipients_.push_back(std::move(r));
    return S_OK;
  }
  HRESULT SubmitMessage(ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT SetReadFlag(ULONG) override { return MAPI_E_NO_SUPPORT; }

  void putAttachment(ULONG num, pst::AttachmentData data) { attachments_[num] = std::move(data); }
  pst::MessageData data() const {
    pst::MessageData m;
    m.props = props_;
    m.recipients = recipients_;
    for (const auto& [num, a] : attachments_) m.attachments.push_back(a);
    return m;
  }
  std::shared_ptr<StoreContext> ctx_;

 protected:
  PropMap currentProps() override {
    PropMap props = props_;
    props[PR_OBJECT_TYPE] = pst::value::int32(MAPI_MESSAGE);
    props[PR_HASATTACH] = pst::value::boolean(!attachments_.empty());
    if (nid_ != 0) props[PR_ENTRYID] = ctx_->builder().entryId(nid_);
    return props;
  }
  SCODE store(ULONG tag, std::vector<std::uint8_t> bytes) override {
    replaceById(props_, tag, std::move(bytes));
    return S_OK;
  }
  void erase(ULONG tag) override { eraseById(props_, tag); }
  bool readOnly(ULONG tag) const override {
    const ULONG id = PROP_ID(tag);
    return id == PROP_ID(PR_HASATTACH) || id == PROP_ID(PR_MESSAGE_SIZE) || id == 0x0E02 || id == 0x0E03 ||
           id == 0x0E04;
  }
  HRESULT usable() override {
    return parent_ || ctx_->builder().hasFolder(folder_) ? S_OK : MAPI_E_OBJECT_DELETED;
  }
  StoreContext& context() override { return *ctx_; }
  ULONG stringType() override { return ctx_->stringType(); }

 private:
  pst::Nid folder_;
  pst::Nid nid_ = 0;
  bool saveTried_ = false;
  Attach* parent_;
  PropMap props_;
  std::vector<PropMap> recipients_;
  std::map<ULONG, pst::AttachmentData> attachments_;
  ULONG nextAttach_ = 0;
};

class Attach final : public PropObject<Attach, IAttach> {
 public:
  Attach(Message* owner, ULONG num) : owner_(owner), num_(num) { owner_->AddRef(); }
  ~Attach() override { owner_->Release(); }

  HRESULT QueryInterface(REFIID riid, LPVOID* out) override {
    return answer(riid, out, {IID_IMAPIProp, IID_IAttachment});
  }
  HRESULT SaveChanges(ULONG) override {
    owner_->putAttachment(num_, data_);
    return S_OK;
  }
  HRESULT OpenProperty(ULONG tag, LPCIID iid, ULONG, ULONG flags, LPUNKNOWN* out) override {
    if (!out || !iid) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (tag != PR_ATTACH_DATA_OBJ) return MAPI_E_NO_SUPPORT;
    if (*iid == IID_IMessage) {
      if (!data_.embedded && !(flags & MAPI_CREATE)) return MAPI_E_NOT_FOUND;
      *out = new Message(owner_->ctx_, 0, this, data_.embedded.get());
      return S_OK;
    }
    if (*iid == IID_IStorage) {
      // The compound file's bytes become the object when the root storage
      // is committed; the attachment still needs its own SaveChanges.
      *out = makeStorage(
          [this](std::vector<std::uint8_t> bytes) {
            data_.embedded.reset();
            data_.object = std::move(bytes);
            data_.hasObject = true;
            return S_OK;
          },
          this);
      return S_OK;
    }
    return MAPI_E_INTERFACE_NOT_SUPPORTED;
  }
  void putEmbedded(pst::MessageData m) {
    data_.embedded = std::make_shared<pst::MessageData>(std::move(m));
    data_.object.clear();
    data_.hasObject = false;
  }

 protected:
  PropMap currentProps() override {
    PropMap props = data_.props;
    props[PR_ATTACH_NUM] = pst::value::uint32(num_);
    props[PR_OBJECT_TYPE] = pst::value::int32(MAPI_ATTACH);
    return props;
  }
  SCODE store(ULONG tag, std::vector<std::uint8_t> bytes) override {
    replaceById(data_.props, tag, std::move(bytes));
    return S_OK;
  }
  void erase(ULONG tag) override { eraseById(data_.props, tag); }
  bool readOnly(ULONG tag) const override { return PROP_ID(tag) == PROP_ID(PR_ATTACH_NUM); }
  StoreContext& context() override { return *owner_->ctx_; }
  ULONG stringType() override { return owner_->ctx_->stringType(); }

 private:
  Message* owner_;
  ULONG num_;
  pst::AttachmentData data_;
};

Message::Message(std::shared_ptr<StoreContext> ctx, pst::Nid folder, Attach* parent, const pst::MessageData* initial,
                 pst::Nid nid)
    : ctx_(std::move(ctx)), folder_(folder), nid_(nid), parent_(parent) {
  if (parent_) parent_->AddRef();
  if (initial) {
    props_ = initial->props;
    recipients_ = initial->recipients;
    for (const auto& a : initial->attachments) attachments_[nextAttach_++] = a;
  }
}

Message::~Message() {
  if (parent_) parent_->Release();
  // A message never offered for saving gives its NID up. One whose save
  // was refused keeps it reserved, so that DeleteMessages can still name it.
  if (!parent_ && nid_ != 0 && !saveTried_) ctx_->builder().forgetMessageNid(nid_);
}

HRESULT Message::CreateAttach(LPCIID iid, ULONG, ULONG* num, LPATTACH* out) {
  if (!out) return MAPI_E_INVALID_PARAMETER;
  *out = nullptr;
  if (HRESULT hr = usable(); FAILED(hr)) return hr;
  if (iid && *iid != IID_IAttachment && *iid != IID_IMAPIProp && *iid != IID_IUnknown)
    return MAPI_E_INTERFACE_NOT_SUPPORTED;
  const ULONG n = nextAttach_++;
  if (num) *num = n;
  *out = new Attach(this, n);
  return S_OK;
}

HRESULT Message::SaveChanges(ULONG) {
  if (HRESULT hr = usable(); FAILED(hr)) return hr;
  pst::MessageData m = data();
  if (parent_) {
    parent_->putEmbedded(std::move(m));
    return S_OK;
  }
  saveTried_ = true;
  if (HRESULT hr = ctx_->reserve(sizeOf(m)); FAILED(hr)) return hr;
  try {
    ctx_->builder().writeMessage(folder_, nid_, m);
  } catch (...) {
    return errorFromException();
  }
  return ctx_->afterMessage();
}

}  // namespace

LPMESSAGE makeMessage(std::shared_ptr<StoreContext> ctx, pst::Nid folder, pst::Nid nid) {
  return new Message(std::move(ctx), folder, nullptr, nullptr, nid);
}

}  // namespace vexl::mapi::store
