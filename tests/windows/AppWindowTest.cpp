#include "AppTestSupport.h"

#include "app/ResultTreeRules.h"

#include <algorithm>
#include <vector>

namespace tidewell::apptest {
namespace {

// Residues of AutoCAD the scanners recognise on the in-memory machine.
void SeedAutoCad(FakePlatform& machine) {
    machine.setEnvironment(u"ProgramFiles", u"C:\\Program Files");
    machine.setEnvironment(u"TEMP", u"C:\\Temp");
    machine.addDirectory(u"C:\\Program Files\\Autodesk\\AutoCAD 2024\\Support");
    machine.addDirectory(u"C:\\Program Files\\Autodesk\\Autodesk Desktop App");
    machine.addFile(u"C:\\Temp\\acad_install.log", "seed");
    machine.addProcess(4312, u"acad.exe");
    machine.addKey(RegistryRoot::LocalMachine, RegistryView::Bits64,
                   u"Software\\Autodesk\\AutoCAD");
}

bool HasItem(const ItemList& items, ItemKind kind, const std::u16string& location) {
    return std::any_of(items.begin(), items.end(), [&](const auto& item) {
        return item->kind == kind && item->location == location;
    });
}

struct ControlState {
    bool scan = false;
    bool clean = false;
    bool oneClick = false;
    bool tree = false;
    bool tabs = false;
    bool waitCursor = false;
    std::string status;
};

ControlState Capture(const MainWindow& app) {
    ControlState state;
    state.scan = IsWindowEnabled(app.scanButton) != FALSE;
    state.clean = IsWindowEnabled(app.cleanButton) != FALSE;
    state.oneClick = IsWindowEnabled(app.oneClickButton) != FALSE;
    state.tree = IsWindowEnabled(app.resultTree) != FALSE;
    state.tabs = IsWindowEnabled(app.productTabs) != FALSE;
    state.waitCursor = GetCursor() == LoadCursorW(nullptr, IDC_WAIT);
    state.status = WindowText(app.statusLabel);
    return state;
}

TEST_F(AppWindowTest, CreatesTheControlsWithTheirClassesIdsStylesAndTexts) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    EXPECT_STREQ(className, L"TidewellMain");
    EXPECT_EQ(WindowText(window), "Tidewell | Marrowby | v1.0.1");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)) &
                  (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN),
              static_cast<DWORD>(0x02CF0000));
    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.right - outer.left, 960);
    EXPECT_EQ(outer.bottom - outer.top, 720);

    struct Expected {
        HWND control;
        const wchar_t* className;
        int id;
        DWORD style;
        DWORD extendedStyle;
        const char* text;
        bool bodyFont;
    };
    const Expected controls[] = {
        {app->productTabs, L"SysTabControl32", 107, 0x50010400, 0, "", true},
        {app->actionsGroup, L"Button", 0, 0x50000007, 0, "1. 扫描与操作", true},
        {app->scanButton, L"Button", 101, 0x50010000, 0, "搜索残留...", true},
        {app->cleanButton, L"Button", 102, 0x50010000, 0, "清理选中项", true},
        {app->oneClickButton, L"Button", 103, 0x50010000, 0, "一键卸载并清理 AutoCAD", true},
        {app->resultsGroup, L"Button", 0, 0x50000007, 0, "2. 扫描结果（勾选父节点可选择整个分类）",
         true},
        {app->resultTree, L"SysTreeView32", 104, 0x50010927, WS_EX_CLIENTEDGE, "", true},
        {app->progressBar, L"msctls_progress32", 105, 0x50000000, 0, "", false},
        {app->statusLabel, L"Static", 106, 0x50008000, 0, "就绪（程序以管理员权限运行）", true},
    };
    HWND previous = nullptr;
    for (const Expected& c : controls) {
        SCOPED_TRACE(WindowText(c.control));
        ASSERT_NE(c.control, nullptr);
        EXPECT_EQ(GetParent(c.control), window);
        GetClassNameW(c.control, className, 64);
        EXPECT_EQ(_wcsicmp(className, c.className), 0);
        EXPECT_EQ(GetDlgCtrlID(c.control), c.id);
        const DWORD style = static_cast<DWORD>(GetWindowLongW(c.control, GWL_STYLE));
        const DWORD disabled = c.control == app->cleanButton ? WS_DISABLED : 0;
        EXPECT_EQ(style & ~(WS_CLIPSIBLINGS | WS_DISABLED), c.style) << std::hex << style;
        EXPECT_EQ(style & WS_DISABLED, disabled);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(c.control, GWL_EXSTYLE)) & WS_EX_CLIENTEDGE,
                  c.extendedStyle);
        EXPECT_EQ(WindowText(c.control), c.text);
        const HFONT font = reinterpret_cast<HFONT>(SendMessageW(c.control, WM_GETFONT, 0, 0));
        EXPECT_EQ(font, c.bodyFont ? app->bodyFont.get() : nullptr);
        // Created in this order: each one follows the previous one among the children.
        if (previous != nullptr) {
            EXPECT_EQ(GetWindow(previous, GW_HWNDNEXT), c.control);
        }
        previous = c.control;
    }

    LOGFONTW body = {};
    ASSERT_EQ(GetObjectW(app->bodyFont.get(), sizeof(body), &body), int{sizeof(body)});
    EXPECT_EQ(body.lfHeight, -13);
    EXPECT_EQ(body.lfWeight, FW_NORMAL);
    EXPECT_STREQ(body.lfFaceName, L"Segoe UI");
    LOGFONTW title = {};
    ASSERT_EQ(GetObjectW(app->titleFont.get(), sizeof(title), &title), int{sizeof(title)});
    EXPECT_EQ(title.lfHeight, -25);
    EXPECT_EQ(title.lfWeight, FW_BOLD);
    EXPECT_STREQ(title.lfFaceName, L"Microsoft YaHei UI");
    EXPECT_EQ(title.lfQuality, CLEARTYPE_QUALITY);

    const char* tabNames[] = {"AutoCAD", "SolidWorks", "Oracle"};
    ASSERT_EQ(SendMessageW(app->productTabs, TCM_GETITEMCOUNT, 0, 0), 3);
    for (int index = 0; index < 3; ++index) {
        wchar_t text[32] = {};
        TCITEMW tab = {};
        tab.mask = TCIF_TEXT;
        tab.pszText = text;
        tab.cchTextMax = 32;
        SendMessageW(app->productTabs, TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&tab));
        EXPECT_EQ(Utf8(std::u16string(reinterpret_cast<char16_t*>(text))), tabNames[index]);
        RECT rect;
        SendMessageW(app->productTabs, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect));
        EXPECT_EQ(rect.right - rect.left, 138) << index;
    }
    // The one-click button carries the elevation shield: drawn by the button itself where it
    // knows the message, as the stock shield icon where it does not (Wine).
    const bool buttonDrawsShield = SendMessageW(app->oneClickButton, BCM_SETSHIELD, 0, 1) == 1;
    EXPECT_TRUE(buttonDrawsShield ||
                SendMessageW(app->oneClickButton, BM_GETIMAGE, IMAGE_ICON, 0) != 0);
    EXPECT_EQ(SendMessageW(app->scanButton, BM_GETIMAGE, IMAGE_ICON, 0), 0);
    EXPECT_EQ(SendMessageW(app->productTabs, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(app->product, ProductKind::AutoCAD);

    // Height 19 without TVS_NONEVENHEIGHT gives 18-pixel rows.
    EXPECT_EQ(SendMessageW(app->resultTree, TVM_GETITEMHEIGHT, 0, 0), 18);
    EXPECT_NE(app->systemImageList, nullptr);
    EXPECT_EQ(reinterpret_cast<HIMAGELIST>(
                  SendMessageW(app->resultTree, TVM_GETIMAGELIST, TVSIL_NORMAL, 0)),
              app->systemImageList);
    EXPECT_EQ(SendMessageW(app->progressBar, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(SendMessageW(app->progressBar, PBM_GETRANGE, FALSE, 0), 100);
    EXPECT_EQ(SendMessageW(app->resultTree, TVM_GETCOUNT, 0, 0), 0);
}

TEST_F(AppWindowTest, LaysOutTheControlsForTheClientSizeAtEachScale) {
    // Each row: left, top, width, height at 96 DPI, as functions of the client size; negative
    // offsets count from the right or bottom edge. Every length scales with the DPI.
    struct Placement {
        HWND MainWindow::*control;
        int x, y;
        int widthLess, heightLess; // the client size less this, when not 0
        int width, height;         // else fixed, or the minimum when widthLess/heightLess is set
    };
    const Placement placements[] = {
        {&MainWindow::productTabs, 20, 116, 40, 0, 0, 34},
        {&MainWindow::actionsGroup, 20, 158, 40, 0, 0, 100},
        {&MainWindow::scanButton, 44, 189, 0, 0, 132, 38},
        {&MainWindow::cleanButton, 194, 189, 0, 0, 148, 38},
        {&MainWindow::oneClickButton, 360, 189, 0, 0, 240, 38},
        {&MainWindow::resultsGroup, 20, 272, 40, 320, 0, 90},
        {&MainWindow::resultTree, 30, 297, 60, 356, 0, 50},
        {&MainWindow::statusLabel, 20, -40, 260, 0, 0, 20},
        {&MainWindow::progressBar, -225, -40, 0, 0, 205, 18},
    };
    auto check = [&](int width, int height) {
        for (size_t i = 0; i < std::size(placements); ++i) {
            const Placement& p = placements[i];
            SCOPED_TRACE(testing::Message() << "dpi " << app->dpi << ", client " << width << "x"
                                            << height << ", control " << i);
            const RECT rect = ChildRect(window, app.get()->*p.control);
            EXPECT_EQ(rect.left, p.x < 0 ? width - s(-p.x) : s(p.x));
            EXPECT_EQ(rect.top, p.y < 0 ? height - s(-p.y) : s(p.y));
            const int w = p.widthLess != 0 ? width - s(p.widthLess) : s(p.width);
            const int h =
                p.heightLess != 0 ? std::max(height - s(p.heightLess), s(p.height)) : s(p.height);
            // The window manager makes a negative size empty.
            EXPECT_EQ(rect.right - rect.left, std::max(w, 0));
            EXPECT_EQ(rect.bottom - rect.top, std::max(h, 0));
        }
    };
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    for (int dpi : {96, 144}) {
        recreate(dpi);
        // As created and shown: 960 x 720 scaled, cut to the work area and wholly inside it.
        RECT outer;
        GetWindowRect(window, &outer);
        EXPECT_EQ(outer.right - outer.left, std::min<LONG>(s(960), work.right - work.left));
        EXPECT_EQ(outer.bottom - outer.top, std::min<LONG>(s(720), work.bottom - work.top));
        EXPECT_TRUE(outer.left >= work.left && outer.top >= work.top && outer.right <= work.right &&
                    outer.bottom <= work.bottom);
        RECT client;
        GetClientRect(window, &client);
        EXPECT_GT(client.bottom, s(410));
        check(client.right, client.bottom);

        // Between 406 and 410 only the group has stopped shrinking; below 406 the tree too,
        // while the status row keeps following the bottom edge.
        for (const auto& [width, height] : {std::pair{s(900), s(408)}, std::pair{s(700), s(380)},
                                            std::pair{s(500), s(300)}, std::pair{s(961), s(411)}}) {
            SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(width, height));
            check(width, height);
        }

        // The smallest window the user can drag to still shows every control whole.
        SetWindowPos(window, nullptr, 0, 0, 200, 150, SWP_NOZORDER | SWP_NOMOVE);
        PumpQueued();
        const RECT group = ChildRect(window, app->actionsGroup);
        const RECT oneClick = ChildRect(window, app->oneClickButton);
        const RECT results = ChildRect(window, app->resultsGroup);
        const RECT tree = ChildRect(window, app->resultTree);
        const RECT status = ChildRect(window, app->statusLabel);
        const RECT progress = ChildRect(window, app->progressBar);
        EXPECT_LT(oneClick.right, group.right);
        EXPECT_LE(tree.bottom, results.bottom);
        EXPECT_LT(results.bottom, status.top);
        EXPECT_LT(status.right, progress.left);
        EXPECT_GT(status.right, status.left);

        // The fonts and the tree's rows follow the scale too.
        LOGFONTW body = {};
        LOGFONTW title = {};
        GetObjectW(app->bodyFont.get(), sizeof(body), &body);
        GetObjectW(app->titleFont.get(), sizeof(title), &title);
        EXPECT_EQ(body.lfHeight, -s(13));
        EXPECT_EQ(title.lfHeight, -s(25));
        EXPECT_EQ(TreeView_GetItemHeight(app->resultTree), s(19) / 2 * 2);
    }

    // Minimising lays out for a 0 x 0 client area; restoring lays out again.
    recreate(96);
    ShowWindow(window, SW_MINIMIZE);
    PumpQueued();
    EXPECT_TRUE(IsIconic(window));
    check(0, 0);
    ShowWindow(window, SW_RESTORE);
    PumpQueued();
    RECT client;
    GetClientRect(window, &client);
    check(client.right, client.bottom);
}

TEST_F(AppWindowTest, ScanIsBusyWhileItRunsAndReportsTheCount) {
    SeedAutoCad(machine);
    std::vector<ControlState> during;
    machine.onScanStart = [&] { during.push_back(Capture(*app)); };
    clickScan();

    ASSERT_EQ(during.size(), 1u);
    EXPECT_FALSE(during[0].scan);
    EXPECT_FALSE(during[0].clean);
    EXPECT_FALSE(during[0].oneClick);
    EXPECT_FALSE(during[0].tree);
    EXPECT_TRUE(during[0].tabs);
    EXPECT_TRUE(during[0].waitCursor);
    EXPECT_EQ(during[0].status, "正在扫描文件、注册表、服务和进程...");

    ASSERT_TRUE(HasItem(app->items, ItemKind::Process, u"4312")) << machine.dump();
    ASSERT_TRUE(
        HasItem(app->items, ItemKind::Directory, u"C:\\Program Files\\Autodesk\\AutoCAD 2024"));
    const ControlState after = Capture(*app);
    EXPECT_EQ(after.status, "扫描完成，共发现 " + std::to_string(app->items.size()) + " 项");
    EXPECT_TRUE(after.scan);
    EXPECT_TRUE(after.clean);
    EXPECT_TRUE(after.oneClick);
    EXPECT_TRUE(after.tree);
    EXPECT_FALSE(after.waitCursor);
    // The tree shows the scan: its root counts every item.
    const HTREEITEM root = TreeView_GetRoot(app->resultTree);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(TreeText(app->resultTree, root),
              "AutoCAD 扫描结果（" + std::to_string(app->items.size()) + " 个项目）");

    // A second scan replaces the first list completely: nothing of the first survives.
    for (auto& item : app->items) {
        item->note = u"first scan";
    }
    machine.onScanStart = nullptr;
    clickScan();
    EXPECT_EQ(status(), after.status);
    EXPECT_TRUE(std::none_of(app->items.begin(), app->items.end(),
                             [](const auto& item) { return item->note == u"first scan"; }));
}

TEST_F(AppWindowTest, ScanThatFindsNothingNamesTheProductAndKeepsCleanDisabled) {
    clickTab(2);
    clickScan();
    EXPECT_TRUE(app->items.empty()) << machine.dump();
    const ControlState after = Capture(*app);
    EXPECT_EQ(after.status, "未发现明确的 Oracle 残留");
    EXPECT_FALSE(after.clean);
    EXPECT_TRUE(after.scan);
    EXPECT_TRUE(after.oneClick);
    EXPECT_TRUE(after.tree);
    // Only the root: Oracle 扫描结果（0 个项目）, unchecked.
    const HTREEITEM root = TreeView_GetRoot(app->resultTree);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(TreeView_GetChild(app->resultTree, root), nullptr);
    EXPECT_EQ(SendMessageW(app->resultTree, TVM_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(TreeView_GetCheckState(app->resultTree, root), 0u);
}

TEST_F(AppWindowTest, InputDuringAScanStartsNothingAfterwards) {
    SeedAutoCad(machine);
    int scans = 0;
    machine.onScanStart = [&] {
        ++scans;
        // A click on the SolidWorks tab and a key wait in the queue ...
        RECT tab;
        SendMessageW(app->productTabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&tab));
        const LPARAM point = MAKELPARAM((tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2);
        PostMessageW(app->productTabs, WM_LBUTTONDOWN, MK_LBUTTON, point);
        PostMessageW(app->productTabs, WM_LBUTTONUP, 0, point);
        PostMessageW(app->scanButton, WM_KEYDOWN, VK_SPACE, 0x00390001);
        // ... while what is sent meanwhile (another scan, a tab change, closing) is refused.
        clickScan();
        SendMessageW(app->productTabs, TCM_SETCURSEL, 2, 0);
        NMHDR change = {app->productTabs, ID_PRODUCT_TABS, static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageW(window, WM_NOTIFY, ID_PRODUCT_TABS, reinterpret_cast<LPARAM>(&change));
        SendMessageW(window, WM_CLOSE, 0, 0);
    };
    SetFocus(app->scanButton);
    clickScan();
    machine.onScanStart = nullptr;
    PumpQueued();
    EXPECT_EQ(scans, 1);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(app->product, ProductKind::AutoCAD);
    EXPECT_EQ(SendMessageW(app->productTabs, TCM_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(status(), "扫描完成，共发现 " + std::to_string(app->items.size()) + " 项");
    // The scan button was disabled meanwhile; the focus is back on it.
    EXPECT_EQ(GetFocus(), app->scanButton);
}

// Presses a key as the message loop sees it: dialog keys first.
void PressKey(MainWindow& app, HWND target, WPARAM key) {
    for (UINT message : {WM_KEYDOWN, WM_KEYUP}) {
        // The key-up bits as the unsigned 32 bits they are: LPARAM is 32-bit in a 32-bit program.
        const LPARAM flags = static_cast<LPARAM>(message == WM_KEYDOWN ? 0x00000001u : 0xC0000001u);
        MSG msg = {target, message, key, flags};
        if (!app.handleDialogKeys(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    PumpQueued();
}

TEST_F(AppWindowTest, KeyboardWalksTheControlsInScreenOrderAndPressesButtons) {
    ASSERT_EQ(GetFocus(), app->scanButton);
    // The clean button is disabled until a scan has found something.
    for (HWND next : {app->oneClickButton, app->resultTree, app->productTabs, app->scanButton}) {
        PressKey(*app, GetFocus(), VK_TAB);
        EXPECT_EQ(GetFocus(), next);
    }
    SetFocus(app->productTabs);
    PressKey(*app, app->productTabs, VK_RIGHT);
    EXPECT_EQ(status(), "已切换到 SolidWorks，请点击“搜索残留”");
    PressKey(*app, app->productTabs, VK_TAB);
    ASSERT_EQ(GetFocus(), app->scanButton);
    PressKey(*app, app->scanButton, VK_RETURN);
    EXPECT_EQ(status(), "未发现明确的 SolidWorks 残留");
    app->setStatus(u"");
    PressKey(*app, app->scanButton, VK_SPACE);
    EXPECT_EQ(status(), "未发现明确的 SolidWorks 残留");

    // Activated again, the window gives the focus back to the control that had it.
    SetFocus(app->resultTree);
    SendMessageW(window, WM_ACTIVATE, WA_INACTIVE, 0);
    SetFocus(nullptr);
    SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(GetFocus(), app->resultTree);
}

TEST_F(AppWindowTest, SetBusySwitchesBetweenTheTwoStates) {
    struct Case {
        bool busy;
        bool haveItems;
        const char16_t* text;
        bool scan, oneClick, clean, tree, wait;
    };
    const Case cases[] = {
        {true, true, u"正在清理...", false, false, false, false, true},
        {false, true, u"清理完成", true, true, true, true, false},
        {true, false, u"正在卸载...", false, false, false, false, true},
        {false, false, u"卸载完成", true, true, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.text));
        app->items.clear();
        if (c.haveItems) {
            app->items.push_back(std::make_unique<ResidueItem>());
        }
        app->setBusy(c.busy, c.text);
        const ControlState state = Capture(*app);
        EXPECT_EQ(state.scan, c.scan);
        EXPECT_EQ(state.oneClick, c.oneClick);
        EXPECT_EQ(state.clean, c.clean);
        EXPECT_EQ(state.tree, c.tree);
        EXPECT_TRUE(state.tabs);
        EXPECT_EQ(state.waitCursor, c.wait);
        EXPECT_EQ(state.status, Utf8(c.text));
    }
    app->items.clear();
}

TEST_F(AppWindowTest, SwitchingProductDiscardsTheScan) {
    SeedAutoCad(machine);
    clickScan();
    ASSERT_FALSE(app->items.empty());
    SendMessageW(app->progressBar, PBM_SETPOS, 100, 0);

    struct Step {
        int tab;
        ProductKind product;
        const char* caption;
        const char* status;
    };
    const Step steps[] = {
        {1, ProductKind::SolidWorks, "一键卸载并清理 SolidWorks",
         "已切换到 SolidWorks，请点击“搜索残留”"},
        {2, ProductKind::Oracle, "一键卸载并清理 Oracle", "已切换到 Oracle，请点击“搜索残留”"},
        {0, ProductKind::AutoCAD, "一键卸载并清理 AutoCAD", "已切换到 AutoCAD，请点击“搜索残留”"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.caption);
        clickTab(step.tab);
        EXPECT_EQ(app->product, step.product);
        EXPECT_EQ(WindowText(app->oneClickButton), step.caption);
        EXPECT_EQ(status(), step.status);
        EXPECT_TRUE(app->items.empty());
        EXPECT_EQ(SendMessageW(app->resultTree, TVM_GETCOUNT, 0, 0), 0);
        EXPECT_FALSE(IsWindowEnabled(app->cleanButton));
        EXPECT_EQ(SendMessageW(app->progressBar, PBM_GETPOS, 0, 0), 0);
        SendMessageW(app->progressBar, PBM_SETPOS, 100, 0);
        // The one-click button stays usable without a scan.
        EXPECT_TRUE(IsWindowEnabled(app->oneClickButton));
    }

    // Clicking the tab that is already selected changes nothing.
    app->setStatus(u"unchanged");
    clickTab(0);
    EXPECT_EQ(status(), "unchanged");
    EXPECT_EQ(SendMessageW(app->progressBar, PBM_GETPOS, 0, 0), 100);
}

TEST_F(AppWindowTest, DispatchAnswersCommandsAndPassesOtherMessagesOn) {
    // Commands other than the three buttons return 0 and change nothing.
    EXPECT_EQ(SendMessageW(window, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
                           reinterpret_cast<LPARAM>(app->actionsGroup)),
              0);
    EXPECT_EQ(status(), "就绪（程序以管理员权限运行）");
    // The scan runs for any notification code of command 101.
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_SCAN, 0x1234), 0);
    EXPECT_EQ(status(), "未发现明确的 AutoCAD 残留");
    // A message the table does not name goes to DefWindowProcW.
    EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 28);
    // The object is bound to the window.
    EXPECT_EQ(reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA)), app.get());
    EXPECT_EQ(app->window, window);

    // Destroying the window frees the fonts and the icon and asks the loop to end.
    DestroyWindow(window);
    EXPECT_FALSE(app->bodyFont.valid());
    EXPECT_FALSE(app->titleFont.valid());
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
    window = nullptr;
}

// The header band as painted on screen: read back from the window's device context.
class HeaderPixels {
public:
    explicit HeaderPixels(HWND window) {
        RECT client;
        GetClientRect(window, &client);
        width_ = client.right;
        height_ = client.bottom;
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_; // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        const HDC screen = GetDC(window);
        const HDC memory = CreateCompatibleDC(screen);
        void* bits = nullptr;
        const HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        const HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width_, height_, screen, 0, 0, SRCCOPY);
        GdiFlush();
        const auto* pixels = static_cast<const uint32_t*>(bits);
        pixels_.assign(pixels, pixels + static_cast<size_t>(width_) * height_);
        SelectObject(memory, previous);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(window, screen);
    }

    COLORREF at(int x, int y) const {
        const uint32_t pixel = pixels_[static_cast<size_t>(y) * width_ + x];
        return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
    }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint32_t> pixels_;
};

std::string Show(COLORREF colour) {
    return "RGB(" + std::to_string(GetRValue(colour)) + ", " + std::to_string(GetGValue(colour)) +
           ", " + std::to_string(GetBValue(colour)) + ")";
}

bool Near(COLORREF a, COLORREF b, int tolerance) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance &&
           std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

TEST_F(AppWindowTest, PaintsTheHeaderBandAtEachScale) {
    for (int dpi : {96, 144}) {
        recreate(dpi);
        SCOPED_TRACE(dpi);
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        const HeaderPixels shot(window);
        ASSERT_GT(shot.width(), 900);
        const int right = shot.width() - 1;
        const int line = s(103);

        // Columns right of the title and subtitle show only the gradient, the line and the
        // background.
        for (int x : {0, 12, right - 20, right}) {
            SCOPED_TRACE(x);
            EXPECT_EQ(Show(shot.at(x, 0)), Show(RGB(244, 250, 255)));
            EXPECT_TRUE(Near(shot.at(x, line - 1), RGB(181, 213, 241), 2))
                << Show(shot.at(x, line - 1));
            EXPECT_EQ(Show(shot.at(x, line)), Show(RGB(137, 177, 211)));
            EXPECT_EQ(Show(shot.at(x, line + 1)), Show(RGB(243, 243, 243)));
            EXPECT_EQ(Show(shot.at(x, s(110))), Show(RGB(243, 243, 243)));
            // Top to bottom the band darkens in every channel.
            for (int y = 1; y < line; ++y) {
                const COLORREF above = shot.at(x, y - 1);
                const COLORREF here = shot.at(x, y);
                ASSERT_LE(GetRValue(here), GetRValue(above)) << y;
                ASSERT_LE(GetGValue(here), GetGValue(above)) << y;
                ASSERT_LE(GetBValue(here), GetBValue(above)) << y;
            }
            EXPECT_TRUE(Near(shot.at(x, s(52)), RGB(212, 231, 248), 3)) << Show(shot.at(x, s(52)));
        }
        // One background: below the header, at the bottom edge, and behind the status line, which
        // paints its own.
        EXPECT_EQ(Show(shot.at(5, s(400))), Show(RGB(243, 243, 243)));
        EXPECT_EQ(Show(shot.at(right, shot.height() - 1)), Show(RGB(243, 243, 243)));
        const RECT status = ChildRect(window, app->statusLabel);
        EXPECT_EQ(Show(shot.at(status.right - 2, status.top + 2)), Show(RGB(243, 243, 243)));

        // The title and the subtitle are drawn in their colours.
        auto count = [&](int left, int top, int right, int bottom, COLORREF colour) {
            int hits = 0;
            for (int y = top; y < bottom; ++y) {
                for (int x = left; x < right; ++x) {
                    hits += Near(shot.at(x, y), colour, 12) ? 1 : 0;
                }
            }
            return hits;
        };
        EXPECT_GT(count(s(101), s(23), s(260), s(56), RGB(18, 69, 116)), 40);
        EXPECT_GT(count(s(104), s(65), s(480), s(85), RGB(48, 91, 130)), 40);
        // Without an icon resource in the test program, the icon's place shows the gradient.
        EXPECT_EQ(count(s(24), s(20), s(88), s(84), RGB(18, 69, 116)), 0);
    }
}

} // namespace
} // namespace tidewell::apptest
