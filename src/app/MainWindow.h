#pragma once

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

using UniqueFont = win32::UniqueHandle<FontTraits>;
using UniqueIcon = win32::UniqueHandle<IconTraits>;

// The application object: the scan session (product and items) and the window around it. One
// instance lives for the whole run; the window reaches it through its user-data slot.
class MainWindow {
public:
    MainWindow(HINSTANCE instance, Platform& platform);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Window and dispatch.
    void layoutControls(int width, int height);
    void paintHeader();
    void releaseResources();

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
                             bool checked, int image);
    // Items of the checked leaves, in tree pre-order; they point into `items`.
    std::vector<ResidueItem*> checkedItems();
    void collectCheckedItems(HTREEITEM node, std::vector<ResidueItem*>& list);
    void setDescendantsChecked(HTREEITEM node, bool checked);
    bool syncGroupChecks(HTREEITEM node);
    void onCheckChanged(HTREEITEM node);
    LRESULT handleNotify(const NMHDR& header);
    void emptyTree();

    HINSTANCE instance;
    HWND window = nullptr;
    HWND productTabs = nullptr;
    HWND actionsGroup = nullptr;
    HWND resultsGroup = nullptr;
    HWND scanButton = nullptr;
    HWND cleanButton = nullptr;
    HWND oneClickButton = nullptr;
    HWND resultTree = nullptr;
    HWND progressBar = nullptr;
    HWND statusLabel = nullptr;
    UniqueFont bodyFont;
    UniqueFont titleFont;
    UniqueIcon headerIcon;
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

// Creates the main window (960 x 720, not yet shown) bound to `app`; null on failure.
HWND CreateMainWindow(MainWindow& app);

} // namespace tidewell
