// A COM enumerator over a snapshot of items (IEnumConnections,
// IEnumConnectionPoints, ...). Items hold their references while enumerated.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <vector>

#include "comfw/comObject.h"
#include "comfw/hresult.h"

namespace comfw {

inline void AddRefItem(IUnknown* p) noexcept { if (p) p->AddRef(); }
inline void ReleaseItem(IUnknown* p) noexcept { if (p) p->Release(); }
inline void AddRefItem(const CONNECTDATA& d) noexcept { if (d.pUnk) d.pUnk->AddRef(); }
inline void ReleaseItem(const CONNECTDATA& d) noexcept { if (d.pUnk) d.pUnk->Release(); }

template <class IEnum, class Item>
class Enumerator final : public ComObject<Enumerator<IEnum, Item>, IEnum> {
public:
    // Takes its own references on the items.
    explicit Enumerator(std::vector<Item> items) noexcept : items_(std::move(items)) {
        for (const Item& i : items_) AddRefItem(i);
    }
    ~Enumerator() override {
        for (const Item& i : items_) ReleaseItem(i);
    }

    STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) noexcept override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        for (; n < count && pos_ < items_.size(); ++n, ++pos_) {
            out[n] = items_[pos_];
            AddRefItem(out[n]);
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) noexcept override {
        const size_t left = items_.size() - pos_;
        pos_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() noexcept override {
        pos_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnum** out) noexcept override {
        if (!out) return E_POINTER;
        *out = nullptr;
        ComPtr<Enumerator> copy;
        try {
            COMFW_RETURN_IF_FAILED(Enumerator::Make(copy, items_));
        }
        COMFW_CATCH_RETURN()
        copy->pos_ = pos_;
        *out = copy.detach();
        return S_OK;
    }

private:
    std::vector<Item> items_;
    size_t pos_ = 0;
};

}  // namespace comfw
