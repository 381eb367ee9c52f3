// What a planted file does once the system has loaded or run it: leaves "<its own path><suffix>"
// beside itself, for the test to find.
#pragma once

#include <windows.h>

inline void LeaveMarkerBeside(HMODULE module, const wchar_t* suffix) {
    wchar_t path[MAX_PATH + 8] = {};
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        lstrcatW(path, suffix);
        const HANDLE marker =
            CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (marker != INVALID_HANDLE_VALUE) {
            CloseHandle(marker);
        }
    }
}
