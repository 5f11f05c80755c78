// Failures of the build tool: each is printed where it happens, with what was
// being done, and its status is returned upward.
#pragma once

#include <windows.h>

#include <string>

namespace tlbtool {

HRESULT Fail(HRESULT status, const std::wstring& what);

}  // namespace tlbtool

#define TLBTOOL_CHECK(expr, what)                                      \
    do {                                                               \
        const HRESULT tlbtool_hr_ = (expr);                            \
        if (FAILED(tlbtool_hr_)) return ::tlbtool::Fail(tlbtool_hr_, what); \
    } while (0)
