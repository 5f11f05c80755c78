#include "tools/typelib/typeLibModel.h"

#include "comfw/bstr.h"
#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "comfw/variant.h"
#include "tools/typelib/typeInfoHeld.h"

namespace tlbtool {
namespace {

using comfw::Bstr;
using comfw::ComPtr;

HRESULT ReadType(ITypeInfo* info, const TYPEDESC& desc, TypeRef& out) {
    out = TypeRef{};
    const TYPEDESC* d = &desc;
    while (d->vt == VT_PTR) {
        ++out.pointers;
        d = d->lptdesc;
    }
    out.vt = d->vt;
    if (d->vt != VT_USERDEFINED) return S_OK;
    ComPtr<ITypeInfo> ref;
    COMFW_RETURN_IF_FAILED(info->GetRefTypeInfo(d->hreftype, ref.put()));
    Bstr name;
    COMFW_RETURN_IF_FAILED(ref->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr));
    HeldTypeAttr attr(ref.get());
    COMFW_RETURN_IF_FAILED(ref->GetTypeAttr(attr.put()));
    out.name = name.str();
    out.kind = attr->typekind;
    return S_OK;
}

HRESULT ReadMethod(ITypeInfo* info, UINT index, Method& out) {
    HeldFuncDesc func(info);
    COMFW_RETURN_IF_FAILED(info->GetFuncDesc(index, func.put()));
    out.id = func->memid;
    out.invoke = func->invkind;
    out.funcKind = func->funckind;
    out.flags = func->wFuncFlags;
    out.vararg = func->cParamsOpt == -1;
    out.slot = func->funckind == FUNC_DISPATCH ? -1 : func->oVft / static_cast<int>(sizeof(void*));
    COMFW_RETURN_IF_FAILED(ReadType(info, func->elemdescFunc.tdesc, out.returns));

    std::vector<BSTR> names(func->cParams + 1, nullptr);
    UINT named = 0;
    const HRESULT hr = info->GetNames(func->memid, names.data(), static_cast<UINT>(names.size()), &named);
    std::vector<Bstr> owned;
    for (BSTR name : names) owned.push_back(Bstr::Attach(name));
    COMFW_RETURN_IF_FAILED(hr);
    out.name = owned[0].str();
    out.params.resize(func->cParams);
    for (SHORT i = 0; i < func->cParams; ++i) {
        const ELEMDESC& param = func->lprgelemdescParam[i];
        out.params[i].name = owned[i + 1].str();
        out.params[i].flags = param.paramdesc.wParamFlags;
        COMFW_RETURN_IF_FAILED(ReadType(info, param.tdesc, out.params[i].type));
    }
    Bstr help;
    COMFW_RETURN_IF_FAILED(info->GetDocumentation(func->memid, nullptr, help.put(), nullptr, nullptr));
    out.help = help.str();
    return S_OK;
}

HRESULT ReadConstant(ITypeInfo* info, UINT index, Constant& out) {
    HeldVarDesc var(info);
    COMFW_RETURN_IF_FAILED(info->GetVarDesc(index, var.put()));
    if (var->varkind != VAR_CONST || !var->lpvarValue) return E_NOTIMPL;
    comfw::Variant value;
    COMFW_RETURN_IF_FAILED(::VariantChangeType(value.put(), var->lpvarValue, 0, VT_I4));
    Bstr name, help;
    COMFW_RETURN_IF_FAILED(info->GetDocumentation(var->memid, name.put(), help.put(), nullptr, nullptr));
    out.id = var->memid;
    out.name = name.str();
    out.help = help.str();
    out.value = value.get().lVal;
    return S_OK;
}

HRESULT ReadMembers(ITypeInfo* info, TypeEntry& out) {
    HeldTypeAttr attr(info);
    COMFW_RETURN_IF_FAILED(info->GetTypeAttr(attr.put()));
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> implemented;
        Bstr name;
        Implemented entry;
        COMFW_RETURN_IF_FAILED(info->GetRefTypeOfImplType(i, &ref));
        COMFW_RETURN_IF_FAILED(info->GetRefTypeInfo(ref, implemented.put()));
        COMFW_RETURN_IF_FAILED(implemented->GetDocumentation(MEMBERID_NIL, name.put(), nullptr, nullptr, nullptr));
        COMFW_RETURN_IF_FAILED(info->GetImplTypeFlags(i, &entry.flags));
        entry.name = name.str();
        out.implemented.push_back(std::move(entry));
    }
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        Method method;
        const HRESULT hr = ReadMethod(info, i, method);
        // Wine counts IDispatch's seven methods in the function count of a
        // dispinterface that its own type-library writer wrote; the declared
        // ones come first and the rest are not there.
        if (hr == TYPE_E_ELEMENTNOTFOUND && attr->typekind == TKIND_DISPATCH && i > 0) break;
        COMFW_RETURN_IF_FAILED(hr);
        out.methods.push_back(std::move(method));
    }
    for (UINT i = 0; i < attr->cVars; ++i) {
        Constant constant;
        COMFW_RETURN_IF_FAILED(ReadConstant(info, i, constant));
        out.constants.push_back(std::move(constant));
    }
    return S_OK;
}

HRESULT ReadEntry(ITypeLib* lib, UINT index, TypeEntry& out) {
    ComPtr<ITypeInfo> info;
    COMFW_RETURN_IF_FAILED(lib->GetTypeInfo(index, info.put()));
    HeldTypeAttr attr(info.get());
    COMFW_RETURN_IF_FAILED(info->GetTypeAttr(attr.put()));
    Bstr name, help;
    COMFW_RETURN_IF_FAILED(lib->GetDocumentation(index, name.put(), help.put(), nullptr, nullptr));
    out.kind = attr->typekind;
    out.dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
    out.name = name.str();
    out.help = help.str();
    out.guid = attr->guid;
    out.flags = attr->wTypeFlags;
    if (!out.dual) return ReadMembers(info.get(), out);
    // The vtable half has the methods as declared, with slots and out,retval.
    HREFTYPE vtable = 0;
    ComPtr<ITypeInfo> body;
    COMFW_RETURN_IF_FAILED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable));
    COMFW_RETURN_IF_FAILED(info->GetRefTypeInfo(vtable, body.put()));
    return ReadMembers(body.get(), out);
}

}  // namespace

HRESULT ReadLibrary(ITypeLib* lib, Library& out) {
    out = Library{};
    HeldLibAttr attr(lib);
    COMFW_RETURN_IF_FAILED(lib->GetLibAttr(attr.put()));
    Bstr name, help;
    COMFW_RETURN_IF_FAILED(lib->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr));
    out.name = name.str();
    out.help = help.str();
    out.guid = attr->guid;
    out.major = attr->wMajorVerNum;
    out.minor = attr->wMinorVerNum;
    out.lcid = attr->lcid;
    out.types.resize(lib->GetTypeInfoCount());
    for (UINT i = 0; i < out.types.size(); ++i) COMFW_RETURN_IF_FAILED(ReadEntry(lib, i, out.types[i]));
    return S_OK;
}

std::vector<Param> ScriptParams(const Method& method) {
    std::vector<Param> params;
    for (const Param& param : method.params)
        if (!(param.flags & PARAMFLAG_FRETVAL)) params.push_back(param);
    return params;
}

TypeRef ScriptResult(const Method& method) {
    for (const Param& param : method.params) {
        if (!(param.flags & PARAMFLAG_FRETVAL)) continue;
        TypeRef result = param.type;
        --result.pointers;
        return result;
    }
    // A dispatch member may return its value directly.
    if (method.returns.vt == VT_HRESULT || method.returns.vt == VT_VOID) return TypeRef{};
    return method.returns;
}

}  // namespace tlbtool
