// Stands in for a library left beside a downloaded program under the name of one the program
// might import (msimg32.dll). Once loaded it leaves "<its own path>.loaded" beside itself.
#define NOGDI // the real declaration of GradientFill would clash with this one
#include <windows.h>

// What an importer of msimg32 asks for, so that its start does not fail on a missing entry.
extern "C" __declspec(dllexport) BOOL WINAPI GradientFill(void*, void*, ULONG, void*, ULONG,
                                                          ULONG) {
    return FALSE;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8] = {};
        const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(path, L".loaded");
            const HANDLE marker =
                CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (marker != INVALID_HANDLE_VALUE) {
                CloseHandle(marker);
            }
        }
    }
    return TRUE;
}
