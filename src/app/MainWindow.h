#pragma once

#include "app/WindowLayout.h"
#include "catalogue/ScanSession.h"
#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

namespace tidewell {

constexpr int ID_SCAN = 101;
constexpr int ID_CLEAN = 102;
constexpr int ID_ONECLICK = 103;
constexpr int ID_RESULT_TREE = 104;
constexpr int ID_PROGRESS = 105;
constexpr int ID_STATUS = 106;
constexpr int ID_PRODUCT_TABS = 107;

// Posted to the main window after a tree check box was toggled; lParam is the node. Posting
// lets the tree view finish the toggle before the branch is re-derived.
constexpr UINT WM_CHECKCHANGED = WM_APP + 1;

extern const wchar_t kMainWindowClass[];
extern const wchar_t kMainWindowTitle[];

struct FontTraits {
    using Type = HFONT;
    static Type invalid() { return nullptr; }
    static void close(Type font) { DeleteObject(font); }
};

struct IconTraits {
    using Type = HICON;
    static Type invalid() { return nullptr; }
    static void close(Type icon) { DestroyIcon(icon); }
};

struct BrushTraits {
    using Type = HBRUSH;
    static Type invalid() { return nullptr; }
    static void close(Type brush) { DeleteObject(brush); }
};

struct ImageListTraits {
    using Type = HIMAGELIST;
    static Type invalid() { return nullptr; }
    static void close(Type list) { ImageList_Destroy(list); }
};

using UniqueFont = win32::UniqueHandle<FontTraits>;
using UniqueIcon = win32::UniqueHandle<IconTraits>;
using UniqueBrush = win32::UniqueHandle<BrushTraits>;
using UniqueImageList = win32::UniqueHandle<ImageListTraits>;

// The system's dots per inch (96 at 100 %), which every length of the window is scaled by.
int SystemDpi();

// The application object: the scan session (product and items) and the window around it. One
// instance lives for the whole run; the window reaches it through its user-data slot.
class MainWindow {
public:
    MainWindow(HINSTANCE instance, Platform& platform, int dpi = SystemDpi());
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Window and dispatch.
    void layoutControls(int width, int height);
    void paintHeader();
    void eraseBackground(HDC dc);
    void releaseResources();
    // The smallest window that shows every control whole, never larger than the work area.
    void limitTrackingSize(MINMAXINFO& limits);
    // Moves and cuts the window so that it lies wholly inside its monitor's work area.
    void fitIntoWorkArea();
    LRESULT controlColours(HDC dc);
    void onActivate(bool active);
    // Dialog-style keys for the message loop: Tab and Shift+Tab move the focus, Space and Enter
    // press the focused button, arrows switch tabs. True when the message was handled.
    bool handleDialogKeys(MSG& message);
    int scaled(int length) const;

    // A long operation (a scan, a workflow, a check propagation) runs only when none is under
    // way: windows answer sent messages during one, and a message box runs a loop of its own.
    template <typename Work> void runExclusive(Work work) {
        if (operationRunning) {
            return;
        }
        operationRunning = true;
        work();
        operationRunning = false;
    }
    // The end of a busy state: clicks and keys that arrived meanwhile are dropped, so that none
    // of them starts anything now, and a sensible control gets the focus back.
    void endBusyInput();

    // Controls, product selection and the busy convention.
    void createControls();
    void switchProduct();
    void runScanCommand();
    void setBusy(bool busy, const std::u16string& text);
    void setStatus(const std::u16string& text);
    // Replaces `items` with a fresh scan and rebuilds the tree; callers handle the busy state.
    void runScan() { session.runScan(); }

    // The two workflows behind the clean and one-click buttons.
    void cleanSelected();
    void oneClickUninstall();

    // Result tree.
    void populateTree();
    HTREEITEM insertTreeItem(HTREEITEM parent, const std::u16string& text, ResidueItem* link,
                             bool checked, int image, bool partly = false);
    // Items of the checked leaves, in tree pre-order; they point into `items`.
    std::vector<ResidueItem*> checkedItems();
    void collectCheckedItems(HTREEITEM node, std::vector<ResidueItem*>& list);
    void setDescendantsChecked(HTREEITEM node, bool checked);
    // Turns the node's box over (a partly checked group becomes checked) and propagates.
    void toggleCheck(HTREEITEM node);
    void onCheckChanged(HTREEITEM node);
    // The tree's own input for check boxes, taken before the tree view sees it: clicks and
    // double-clicks on a box and the space bar toggle through toggleCheck only.
    static LRESULT CALLBACK treeInput(HWND tree, UINT message, WPARAM wParam, LPARAM lParam);
    void createCheckImages();
    LRESULT handleNotify(const NMHDR& header);
    void emptyTree();

    HINSTANCE instance;
    int dpi = kBaseDpi;
    HWND window = nullptr;
    HWND productTabs = nullptr;
    HWND actionsGroup = nullptr;
    HWND resultsGroup = nullptr;
    HWND scanButton = nullptr;
    HWND cleanButton = nullptr;
    HWND oneClickButton = nullptr;
    HWND resultTree = nullptr;
    WNDPROC treeProcedure = nullptr; // the tree view's own procedure, which treeInput calls on
    HWND progressBar = nullptr;
    HWND statusLabel = nullptr;
    UniqueFont bodyFont;
    UniqueFont titleFont;
    UniqueIcon headerIcon;
    UniqueIcon shieldIcon;
    UniqueBrush backgroundBrush; // the window's one background, also behind the controls
    COLORREF backgroundColour = 0;
    UniqueImageList checkImages; // the tree's boxes: unchecked, checked, partly checked
    HWND focusToRestore = nullptr;
    bool operationRunning = false;
    HIMAGELIST systemImageList = nullptr; // the shell's; never destroyed
    int folderIcon = 0;
    int tempFileIcon = 0;
    int registryIcon = 0;
    int programIcon = 0;
    int libraryIcon = 0;
    int installerIcon = 0;

    // The logic side: the product in view and the owning list of the last scan's items.
    ScanSession session;
    ItemList& items;
    bool treeUpdating = false;
    ProductKind& product;
};

// Registers the "TidewellMain" class; 0 when it fails.
ATOM RegisterMainWindowClass(HINSTANCE instance, HICON largeIcon, HICON smallIcon);

// Creates the main window (960 x 720 scaled, fitted to the work area, not yet shown) bound to
// `app`; null on failure.
HWND CreateMainWindow(MainWindow& app);

} // namespace tidewell
