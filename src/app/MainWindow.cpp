#include "app/MainWindow.h"

#include <algorithm>

namespace tidewell {

const wchar_t kMainWindowClass[] = L"TidewellMain";
const wchar_t kMainWindowTitle[] = L"Tidewell | Marrowby | v1.0.1";

namespace {

constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

bool HighContrast() {
    HIGHCONTRASTW contrast = {};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

RECT WorkAreaOf(HWND window) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcWork;
}

} // namespace

int SystemDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

MainWindow::MainWindow(HINSTANCE instance, Platform& platform, int dpi)
    : instance(instance), dpi(dpi), session(platform), items(session.items),
      product(session.product) {
    // The tree links into `items`: it is emptied before the old items go and rebuilt once the
    // new list is in place.
    session.releaseItems = [this] { emptyTree(); };
    session.showItems = [this] { populateTree(); };
    // High Contrast themes keep the system's own colours.
    backgroundColour = HighContrast() ? GetSysColor(COLOR_BTNFACE) : RGB(243, 243, 243);
    backgroundBrush.reset(CreateSolidBrush(backgroundColour));
}

int MainWindow::scaled(int length) const {
    return ScaleLength(length, dpi);
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
    case WM_CLOSE:
        // Never in the middle of a clean: the log is written at its end.
        if (!operationRunning) {
            DestroyWindow(window);
        }
        return 0;
    case WM_SIZE:
        layoutControls(LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_GETMINMAXINFO:
        limitTrackingSize(*reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case WM_ERASEBKGND:
        eraseBackground(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_PAINT:
        paintHeader();
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return controlColours(reinterpret_cast<HDC>(wParam));
    case WM_ACTIVATE:
        onActivate(LOWORD(wParam) != WA_INACTIVE);
        return 0;
    case WM_NOTIFY:
        return handleNotify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_SCAN:
            runExclusive([this] { runScanCommand(); });
            break;
        case ID_CLEAN:
            runExclusive([this] { cleanSelected(); });
            break;
        case ID_ONECLICK:
            runExclusive([this] { oneClickUninstall(); });
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
    const ControlLayout layout = LayoutControls(width, height, dpi);
    const std::pair<HWND, Box> placements[] = {
        {productTabs, layout.productTabs},     {actionsGroup, layout.actionsGroup},
        {scanButton, layout.scanButton},       {cleanButton, layout.cleanButton},
        {oneClickButton, layout.oneClickButton}, {resultsGroup, layout.resultsGroup},
        {resultTree, layout.resultTree},       {statusLabel, layout.statusLabel},
        {progressBar, layout.progressBar},
    };
    for (const auto& [control, box] : placements) {
        MoveWindow(control, box.x, box.y, box.width, box.height, TRUE);
    }
}

void MainWindow::eraseBackground(HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, backgroundBrush.get());
}

LRESULT MainWindow::controlColours(HDC dc) {
    // The status line, the group boxes and the buttons' corners draw on the window's own grey.
    SetBkColor(dc, backgroundColour);
    return reinterpret_cast<LRESULT>(backgroundBrush.get());
}

void MainWindow::limitTrackingSize(MINMAXINFO& limits) {
    const Extent client = MinimumClientSize(dpi);
    RECT outer = {0, 0, client.width, client.height};
    AdjustWindowRectEx(&outer, kWindowStyle, FALSE, 0);
    // A screen smaller than that still gets a window that fits on it.
    const RECT work = WorkAreaOf(window);
    limits.ptMinTrackSize.x = std::min<LONG>(outer.right - outer.left, work.right - work.left);
    limits.ptMinTrackSize.y = std::min<LONG>(outer.bottom - outer.top, work.bottom - work.top);
}

void MainWindow::fitIntoWorkArea() {
    RECT rect;
    GetWindowRect(window, &rect);
    const RECT work = WorkAreaOf(window);
    const Edges fitted = FitIntoArea({rect.left, rect.top, rect.right, rect.bottom},
                                     {work.left, work.top, work.right, work.bottom});
    if (!(fitted == Edges{rect.left, rect.top, rect.right, rect.bottom})) {
        MoveWindow(window, fitted.left, fitted.top, fitted.right - fitted.left,
                   fitted.bottom - fitted.top, TRUE);
    }
}

void MainWindow::onActivate(bool active) {
    if (!active) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window, focus)) {
            focusToRestore = focus;
        }
        return;
    }
    const bool usable = focusToRestore != nullptr && IsWindowEnabled(focusToRestore) &&
                        IsWindowVisible(focusToRestore);
    SetFocus(usable ? focusToRestore : scanButton);
}

void MainWindow::endBusyInput() {
    // By message range, so that input posted by another program goes too.
    const std::pair<UINT, UINT> inputRanges[] = {{WM_KEYFIRST, WM_KEYLAST},
                                                  {WM_MOUSEFIRST, WM_MOUSELAST},
                                                  {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}};
    MSG message;
    for (const auto& [first, last] : inputRanges) {
        while (PeekMessageW(&message, nullptr, first, last, PM_REMOVE)) {
        }
    }
    const HWND focus = GetFocus();
    if (focus == nullptr || focus == window || !IsWindowEnabled(focus)) {
        const bool usable = focusToRestore != nullptr && IsWindowEnabled(focusToRestore);
        SetFocus(usable ? focusToRestore : scanButton);
    }
}

bool MainWindow::handleDialogKeys(MSG& message) {
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
        const HWND focus = GetFocus();
        for (HWND button : {scanButton, cleanButton, oneClickButton}) {
            if (focus == button && IsWindowEnabled(button)) {
                SendMessageW(window, WM_COMMAND,
                             MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                             reinterpret_cast<LPARAM>(button));
                return true;
            }
        }
    }
    return IsDialogMessageW(window, &message) != FALSE;
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
    // WM_ERASEBKGND paints the window's own background.
    windowClass.hbrBackground = nullptr;
    windowClass.lpszClassName = kMainWindowClass;
    return RegisterClassExW(&windowClass);
}

HWND CreateMainWindow(MainWindow& app) {
    const Extent size = FirstWindowSize(app.dpi);
    const HWND window =
        CreateWindowExW(0, kMainWindowClass, kMainWindowTitle, kWindowStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, size.width, size.height, nullptr, nullptr, app.instance,
                        &app);
    if (window != nullptr) {
        app.fitIntoWorkArea();
    }
    return window;
}

} // namespace tidewell
