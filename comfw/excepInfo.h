// An EXCEPINFO that frees its strings when it goes. The fields stay public:
// callees fill them in through the EXCEPINFO* it converts to.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace comfw {

struct ExcepInfo : EXCEPINFO {
    ExcepInfo() noexcept : EXCEPINFO{} {}
    ExcepInfo(const ExcepInfo&) = delete;
    ExcepInfo& operator=(const ExcepInfo&) = delete;
    ~ExcepInfo() {
        ::SysFreeString(bstrSource);
        ::SysFreeString(bstrDescription);
        ::SysFreeString(bstrHelpFile);
    }
};

}  // namespace comfw
