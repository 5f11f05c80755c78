/* A stand-in for the browser's ieframe.dll: IEIsProtectedModeProcess gives,
   call by call, the answers listed in ZOVA_PROTECTED_MODE ("fail", "yes" or
   "no", separated by spaces), taking each from the list as it answers. */
#include <windows.h>
#include <string.h>

__declspec(dllexport) HRESULT WINAPI IEIsProtectedModeProcess(BOOL* answer) {
    char list[256] = "";
    GetEnvironmentVariableA("ZOVA_PROTECTED_MODE", list, sizeof list);
    const char* rest = strchr(list, ' ');
    SetEnvironmentVariableA("ZOVA_PROTECTED_MODE", rest ? rest + 1 : "");
    if (strncmp(list, "fail", 4) == 0) return E_FAIL;
    *answer = strncmp(list, "yes", 3) == 0;
    return S_OK;
}
