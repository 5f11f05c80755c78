#include "win32/plugin/consoleCall.h"

namespace zova::detail {

HRESULT InvokeConsole(IDispatch* object, DISPID id, VARIANTARG* lastFirst, UINT count, VARIANT* result) noexcept {
    if (!object) return E_POINTER;
    DISPPARAMS params{lastFirst, nullptr, count, 0};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
}

}  // namespace zova::detail
