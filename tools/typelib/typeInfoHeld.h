// Owners for the descriptions that ITypeInfo and ITypeLib lend out: each is
// given back to the object that made it, on every path.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace tlbtool {

template <class Source, class T, void (STDMETHODCALLTYPE Source::*Free)(T*)>
class Held {
public:
    explicit Held(Source* source) noexcept : source_(source) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (p_) (source_->*Free)(p_);
    }
    T** put() noexcept { return &p_; }
    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }

private:
    Source* source_;
    T* p_ = nullptr;
};

using HeldLibAttr = Held<ITypeLib, TLIBATTR, &ITypeLib::ReleaseTLibAttr>;
using HeldTypeAttr = Held<ITypeInfo, TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using HeldFuncDesc = Held<ITypeInfo, FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using HeldVarDesc = Held<ITypeInfo, VARDESC, &ITypeInfo::ReleaseVarDesc>;

}  // namespace tlbtool
