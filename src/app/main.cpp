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

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
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
