// The logprobe program: runs its arguments as commands of the log module.
#include <windows.h>
#include <shellapi.h>

extern "C" __declspec(dllimport) int RunLogProbe(int argc, wchar_t** argv);

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const int status = argv ? RunLogProbe(argc, argv) : 4;
    LocalFree(argv);
    return status;
}
