#include "app/MainWindow.h"
#include "app/ResultTreeRules.h"
#include "app/resources/resource.h"
#include "platform/win32/Wide.h"

#include <shellapi.h>
#include <uxtheme.h>
#include <vssym32.h>

#include <cwchar>
#include <string>

namespace tidewell {

using win32::AsWide;

namespace {

HFONT CreateUiFont(int height, int weight, const wchar_t* face) {
    return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

int CALLBACK NoteFontFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool FontInstalled(const wchar_t* face) {
    LOGFONTW font = {};
    font.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(font.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    const HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &font, NoteFontFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// "Microsoft YaHei UI" first came with Windows 8; Windows 7 has its older sibling.
const wchar_t* HeadingFace() {
    return FontInstalled(L"Microsoft YaHei UI") ? L"Microsoft YaHei UI" : L"Microsoft YaHei";
}

HICON LoadSizedIcon(HINSTANCE instance, const wchar_t* name, int size) {
    return static_cast<HICON>(LoadImageW(instance, name, IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

// The theme calls, taken from System32's uxtheme at run time: it is not one of the system's
// known libraries, so an import of it could be served by a copy beside the program.
class ThemeLibrary {
public:
    ThemeLibrary() {
        wchar_t folder[MAX_PATH] = {};
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return;
        }
        module_ = LoadLibraryW((std::wstring(folder) + L"\\uxtheme.dll").c_str());
        if (module_ != nullptr) {
            open = reinterpret_cast<decltype(open)>(
                reinterpret_cast<void*>(GetProcAddress(module_, "OpenThemeData")));
            draw = reinterpret_cast<decltype(draw)>(
                reinterpret_cast<void*>(GetProcAddress(module_, "DrawThemeBackground")));
            close = reinterpret_cast<decltype(close)>(
                reinterpret_cast<void*>(GetProcAddress(module_, "CloseThemeData")));
        }
    }
    ~ThemeLibrary() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    ThemeLibrary(const ThemeLibrary&) = delete;
    ThemeLibrary& operator=(const ThemeLibrary&) = delete;

    bool usable() const { return open != nullptr && draw != nullptr && close != nullptr; }

    decltype(&OpenThemeData) open = nullptr;
    decltype(&DrawThemeBackground) draw = nullptr;
    decltype(&CloseThemeData) close = nullptr;

private:
    HMODULE module_ = nullptr;
};

constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kGroupStyle = WS_CHILD | WS_VISIBLE | BS_GROUPBOX;
constexpr DWORD kTreeStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                             TVS_LINESATROOT | TVS_SHOWSELALWAYS | TVS_CHECKBOXES | TVS_INFOTIP;

// Index of the shell's small icon for a name; nothing needs to exist under that name.
int ShellIconIndex(const wchar_t* name, DWORD attributes, SHFILEINFOW& info,
                   HIMAGELIST* imageList = nullptr) {
    const DWORD_PTR result =
        SHGetFileInfoW(name, attributes, &info, sizeof(info),
                       SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES);
    if (imageList != nullptr) {
        *imageList = reinterpret_cast<HIMAGELIST>(result);
    }
    return info.iIcon;
}

} // namespace

void MainWindow::createControls() {
    bodyFont.reset(CreateUiFont(scaled(13), FW_NORMAL, L"Segoe UI"));
    titleFont.reset(CreateUiFont(scaled(25), FW_BOLD, HeadingFace()));
    headerIcon.reset(LoadSizedIcon(instance, MAKEINTRESOURCEW(IDI_APP), scaled(64)));

    auto child = [this](const wchar_t* className, const wchar_t* text, DWORD style,
                        DWORD extendedStyle, int id) {
        return CreateWindowExW(extendedStyle, className, text, style, 0, 0, 0, 0, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                               nullptr);
    };

    productTabs = child(WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | TCS_FIXEDWIDTH, 0,
                        ID_PRODUCT_TABS);
    SendMessageW(productTabs, TCM_SETITEMSIZE, 0, MAKELPARAM(scaled(138), scaled(29)));
    const ProductKind tabProducts[] = {ProductKind::AutoCAD, ProductKind::SolidWorks,
                                       ProductKind::Oracle};
    for (int index = 0; index < 3; ++index) {
        std::u16string name = productName(tabProducts[index]);
        TCITEMW tab = {};
        tab.mask = TCIF_TEXT;
        tab.pszText = const_cast<wchar_t*>(AsWide(name));
        SendMessageW(productTabs, TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&tab));
    }

    actionsGroup = child(L"BUTTON", L"1. 扫描与操作", kGroupStyle, 0, 0);
    scanButton = child(L"BUTTON", L"搜索残留...", kButtonStyle, 0, ID_SCAN);
    cleanButton = child(L"BUTTON", L"清理选中项", kButtonStyle, 0, ID_CLEAN);
    oneClickButton = child(L"BUTTON", AsWide(OneClickCaption(ProductKind::AutoCAD)), kButtonStyle,
                           0, ID_ONECLICK);
    if (SendMessageW(oneClickButton, BCM_SETSHIELD, 0, 1) != 1) {
        // Systems whose buttons draw no shield (Wine) get the stock shield icon as the image.
        shieldIcon.reset(LoadSizedIcon(nullptr, IDI_SHIELD, scaled(16)));
        SendMessageW(oneClickButton, BM_SETIMAGE, IMAGE_ICON,
                     reinterpret_cast<LPARAM>(shieldIcon.get()));
    }

    resultsGroup = child(L"BUTTON", L"2. 扫描结果（勾选父节点可选择整个分类）", kGroupStyle, 0, 0);
    resultTree = child(WC_TREEVIEWW, L"", kTreeStyle, WS_EX_CLIENTEDGE, ID_RESULT_TREE);
    // Without TVS_NONEVENHEIGHT the tree rounds this down to an even height (18 at 96 DPI).
    SendMessageW(resultTree, TVM_SETITEMHEIGHT, scaled(19), 0);
    // The tree's procedure is swapped, not chained with SetWindowSubclass: that chain looks up a
    // window property twice for every message, a trip to the server each under Wine, which made
    // building a large tree five to ten times slower.
    SetWindowLongPtrW(resultTree, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    treeProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(resultTree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(treeInput)));

    SHFILEINFOW info = {};
    folderIcon = ShellIconIndex(L"C:\\", FILE_ATTRIBUTE_DIRECTORY, info, &systemImageList);
    tempFileIcon = ShellIconIndex(L"item.tmp", FILE_ATTRIBUTE_NORMAL, info);
    registryIcon = ShellIconIndex(L"item.reg", FILE_ATTRIBUTE_NORMAL, info);
    programIcon = ShellIconIndex(L"item.exe", FILE_ATTRIBUTE_NORMAL, info);
    libraryIcon = ShellIconIndex(L"item.dll", FILE_ATTRIBUTE_NORMAL, info);
    installerIcon = ShellIconIndex(L"item.msi", FILE_ATTRIBUTE_NORMAL, info);
    SendMessageW(resultTree, TVM_SETIMAGELIST, TVSIL_NORMAL,
                 reinterpret_cast<LPARAM>(systemImageList));
    createCheckImages();

    progressBar = child(PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 0, ID_PROGRESS);
    statusLabel = child(L"STATIC", AsWide(ReadyStatusText()),
                        WS_CHILD | WS_VISIBLE | SS_LEFT | SS_PATHELLIPSIS, 0, ID_STATUS);

    for (HWND control : {productTabs, actionsGroup, scanButton, cleanButton, oneClickButton,
                         resultsGroup, resultTree, statusLabel}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(bodyFont.get()), TRUE);
    }
    EnableWindow(cleanButton, FALSE);
    focusToRestore = scanButton;
}

void MainWindow::createCheckImages() {
    // Index 0 is no box; 1 unchecked, 2 checked, 3 partly checked, drawn as the system draws
    // check boxes (themed where a theme is active).
    const int size = scaled(16);
    const int box = scaled(13);
    const RECT whole = {0, 0, size, size};
    const RECT boxRect = {(size - box) / 2, (size - box) / 2, (size - box) / 2 + box,
                          (size - box) / 2 + box};
    checkImages.reset(ImageList_Create(size, size, ILC_COLOR24, 4, 0));
    const ThemeLibrary themes;
    const HTHEME theme = themes.usable() ? themes.open(resultTree, L"BUTTON") : nullptr;
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const int themedStates[] = {0, CBS_UNCHECKEDNORMAL, CBS_CHECKEDNORMAL, CBS_MIXEDNORMAL};
    const UINT classicStates[] = {0, DFCS_BUTTONCHECK | DFCS_FLAT,
                                  DFCS_BUTTONCHECK | DFCS_FLAT | DFCS_CHECKED,
                                  DFCS_BUTTON3STATE | DFCS_FLAT | DFCS_CHECKED};
    for (int image = 0; image < 4; ++image) {
        const HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
        const HGDIOBJ previous = SelectObject(dc, bitmap);
        FillRect(dc, &whole, GetSysColorBrush(COLOR_WINDOW));
        RECT target = boxRect;
        if (image > 0 && theme != nullptr) {
            themes.draw(theme, dc, BP_CHECKBOX, themedStates[image], &target, nullptr);
        } else if (image > 0) {
            DrawFrameControl(dc, &target, DFC_BUTTON, classicStates[image]);
        }
        SelectObject(dc, previous);
        ImageList_Add(checkImages.get(), bitmap, nullptr);
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    if (theme != nullptr) {
        themes.close(theme);
    }
    // The tree's own two-box list is replaced; the tree never frees a state list itself.
    const auto own = reinterpret_cast<HIMAGELIST>(SendMessageW(
        resultTree, TVM_SETIMAGELIST, TVSIL_STATE, reinterpret_cast<LPARAM>(checkImages.get())));
    if (own != nullptr && own != checkImages.get()) {
        ImageList_Destroy(own);
    }
}

void MainWindow::switchProduct() {
    const int tab = static_cast<int>(SendMessageW(productTabs, TCM_GETCURSEL, 0, 0));
    // Empties the tree before the items it links to are deleted.
    session.switchProduct(ProductForTab(tab));
    SetWindowTextW(oneClickButton, AsWide(OneClickCaption(product)));
    setStatus(SwitchedStatusText(product));
    EnableWindow(cleanButton, FALSE);
    SendMessageW(progressBar, PBM_SETPOS, 0, 0);
}

void MainWindow::runScanCommand() {
    if (IsChild(window, GetFocus())) {
        focusToRestore = GetFocus();
    }
    EnableWindow(scanButton, FALSE);
    EnableWindow(oneClickButton, FALSE);
    EnableWindow(cleanButton, FALSE);
    EnableWindow(resultTree, FALSE);
    setStatus(ScanningStatusText());
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    // Nothing else is painted until the scan returns.
    UpdateWindow(window);

    emptyTree();
    runScan();
    const std::u16string result = ScanResultText(product, items.size());

    EnableWindow(scanButton, TRUE);
    EnableWindow(oneClickButton, TRUE);
    EnableWindow(cleanButton, !items.empty());
    EnableWindow(resultTree, TRUE);
    setStatus(result);
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    UpdateWindow(window);
    endBusyInput();
}

void MainWindow::setBusy(bool busy, const std::u16string& text) {
    if (busy && IsChild(window, GetFocus())) {
        focusToRestore = GetFocus();
    }
    EnableWindow(scanButton, !busy);
    EnableWindow(oneClickButton, !busy);
    EnableWindow(cleanButton, !busy && !items.empty());
    EnableWindow(resultTree, !busy);
    setStatus(text);
    SetCursor(LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW));
    UpdateWindow(window);
    if (!busy) {
        endBusyInput();
    }
}

void MainWindow::setStatus(const std::u16string& text) {
    SetWindowTextW(statusLabel, AsWide(text));
}

} // namespace tidewell
