#include "tools/typelib/failure.h"

#include <cstdio>

namespace tlbtool {

HRESULT Fail(HRESULT status, const std::wstring& what) {
    std::fwprintf(stderr, L"tlbtool: %ls failed: 0x%08lX\n", what.c_str(), static_cast<unsigned long>(status));
    return status;
}

}  // namespace tlbtool
