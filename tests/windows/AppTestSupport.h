#pragma once

// The real main window, created in the test process on the harness's display, with an
// in-memory machine as its platform so that scans are deterministic.

#include "app/MainWindow.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace tidewell::apptest {

// The in-memory machine, with a hook that runs when a scan starts (the first scanner lists the
// processes), so a test can look at the window while the scan is under way.
class ObservedMachine : public FakePlatform {
public:
    ProcessListing listProcesses() override {
        if (onScanStart) {
            onScanStart();
        }
        return FakePlatform::listProcesses();
    }
    std::function<void()> onScanStart;
};

inline std::string Utf8(const std::u16string& text) {
    return ToUtf8(text);
}

inline std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    GetWindowTextW(window, reinterpret_cast<wchar_t*>(&text[0]), length + 1);
    text.resize(static_cast<size_t>(length));
    return ToUtf8(text);
}

inline std::string TreeText(HWND tree, HTREEITEM node) {
    wchar_t buffer[260] = {};
    TVITEMW item = {};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = buffer;
    item.cchTextMax = 260;
    TreeView_GetItem(tree, &item);
    return Utf8(reinterpret_cast<char16_t*>(buffer));
}

// Dispatches what is queued, then waits for more until the condition holds or the deadline
// passes. Returns whether the condition held.
inline bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMilliseconds = 5000) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMilliseconds;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (condition()) {
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                  QS_ALLINPUT);
    }
}

// Dispatches everything already queued (posted messages included).
inline void PumpQueued() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

// Where a child sits in its parent's client area.
inline RECT ChildRect(HWND parent, HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The program's manifest selects common controls 6; the test program has none, so it
// activates the same dependency for itself before any window is created.
inline void ActivateCommonControls6() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"tidewell-tests.manifest";
    const char manifest[] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
        "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" "
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
        "processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
        "</dependentAssembly></dependency></assembly>";
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, manifest, sizeof(manifest) - 1, &written, nullptr);
    CloseHandle(file);
    ACTCTXW context = {};
    context.cbSize = sizeof(context);
    context.lpSource = path.c_str();
    const HANDLE activation = CreateActCtxW(&context);
    ASSERT_NE(activation, INVALID_HANDLE_VALUE);
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(activation, &cookie));
}

class AppWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActivateCommonControls6();
        static bool registered = false;
        if (!registered) {
            INITCOMMONCONTROLSEX controls = {
                sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_TREEVIEW_CLASSES};
            ASSERT_TRUE(InitCommonControlsEx(&controls));
            ASSERT_NE(RegisterMainWindowClass(GetModuleHandleW(nullptr), nullptr, nullptr), 0);
            registered = true;
        }
        create(kBaseDpi);
    }

    // The window as a screen of `dpi` dots per inch shows it.
    void create(int dpi) {
        app = std::make_unique<MainWindow>(GetModuleHandleW(nullptr), machine, dpi);
        window = CreateMainWindow(*app);
        ASSERT_NE(window, nullptr);
        ShowWindow(window, SW_SHOWNORMAL);
        UpdateWindow(window);
        PumpQueued();
    }

    void recreate(int dpi) {
        TearDown();
        create(dpi);
    }

    // A length of the window at 96 DPI as the current window has it.
    int s(int length) const { return MulDiv(length, app->dpi, kBaseDpi); }

    void TearDown() override {
        if (window != nullptr && IsWindow(window)) {
            DestroyWindow(window);
        }
        PumpQueued();
        // WM_DESTROY posted a quit message; take it so that the next test's loop does not
        // see it.
        MSG message;
        PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        app.reset();
        window = nullptr;
    }

    std::string status() const { return WindowText(app->statusLabel); }

    void clickScan() {
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_SCAN, BN_CLICKED),
                     reinterpret_cast<LPARAM>(app->scanButton));
    }

    // Clicks a product tab with the mouse, as a user would.
    void clickTab(int index) {
        RECT tab;
        ASSERT_TRUE(
            SendMessageW(app->productTabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&tab)));
        const LPARAM point = MAKELPARAM((tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2);
        SendMessageW(app->productTabs, WM_LBUTTONDOWN, MK_LBUTTON, point);
        SendMessageW(app->productTabs, WM_LBUTTONUP, 0, point);
        PumpQueued();
    }

    ObservedMachine machine;
    std::unique_ptr<MainWindow> app;
    HWND window = nullptr;
};

} // namespace tidewell::apptest
