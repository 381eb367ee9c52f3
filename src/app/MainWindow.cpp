#include "app/MainWindow.h"

#include <algorithm>

namespace tidewell {

const wchar_t kMainWindowClass[] = L"TidewellMain";
const wchar_t kMainWindowTitle[] = L"Tidewell | Marrowby | v1.0.1";

MainWindow::MainWindow(HINSTANCE instance, Platform& platform)
    : instance(instance), session(platform), items(session.items), product(session.product) {
    // The tree links into `items`: it is emptied before the old items go and rebuilt once the
    // new list is in place.
    session.releaseItems = [this] { emptyTree(); };
    session.showItems = [this] { populateTree(); };
}

LRESULT CALLBACK MainWindow::windowProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    auto* app = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        app = static_cast<MainWindow*>(create->lpCreateParams);
        app->window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
    }
    // A few messages (WM_GETMINMAXINFO) arrive before WM_NCCREATE.
    if (app == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return app->handleMessage(message, wParam, lParam);
}

LRESULT MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        createControls();
        return 0;
    case WM_DESTROY:
        releaseResources();
        return 0;
    case WM_SIZE:
        layoutControls(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_PAINT:
        paintHeader();
        return 0;
    case WM_NOTIFY:
        return handleNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_SCAN:
            runScanCommand();
            break;
        case ID_CLEAN:
            cleanSelected();
            break;
        case ID_ONECLICK:
            oneClickUninstall();
            break;
        }
        return 0;
    case WM_CHECKCHANGED:
        onCheckChanged(reinterpret_cast<HTREEITEM>(lParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void MainWindow::releaseResources() {
    bodyFont.reset();
    titleFont.reset();
    headerIcon.reset();
    PostQuitMessage(0);
}

void MainWindow::layoutControls(int width, int height) {
    // The header band (0 to 103) stays free; the two groups stop shrinking at a minimum height
    // while the status row keeps following the bottom edge.
    MoveWindow(productTabs, 20, 116, width - 40, 34, TRUE);
    MoveWindow(actionsGroup, 20, 158, width - 40, 100, TRUE);
    MoveWindow(scanButton, 44, 189, 132, 38, TRUE);
    MoveWindow(cleanButton, 194, 189, 148, 38, TRUE);
    MoveWindow(oneClickButton, 360, 189, 240, 38, TRUE);
    MoveWindow(resultsGroup, 20, 272, width - 40, std::max(height - 320, 90), TRUE);
    MoveWindow(resultTree, 30, 297, width - 60, std::max(height - 356, 50), TRUE);
    MoveWindow(statusLabel, 20, height - 40, width - 260, 20, TRUE);
    MoveWindow(progressBar, width - 225, height - 40, 205, 18, TRUE);
}

ATOM RegisterMainWindowClass(HINSTANCE instance, HICON largeIcon, HICON smallIcon) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = 0; // no redraw on resize: the header is painted once per exposure
    windowClass.lpfnWndProc = MainWindow::windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = largeIcon;
    windowClass.hIconSm = smallIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kMainWindowClass;
    return RegisterClassExW(&windowClass);
}

HWND CreateMainWindow(MainWindow& app) {
    return CreateWindowExW(0, kMainWindowClass, kMainWindowTitle,
                           WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, 960,
                           720, nullptr, nullptr, app.instance, &app);
}

} // namespace tidewell
