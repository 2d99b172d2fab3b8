// IMAPITable over rows fixed when the table is made.
#include <algorithm>

#include "mapi/store/com_object.h"
#include "mapi/store/objects.h"

namespace vexl::mapi::store {
namespace {

class RowTable final : public ComObject<RowTable, IMAPITable> {
 public:
  explicit RowTable(std::vector<PropMap> rows) : rows_(std::move(rows)) {
    for (const auto& row : rows_)
      for (const auto& [tag, bytes] : row)
        if (std::find(columns_.begin(), columns_.end(), tag) == columns_.end()) columns_.push_back(tag);
  }

  HRESULT QueryInterface(REFIID riid, LPVOID* out) override { return answer(riid, out, {IID_IMAPITable}); }
  HRESULT GetLastError(HRESULT, ULONG, LPMAPIERROR* err) override {
    if (err) *err = nullptr;
    return MAPI_E_NO_SUPPORT;
  }
  HRESULT Advise(ULONG, LPMAPIADVISESINK, ULONG_PTR*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT Unadvise(ULONG_PTR) override { return MAPI_E_NO_SUPPORT; }
  HRESULT GetStatus(ULONG* status, ULONG* type) override {
    if (status) *status = 0;  // TBLSTAT_COMPLETE
    if (type) *type = 1;      // TBLTYPE_SNAPSHOT
    return S_OK;
  }
  HRESULT SetColumns(LPSPropTagArray tags, ULONG) override {
    if (!tags) return MAPI_E_INVALID_PARAMETER;
    columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
    return S_OK;
  }
  HRESULT QueryColumns(ULONG, LPSPropTagArray* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    void* p = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSPropTagArray(columns_.size() + 1)), &p) != S_OK)
      return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* arr = static_cast<LPSPropTagArray>(p);
    arr->cValues = static_cast<ULONG>(columns_.size());
    std::copy(columns_.begin(), columns_.end(), arr->aulPropTag);
    *out = arr;
    return S_OK;
  }
  HRESULT GetRowCount(ULONG, ULONG* count) override {
    if (!count) return MAPI_E_INVALID_PARAMETER;
    *count = static_cast<ULONG>(rows_.size());
    return S_OK;
  }
  HRESULT SeekRow(BOOKMARK origin, LONG rows, LONG* sought) override {
    long long base = 0;
    if (origin == BOOKMARK_BEGINNING) base = 0;
    else if (origin == BOOKMARK_CURRENT) base = static_cast<long long>(cursor_);
    else if (origin == BOOKMARK_END) base = static_cast<long long>(rows_.size());
    else return MAPI_E_INVALID_BOOKMARK;
    const long long target = std::clamp<long long>(base + rows, 0, static_cast<long long>(rows_.size()));
    if (sought) *sought = static_cast<LONG>(target - base);
    cursor_ = static_cast<std::size_t>(target);
    return S_OK;
  }
  HRESULT SeekRowApprox(ULONG num, ULONG den) override {
    if (den == 0) return MAPI_E_INVALID_PARAMETER;
    cursor_ = static_cast<std::size_t>(std::uint64_t{num} * rows_.size() / den);
    cursor_ = std::min(cursor_, rows_.size());
    return S_OK;
  }
  HRESULT QueryPosition(ULONG* row, ULONG* num, ULONG* den) override {
    if (row) *row = static_cast<ULONG>(cursor_);
    if (num) *num = static_cast<ULONG>(cursor_);
    if (den) *den = static_cast<ULONG>(rows_.size());
    return S_OK;
  }
  HRESULT FindRow(LPSRestriction, BOOKMARK, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT Restrict(LPSRestriction, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT CreateBookmark(BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT FreeBookmark(BOOKMARK) override { return MAPI_E_NO_SUPPORT; }
  HRESULT SortTable(LPSSortOrderSet, ULONG) override { return MAPI_E_NO_SUPPORT; }
  HRESULT QuerySortOrder(LPSSortOrderSet*) override { return MAPI_E_NO_SUPPORT; }

  HRESULT QueryRows(LONG count, ULONG, LPSRowSet* out) override {
    if (!out) return MAPI_E_INVALID_PARAMETER;
    *out = nullptr;
    if (count < 0) return MAPI_E_NO_SUPPORT;  // reading backwards is not offered
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), rows_.size() - cursor_);
    void* p = nullptr;
    if (MAPIAllocateBuffer(static_cast<ULONG>(CbNewSRowSet(n + 1)), &p) != S_OK) return MAPI_E_NOT_ENOUGH_MEMORY;
    auto* set = static_cast<LPSRowSet>(p);
    set->cRows = 0;
    for (std::size_t r = 0; r < n; ++r) {
      const PropMap& row = rows_[cursor_ + r];
      std::vector<WantedProp> cells;
      for (ULONG col : columns_) {
        auto it = findById(row, col);
        const bool match = it != row.end() && (PROP_TYPE(it->first) == PROP_TYPE(col) ||
                                               PROP_TYPE(col) == PT_STRING8 || PROP_TYPE(col) == PT_UNICODE);
        cells.push_back({col, match ? it->first : col, match ? &it->second : nullptr});
      }
      ULONG values = 0;
      LPSPropValue props = nullptr;
      if (FAILED(allocPropArray(cells, &values, &props))) {
        set->cRows = static_cast<ULONG>(r);
        FreeRows(set);
        return MAPI_E_NOT_ENOUGH_MEMORY;
      }
      set->aRow[r] = SRow{0, values, props};
      set->cRows = static_cast<ULONG>(r + 1);
    }
    cursor_ += n;
    *out = set;
    return S_OK;
  }
  HRESULT Abort() override { return S_OK; }
  HRESULT ExpandRow(ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT CollapseRow(ULONG, LPBYTE, ULONG, ULONG*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT WaitForCompletion(ULONG, ULONG, ULONG* status) override {
    if (status) *status = 0;
    return S_OK;
  }
  HRESULT GetCollapseState(ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*) override { return MAPI_E_NO_SUPPORT; }
  HRESULT SetCollapseState(ULONG, ULONG, LPBYTE, BOOKMARK*) override { return MAPI_E_NO_SUPPORT; }

 private:
  static void FreeRows(LPSRowSet set) {
    for (ULONG i = 0; i < set->cRows; ++i) MAPIFreeBuffer(set->aRow[i].lpProps);
    MAPIFreeBuffer(set);
  }
  std::vector<PropMap> rows_;
  std::vector<ULONG> columns_;
  std::size_t cursor_ = 0;
};

}  // namespace

LPMAPITABLE makeRowTable(std::vector<PropMap> rows) { return new RowTable(std::move(rows)); }

}  // namespace vexl::mapi::store
