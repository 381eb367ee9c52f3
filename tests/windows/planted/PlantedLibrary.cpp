// Stands in for a library left beside a downloaded program under the name of one the program
// might import (msimg32.dll). Once loaded it leaves "<its own path>.loaded" beside itself.
#define NOGDI // the real declaration of GradientFill would clash with this one
#include "Marker.h"

// What an importer of msimg32 asks for, so that its start does not fail on a missing entry.
extern "C" __declspec(dllexport) BOOL WINAPI GradientFill(void*, void*, ULONG, void*, ULONG,
                                                          ULONG) {
    return FALSE;
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        LeaveMarkerBeside(module, L".loaded");
    }
    return TRUE;
}
