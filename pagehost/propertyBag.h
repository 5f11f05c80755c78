// The property bag a control loads its object tag's params from. Values are
// text, as the page wrote them; a control that asks for another type gets the
// text converted with VariantChangeType. Names match without regard to case,
// as HTML attribute names do.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <string>
#include <utility>
#include <vector>

#include "comfw/comObject.h"

namespace pagehost {

using ParamList = std::vector<std::pair<std::wstring, std::wstring>>;

class PropertyBag final : public comfw::ComObject<PropertyBag, IPropertyBag> {
public:
    explicit PropertyBag(ParamList params) : params_(std::move(params)) {}

    STDMETHODIMP Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) noexcept override;
    // A page is read-only: the host never saves a control's properties.
    STDMETHODIMP Write(LPCOLESTR, VARIANT*) noexcept override { return E_NOTIMPL; }

private:
    ParamList params_;
};

}  // namespace pagehost
