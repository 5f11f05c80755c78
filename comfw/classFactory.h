// The class factory of one creatable class; instances may be aggregated.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "comfw/comObject.h"

namespace comfw {

template <class T>
class ClassFactory final : public ComObject<ClassFactory<T>, IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override {
        return T::CreateComInstance(outer, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) noexcept override {
        lock ? Module::Lock() : Module::Unlock();
        return S_OK;
    }
};

}  // namespace comfw
