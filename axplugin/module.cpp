// The module: its entry point and the four exports of an in-process server.
#include <winsock2.h>
#include <windows.h>
#include <olectl.h>

#include "axplugin/registrar.h"
#include "axplugin/velmoraRemoteConsole.h"
#include "axplugin/zovaEmbeddedCtl.h"
#include "comfw/classFactory.h"
#include "comfw/comPtr.h"
#include "comfw/hresult.h"
#include "comfw/module.h"

namespace {

constexpr UINT kRegistryScriptId = 105;

// Runs the registry script (resource REGISTRY 105) through the platform's
// registrar, with the module path as the only replacement.
HRESULT RunRegistryScript(bool registering) noexcept {
    std::wstring module;
    COMFW_RETURN_IF_FAILED(comfw::Module::FileName(comfw::Module::Handle(), module));
    comfw::ComPtr<IRegistrar> registrar;
    COMFW_RETURN_IF_FAILED(
        ::CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar, registrar.put_void()));
    COMFW_RETURN_IF_FAILED(registrar->AddReplacement(L"MODULE", module.c_str()));
    return registering ? registrar->ResourceRegister(module.c_str(), kRegistryScriptId, L"REGISTRY")
                       : registrar->ResourceUnregister(module.c_str(), kRegistryScriptId, L"REGISTRY");
}

HRESULT RegisterTypeLibrary(bool registering) noexcept {
    std::wstring module;
    COMFW_RETURN_IF_FAILED(comfw::Module::FileName(comfw::Module::Handle(), module));
    comfw::ComPtr<ITypeLib> lib;
    COMFW_RETURN_IF_FAILED(::LoadTypeLibEx(module.c_str(), REGKIND_NONE, lib.put()));
    if (registering) return ::RegisterTypeLib(lib.get(), const_cast<wchar_t*>(module.c_str()), nullptr);
    TLIBATTR* attr = nullptr;
    COMFW_RETURN_IF_FAILED(lib->GetLibAttr(&attr));
    const HRESULT hr = ::UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
    lib->ReleaseTLibAttr(attr);
    return hr;
}

// COM may call the exports with or without an apartment on the thread.
class ApartmentForCall {
public:
    ApartmentForCall() noexcept : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ApartmentForCall() { if (SUCCEEDED(hr_)) ::CoUninitialize(); }
private:
    HRESULT hr_;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH: {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 0), &data);  // the result is deliberately ignored
        ::DisableThreadLibraryCalls(instance);
        break;
    }
    case DLL_PROCESS_DETACH:
        ::WSACleanup();
        break;
    default:
        break;
    }
    return TRUE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    // The module stays until the process ends: the log and the settings live
    // as long as it does.
    return S_FALSE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!::IsEqualCLSID(clsid, CLSID_VelmoraEmbeddedRemoteConsole)) return CLASS_E_CLASSNOTAVAILABLE;
    comfw::ComPtr<comfw::ClassFactory<zova::ZOVAEmbeddedCtl>> factory;
    const HRESULT hr = comfw::ClassFactory<zova::ZOVAEmbeddedCtl>::Make(factory);
    if (FAILED(hr)) return hr;
    return factory->QueryInterface(riid, ppv);
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    ApartmentForCall apartment;
    const HRESULT hr = RunRegistryScript(true);
    if (FAILED(hr)) return hr;
    return RegisterTypeLibrary(true);
}

extern "C" HRESULT WINAPI DllUnregisterServer() {
    ApartmentForCall apartment;
    const HRESULT hr = RunRegistryScript(false);
    if (FAILED(hr)) return hr;
    return RegisterTypeLibrary(false);
}
