#include "comfw/oleControlProperties.h"

#include "comfw/hresult.h"

namespace comfw {
namespace props {
namespace {

constexpr DWORD kMagic = 0x4D504643;  // "CFPM" read as little-endian bytes
constexpr DWORD kVersion = 1;
// A name longer than this is no property name of ours: the stream is damaged.
constexpr DWORD kMaxNameChars = 256;
// Nor is a text value longer than this (in bytes).
constexpr DWORD kMaxBstrBytes = 16u << 20;

// Bytes of the value of a fixed-size type; 0 for others.
ULONG FixedSize(VARTYPE vt) noexcept {
    switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    default: return 0;
    }
}

HRESULT WriteAll(IStream* s, const void* data, ULONG size) noexcept {
    ULONG written = 0;
    const HRESULT hr = s->Write(data, size, &written);
    if (FAILED(hr)) return hr;
    return written == size ? S_OK : STG_E_WRITEFAULT;
}

HRESULT ReadAll(IStream* s, void* data, ULONG size) noexcept {
    ULONG read = 0;
    const HRESULT hr = s->Read(data, size, &read);
    if (FAILED(hr)) return hr;
    return read == size ? S_OK : STG_E_READFAULT;
}

// The bytes of a fixed-size value inside a VARIANT's union.
const void* FixedData(const VARIANT& v) noexcept { return &v.llVal; }
void* FixedData(VARIANT& v) noexcept { return &v.llVal; }

}  // namespace

HRESULT WriteHeader(IStream* stream, DWORD count) noexcept {
    if (!stream) return E_POINTER;
    const DWORD header[3] = {kMagic, kVersion, count};
    return WriteAll(stream, header, sizeof(header));
}

HRESULT ReadHeader(IStream* stream, DWORD* count) noexcept {
    if (!stream) return E_POINTER;
    DWORD header[3] = {};
    COMFW_RETURN_IF_FAILED(ReadAll(stream, header, sizeof(header)));
    if (header[0] != kMagic || header[1] != kVersion) return STG_E_INVALIDHEADER;
    *count = header[2];
    return S_OK;
}

ULONG RecordSize(const wchar_t* name, const VARIANT& value) noexcept {
    const ULONG head = sizeof(DWORD) + static_cast<ULONG>(wcslen(name)) * sizeof(wchar_t) + sizeof(WORD);
    if (value.vt == VT_BSTR) return head + sizeof(DWORD) + ::SysStringByteLen(value.bstrVal);
    const ULONG fixed = FixedSize(value.vt);
    return fixed ? head + fixed : 0;
}

HRESULT WriteRecord(IStream* stream, const wchar_t* name, const VARIANT& value) noexcept {
    if (value.vt != VT_BSTR && FixedSize(value.vt) == 0) return DISP_E_BADVARTYPE;
    const DWORD chars = static_cast<DWORD>(wcslen(name));
    COMFW_RETURN_IF_FAILED(WriteAll(stream, &chars, sizeof(chars)));
    COMFW_RETURN_IF_FAILED(WriteAll(stream, name, chars * sizeof(wchar_t)));
    const WORD vt = value.vt;
    COMFW_RETURN_IF_FAILED(WriteAll(stream, &vt, sizeof(vt)));
    if (value.vt == VT_BSTR) {
        const DWORD bytes = ::SysStringByteLen(value.bstrVal);
        COMFW_RETURN_IF_FAILED(WriteAll(stream, &bytes, sizeof(bytes)));
        return WriteAll(stream, value.bstrVal, bytes);
    }
    return WriteAll(stream, FixedData(value), FixedSize(value.vt));
}

HRESULT ReadRecord(IStream* stream, std::wstring& name, Variant& value) noexcept {
    DWORD chars = 0;
    COMFW_RETURN_IF_FAILED(ReadAll(stream, &chars, sizeof(chars)));
    if (chars > kMaxNameChars) return STG_E_DOCFILECORRUPT;
    try {
        name.assign(chars, L'\0');
    }
    COMFW_CATCH_RETURN()
    COMFW_RETURN_IF_FAILED(ReadAll(stream, name.data(), chars * sizeof(wchar_t)));
    WORD vt = 0;
    COMFW_RETURN_IF_FAILED(ReadAll(stream, &vt, sizeof(vt)));
    VARIANT* v = value.put();
    if (vt == VT_BSTR) {
        DWORD bytes = 0;
        COMFW_RETURN_IF_FAILED(ReadAll(stream, &bytes, sizeof(bytes)));
        if (bytes > kMaxBstrBytes) return STG_E_DOCFILECORRUPT;
        BSTR text = ::SysAllocStringByteLen(nullptr, bytes);
        if (!text) return E_OUTOFMEMORY;
        v->vt = VT_BSTR;
        v->bstrVal = text;  // owned by `value` from here
        return ReadAll(stream, text, bytes);
    }
    const ULONG fixed = FixedSize(vt);
    if (fixed == 0) return STG_E_DOCFILECORRUPT;
    COMFW_RETURN_IF_FAILED(ReadAll(stream, FixedData(*v), fixed));
    v->vt = vt;
    return S_OK;
}

}  // namespace props
}  // namespace comfw
