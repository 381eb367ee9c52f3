#include "app/MainWindow.h"
#include "app/resources/resource.h"
#include "platform/win32/Win32Platform.h"

#include <windows.h>

#include <commctrl.h>

namespace {

HICON LoadAppIcon(HINSTANCE instance, int size) {
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

// Libraries loaded from now on come from System32 only, never from the program's folder (often
// a download folder) or the current one. SetDefaultDllDirectories is missing on a Windows 7
// without its update; there the current folder at least leaves the search.
void RestrictLibrarySearch() {
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const auto setDirectories = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDirectories == nullptr || !setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryW(L"");
    }
    // Common controls may load msimg32 by name when they first draw (Wine's do, through a
    // delayed import that ignores the restriction above); taken now by its full path, that
    // later load finds it present instead of searching the program's folder.
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length > 0 && length < MAX_PATH - 16) {
        lstrcatW(system, L"\\msimg32.dll");
        LoadLibraryW(system);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    RestrictLibrarySearch();
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES;
    InitCommonControlsEx(&controls);

    tidewell::Win32Platform platform;
    tidewell::MainWindow app(instance, platform);

    // The system's icon sizes follow its scaling (32 and 16 at 96 DPI).
    const tidewell::UniqueIcon largeIcon(LoadAppIcon(instance, GetSystemMetrics(SM_CXICON)));
    const tidewell::UniqueIcon smallIcon(LoadAppIcon(instance, GetSystemMetrics(SM_CXSMICON)));
    // A failed registration shows as a failed creation.
    tidewell::RegisterMainWindowClass(instance, largeIcon.get(), smallIcon.get());
    const HWND window = tidewell::CreateMainWindow(app);
    if (window == nullptr) {
        return 1;
    }
    platform.setOwnerWindow(window);
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!app.handleDialogKeys(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    // The class icons go with largeIcon and smallIcon, the items of the last scan with app.
    return static_cast<int>(message.wParam);
}
