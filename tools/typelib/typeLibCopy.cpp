#include "tools/typelib/typeLibCopy.h"

#include <deque>
#include <string>
#include <vector>

#include "comfw/bstr.h"
#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "comfw/scopeExit.h"
#include "comfw/variant.h"
#include "tools/typelib/failure.h"
#include "tools/typelib/typeInfoHeld.h"

namespace tlbtool {
namespace {

using comfw::Bstr;
using comfw::ComPtr;

class Copier {
public:
    Copier(ITypeLib* source, REFGUID memberHelp) : source_(source), memberHelp_(memberHelp) {}

    HRESULT Write(const wchar_t* path) {
        HeldLibAttr lib(source_);
        TLBTOOL_CHECK(source_->GetLibAttr(lib.put()), L"reading the library's attributes");
        TLBTOOL_CHECK(::CreateTypeLib2(lib->syskind, path, out_.put()), std::wstring(L"creating ") + path);
        Bstr name, doc, helpFile;
        DWORD context = 0;
        TLBTOOL_CHECK(source_->GetDocumentation(-1, name.put(), doc.put(), &context, helpFile.put()),
                      L"reading the library's help");
        TLBTOOL_CHECK(out_->SetGuid(lib->guid), L"library id");
        TLBTOOL_CHECK(out_->SetLcid(lib->lcid), L"library locale");
        TLBTOOL_CHECK(out_->SetVersion(lib->wMajorVerNum, lib->wMinorVerNum), L"library version");
        TLBTOOL_CHECK(out_->SetLibFlags(lib->wLibFlags), L"library flags");
        TLBTOOL_CHECK(out_->SetName(name.get()), L"library name");
        if (!doc.is_null()) TLBTOOL_CHECK(out_->SetDocString(doc.get()), L"library help string");
        if (context) TLBTOOL_CHECK(out_->SetHelpContext(context), L"library help context");
        if (!helpFile.is_null()) TLBTOOL_CHECK(out_->SetHelpFileName(helpFile.get()), L"library help file");

        // Every type exists before any is filled in: members refer to types
        // later in the library.
        const UINT count = source_->GetTypeInfoCount();
        made_.resize(count);
        for (UINT i = 0; i < count; ++i) TLBTOOL_CHECK(Create(i), L"creating type " + std::to_wstring(i));
        for (UINT i = 0; i < count; ++i) TLBTOOL_CHECK(Fill(i), L"copying type " + std::to_wstring(i));
        for (UINT i = 0; i < count; ++i) TLBTOOL_CHECK(made_[i]->LayOut(), L"laying out type " + std::to_wstring(i));
        TLBTOOL_CHECK(out_->SaveAllChanges(), std::wstring(L"saving ") + path);
        return S_OK;
    }

private:
    // The part of a type that holds its members: for a dual interface the
    // vtable half, which the writer turns into both halves again.
    HRESULT Body(UINT index, ComPtr<ITypeInfo>& body, bool& dual) {
        ComPtr<ITypeInfo> info;
        COMFW_RETURN_IF_FAILED(source_->GetTypeInfo(index, info.put()));
        HeldTypeAttr attr(info.get());
        COMFW_RETURN_IF_FAILED(info->GetTypeAttr(attr.put()));
        dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
        if (!dual) {
            body = info;
            return S_OK;
        }
        HREFTYPE vtable = 0;
        COMFW_RETURN_IF_FAILED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable));
        return info->GetRefTypeInfo(vtable, body.put());
    }

    HRESULT Create(UINT index) {
        ComPtr<ITypeInfo> body;
        bool dual = false;
        COMFW_RETURN_IF_FAILED(Body(index, body, dual));
        HeldTypeAttr attr(body.get());
        COMFW_RETURN_IF_FAILED(body->GetTypeAttr(attr.put()));
        Bstr name;
        COMFW_RETURN_IF_FAILED(source_->GetDocumentation(index, name.put(), nullptr, nullptr, nullptr));
        ComPtr<ICreateTypeInfo> created;
        COMFW_RETURN_IF_FAILED(out_->CreateTypeInfo(name.get(), attr->typekind, created.put()));
        return created.query(made_[index]);
    }

    HRESULT Fill(UINT index) {
        ComPtr<ITypeInfo> body;
        bool dual = false;
        COMFW_RETURN_IF_FAILED(Body(index, body, dual));
        ICreateTypeInfo2* to = made_[index].get();
        HeldTypeAttr attr(body.get());
        COMFW_RETURN_IF_FAILED(body->GetTypeAttr(attr.put()));
        if (attr->typekind == TKIND_ALIAS || attr->typekind == TKIND_UNION || attr->typekind == TKIND_RECORD ||
            attr->typekind == TKIND_MODULE)
            return Fail(E_NOTIMPL, L"a kind of type the library does not use");
        if (!::IsEqualGUID(attr->guid, GUID_NULL)) COMFW_RETURN_IF_FAILED(to->SetGuid(attr->guid));
        COMFW_RETURN_IF_FAILED(to->SetVersion(attr->wMajorVerNum, attr->wMinorVerNum));
        COMFW_RETURN_IF_FAILED(to->SetAlignment(attr->cbAlignment));
        Bstr doc;
        DWORD context = 0;
        COMFW_RETURN_IF_FAILED(source_->GetDocumentation(index, nullptr, doc.put(), &context, nullptr));
        if (!doc.is_null()) COMFW_RETURN_IF_FAILED(to->SetDocString(doc.get()));
        if (context) COMFW_RETURN_IF_FAILED(to->SetHelpContext(context));
        // Implemented interfaces first: the dual flag asks for IDispatch as base.
        for (UINT i = 0; i < attr->cImplTypes; ++i) {
            HREFTYPE ref = 0, mapped = 0;
            INT flags = 0;
            COMFW_RETURN_IF_FAILED(body->GetRefTypeOfImplType(i, &ref));
            COMFW_RETURN_IF_FAILED(MapRef(body.get(), ref, to, &mapped));
            COMFW_RETURN_IF_FAILED(to->AddImplType(i, mapped));
            COMFW_RETURN_IF_FAILED(body->GetImplTypeFlags(i, &flags));
            if (flags) COMFW_RETURN_IF_FAILED(to->SetImplTypeFlags(i, flags));
        }
        COMFW_RETURN_IF_FAILED(to->SetTypeFlags(attr->wTypeFlags));
        for (UINT i = 0; i < attr->cFuncs; ++i) COMFW_RETURN_IF_FAILED(CopyFunc(body.get(), i, to));
        for (UINT i = 0; i < attr->cVars; ++i)
            COMFW_RETURN_IF_FAILED(CopyVar(body.get(), i, to, attr->typekind == TKIND_ENUM));
        return S_OK;
    }

    HRESULT CopyFunc(ITypeInfo* from, UINT index, ICreateTypeInfo2* to) {
        HeldFuncDesc func(from);
        COMFW_RETURN_IF_FAILED(from->GetFuncDesc(index, func.put()));
        FUNCDESC copy = *func.get();
        std::deque<TYPEDESC> nodes;
        std::vector<ELEMDESC> params(func->lprgelemdescParam, func->lprgelemdescParam + func->cParams);
        COMFW_RETURN_IF_FAILED(MapTypeDesc(from, func->elemdescFunc.tdesc, to, nodes, copy.elemdescFunc.tdesc));
        for (ELEMDESC& param : params) COMFW_RETURN_IF_FAILED(MapTypeDesc(from, param.tdesc, to, nodes, param.tdesc));
        copy.lprgelemdescParam = params.empty() ? nullptr : params.data();
        COMFW_RETURN_IF_FAILED(to->AddFuncDesc(index, &copy));

        std::vector<BSTR> names(func->cParams + 1, nullptr);
        const auto freeNames = comfw::scope_exit([&names] {
            for (BSTR name : names) ::SysFreeString(name);
        });
        UINT named = 0;
        COMFW_RETURN_IF_FAILED(from->GetNames(func->memid, names.data(), static_cast<UINT>(names.size()), &named));
        COMFW_RETURN_IF_FAILED(to->SetFuncAndParamNames(index, names.data(), named));

        Bstr doc;
        DWORD context = 0;
        COMFW_RETURN_IF_FAILED(from->GetDocumentation(func->memid, nullptr, doc.put(), &context, nullptr));
        if (!doc.is_null()) COMFW_RETURN_IF_FAILED(to->SetFuncDocString(index, doc.get()));
        if (context) COMFW_RETURN_IF_FAILED(to->SetFuncHelpContext(index, context));
        return S_OK;
    }

    HRESULT CopyVar(ITypeInfo* from, UINT index, ICreateTypeInfo2* to, bool enumMember) {
        HeldVarDesc var(from);
        COMFW_RETURN_IF_FAILED(from->GetVarDesc(index, var.put()));
        VARDESC copy = *var.get();
        std::deque<TYPEDESC> nodes;
        COMFW_RETURN_IF_FAILED(MapTypeDesc(from, var->elemdescVar.tdesc, to, nodes, copy.elemdescVar.tdesc));
        COMFW_RETURN_IF_FAILED(to->AddVarDesc(index, &copy));
        Bstr name, doc;
        DWORD context = 0;
        COMFW_RETURN_IF_FAILED(from->GetDocumentation(var->memid, name.put(), doc.put(), &context, nullptr));
        COMFW_RETURN_IF_FAILED(to->SetVarName(index, name.get()));
        if (enumMember) COMFW_RETURN_IF_FAILED(MemberHelp(from, index, name, doc));
        if (!doc.is_null()) COMFW_RETURN_IF_FAILED(to->SetVarDocString(index, doc.get()));
        if (context) COMFW_RETURN_IF_FAILED(to->SetVarHelpContext(index, context));
        return S_OK;
    }

    // The member's help string from its custom datum, if it has one.
    HRESULT MemberHelp(ITypeInfo* from, UINT index, const Bstr& name, Bstr& doc) {
        ComPtr<ITypeInfo> info(from);
        ComPtr<ITypeInfo2> info2;
        COMFW_RETURN_IF_FAILED(info.query(info2));
        comfw::Variant value;
        const HRESULT hr = info2->GetVarCustData(index, memberHelp_, value.put());
        if (hr == TYPE_E_ELEMENTNOTFOUND || value.get().vt == VT_EMPTY) return S_OK;
        COMFW_RETURN_IF_FAILED(hr);
        if (value.get().vt != VT_BSTR) return Fail(DISP_E_TYPEMISMATCH, L"help of " + name.str() + L" is no string");
        if (!doc.is_null()) return Fail(E_INVALIDARG, L"two help strings for " + name.str());
        return comfw::Bstr::FromText(value.get().bstrVal, doc);
    }

    // A type description of the source with its references made in the copy.
    // in is a copy: out may be the very description being mapped.
    HRESULT MapTypeDesc(ITypeInfo* from, const TYPEDESC in, ICreateTypeInfo2* to, std::deque<TYPEDESC>& nodes,
                        TYPEDESC& out) {
        out = in;
        switch (in.vt) {
            case VT_PTR:
            case VT_SAFEARRAY:
                nodes.emplace_back();
                out.lptdesc = &nodes.back();
                return MapTypeDesc(from, *in.lptdesc, to, nodes, nodes.back());
            case VT_USERDEFINED:
                return MapRef(from, in.hreftype, to, &out.hreftype);
            case VT_CARRAY:
                return Fail(E_NOTIMPL, L"fixed arrays are not copied");
            default:
                return S_OK;
        }
    }

    // A type of this library is referred to as its copy; a type of another
    // library (stdole2's IDispatch) as itself.
    HRESULT MapRef(ITypeInfo* from, HREFTYPE ref, ICreateTypeInfo2* to, HREFTYPE* mapped) {
        ComPtr<ITypeInfo> target;
        COMFW_RETURN_IF_FAILED(from->GetRefTypeInfo(ref, target.put()));
        ComPtr<ITypeLib> lib;
        UINT index = 0;
        COMFW_RETURN_IF_FAILED(target->GetContainingTypeLib(lib.put(), &index));
        if (SameLibrary(lib.get())) {
            if (index >= made_.size()) return E_UNEXPECTED;
            COMFW_RETURN_IF_FAILED(made_[index].query(target));
        }
        return to->AddRefTypeInfo(target.get(), mapped);
    }

    bool SameLibrary(ITypeLib* lib) {
        HeldLibAttr a(lib), b(source_);
        if (FAILED(lib->GetLibAttr(a.put())) || FAILED(source_->GetLibAttr(b.put()))) return false;
        return ::IsEqualGUID(a->guid, b->guid);
    }

    ITypeLib* source_;
    GUID memberHelp_;
    ComPtr<ICreateTypeLib2> out_;
    std::vector<ComPtr<ICreateTypeInfo2>> made_;
};

}  // namespace

HRESULT CopyWithMemberHelp(ITypeLib* source, REFGUID memberHelp, const wchar_t* path) {
    return Copier(source, memberHelp).Write(path);
}

}  // namespace tlbtool
