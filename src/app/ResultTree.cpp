#include "app/MainWindow.h"
#include "app/ResultTreeRules.h"
#include "platform/win32/Wide.h"

namespace tidewell {

using win32::AsWide;

namespace {

constexpr UINT kUnchecked = 1;
constexpr UINT kChecked = 2;
constexpr UINT kPartlyChecked = 3; // groups only: some of the leaves below are checked

HTREEITEM NextItem(HWND tree, HTREEITEM node, UINT relation) {
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(node)));
}

ResidueItem* LinkOf(HWND tree, HTREEITEM node) {
    TVITEMW item = {};
    item.mask = TVIF_PARAM;
    item.hItem = node;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    return reinterpret_cast<ResidueItem*>(item.lParam);
}

UINT MarkOf(HWND tree, HTREEITEM node) {
    const UINT state = static_cast<UINT>(
        SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(node), TVIS_STATEIMAGEMASK));
    return state >> 12;
}

// A node counts as checked whenever its state image is anything but the unchecked box.
bool IsChecked(HWND tree, HTREEITEM node) {
    return MarkOf(tree, node) != kUnchecked;
}

void SetMark(HWND tree, HTREEITEM node, UINT mark) {
    TVITEMW item = {};
    item.mask = TVIF_STATE | TVIF_HANDLE;
    item.hItem = node;
    item.stateMask = TVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(mark);
    SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

void SetChecked(HWND tree, HTREEITEM node, bool checked) {
    SetMark(tree, node, checked ? kChecked : kUnchecked);
}

UINT MarkFor(bool checked, bool partly) {
    return checked ? kChecked : partly ? kPartlyChecked : kUnchecked;
}

} // namespace

void MainWindow::emptyTree() {
    SendMessageW(resultTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

HTREEITEM MainWindow::insertTreeItem(HTREEITEM parent, const std::u16string& text,
                                     ResidueItem* link, bool checked, int image, bool partly) {
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    TVITEMW& item = insert.item;
    item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_PARAM | TVIF_STATE | TVIF_SELECTEDIMAGE;
    item.pszText = const_cast<wchar_t*>(AsWide(text));
    item.iImage = image;
    item.iSelectedImage = image;
    item.lParam = reinterpret_cast<LPARAM>(link);
    item.stateMask = TVIS_STATEIMAGEMASK;
    item.state = INDEXTOSTATEIMAGEMASK(MarkFor(checked, partly));
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(resultTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

void MainWindow::populateTree() {
    emptyTree();
    treeUpdating = true;

    auto imageIndex = [this](TreeImage image) {
        switch (image) {
        case TreeImage::Folder:
            return folderIcon;
        case TreeImage::TempFile:
            return tempFileIcon;
        case TreeImage::Registry:
            return registryIcon;
        case TreeImage::Program:
            return programIcon;
        case TreeImage::Library:
            return libraryIcon;
        case TreeImage::Installer:
            return installerIcon;
        }
        return tempFileIcon;
    };

    std::vector<PlannedNode> plan =
        PlanResultTree(items, product, [this] { session.platform.lookAtQueue(); });
    // The groups' checks follow from the plan rather than from reading the leaves back, which
    // costs a message per node (each a search of all nodes under Wine).
    DeriveGroupChecks(plan);
    // No repaint while thousands of nodes go in; one when the tree is complete.
    SendMessageW(resultTree, WM_SETREDRAW, FALSE, 0);
    std::vector<HTREEITEM> nodes(plan.size(), nullptr);
    for (const size_t index : InsertionOrder(plan)) {
        const PlannedNode& planned = plan[index];
        const HTREEITEM parent = planned.parent < 0 ? TVI_ROOT : nodes[planned.parent];
        nodes[index] = insertTreeItem(parent, planned.text, planned.item, planned.checked,
                                      imageIndex(planned.image), planned.partly);
        session.platform.lookAtQueue();
    }
    // Categories open; path nodes start closed; the root opens last.
    for (size_t index = 1; index < plan.size(); ++index) {
        if (plan[index].expand) {
            SendMessageW(resultTree, TVM_EXPAND, TVE_EXPAND,
                         reinterpret_cast<LPARAM>(nodes[index]));
        }
    }
    SendMessageW(resultTree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(nodes.front()));
    SendMessageW(resultTree, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(resultTree, nullptr, TRUE);
    treeUpdating = false;
}

std::vector<ResidueItem*> MainWindow::checkedItems() {
    std::vector<ResidueItem*> list;
    collectCheckedItems(NextItem(resultTree, nullptr, TVGN_ROOT), list);
    return list;
}

void MainWindow::collectCheckedItems(HTREEITEM node, std::vector<ResidueItem*>& list) {
    if (node == nullptr) {
        return;
    }
    session.platform.lookAtQueue();
    ResidueItem* item = LinkOf(resultTree, node);
    if (item != nullptr && IsChecked(resultTree, node)) {
        list.push_back(item);
    }
    for (HTREEITEM child = NextItem(resultTree, node, TVGN_CHILD); child != nullptr;
         child = NextItem(resultTree, child, TVGN_NEXT)) {
        collectCheckedItems(child, list);
    }
}

void MainWindow::setDescendantsChecked(HTREEITEM node, bool checked) {
    for (HTREEITEM child = NextItem(resultTree, node, TVGN_CHILD); child != nullptr;
         child = NextItem(resultTree, child, TVGN_NEXT)) {
        session.platform.lookAtQueue();
        SetChecked(resultTree, child, checked);
        setDescendantsChecked(child, checked);
    }
}

void MainWindow::toggleCheck(HTREEITEM node) {
    if (node == nullptr || treeUpdating || operationRunning) {
        return;
    }
    // A checked box becomes unchecked; an unchecked or partly checked one becomes checked.
    SetChecked(resultTree, node, MarkOf(resultTree, node) != kChecked);
    onCheckChanged(node);
}

void MainWindow::onCheckChanged(HTREEITEM node) {
    if (node == nullptr || treeUpdating || operationRunning) {
        return;
    }
    // The walks look at the queue, and nothing that arrives meanwhile may rebuild the tree.
    runExclusive([&] {
        treeUpdating = true;
        const bool checked = IsChecked(resultTree, node);
        SetChecked(resultTree, node, checked);
        setDescendantsChecked(node, checked);
        for (HTREEITEM ancestor = NextItem(resultTree, node, TVGN_PARENT); ancestor != nullptr;
             ancestor = NextItem(resultTree, ancestor, TVGN_PARENT)) {
            bool allChecked = true;
            bool anyMarked = false;
            for (HTREEITEM child = NextItem(resultTree, ancestor, TVGN_CHILD); child != nullptr;
                 child = NextItem(resultTree, child, TVGN_NEXT)) {
                const UINT mark = MarkOf(resultTree, child);
                allChecked = allChecked && mark == kChecked;
                anyMarked = anyMarked || mark != kUnchecked;
            }
            SetMark(resultTree, ancestor, MarkFor(allChecked, anyMarked));
        }
        treeUpdating = false;

        std::vector<ResidueItem*> selection;
        collectCheckedItems(NextItem(resultTree, nullptr, TVGN_ROOT), selection);
        setStatus(CheckedStatusText(selection.size(), items.size()));
    });
}

LRESULT CALLBACK MainWindow::treeInput(HWND tree, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* app = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(tree, GWLP_USERDATA));
    const WNDPROC own = app->treeProcedure;
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        // The point is the message's own, not wherever the cursor has gone since.
        TVHITTESTINFO hit = {};
        hit.pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (hit.hItem != nullptr && (hit.flags & TVHT_ONITEMSTATEICON) != 0) {
            SetFocus(tree);
            app->toggleCheck(hit.hItem);
            return 0;
        }
        break;
    }
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) {
            app->toggleCheck(NextItem(tree, nullptr, TVGN_CARET));
            return 0;
        }
        break;
    case WM_CHAR:
    case WM_KEYUP:
        if (wParam == VK_SPACE) {
            return 0;
        }
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrW(tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(own));
        app->treeProcedure = nullptr;
        break;
    }
    return CallWindowProcW(own, tree, message, wParam, lParam);
}

LRESULT MainWindow::handleNotify(const NMHDR& header) {
    if (header.idFrom == ID_PRODUCT_TABS && header.code == TCN_SELCHANGE) {
        if (operationRunning) {
            // Too late to refuse the click itself: the tab goes back to the product in view.
            SendMessageW(productTabs, TCM_SETCURSEL, TabForProduct(product), 0);
        } else {
            runExclusive([this] { switchProduct(); });
        }
        return 0;
    }
    if (header.idFrom != ID_RESULT_TREE) {
        return 0;
    }
    switch (header.code) {
    case TVN_SELCHANGEDW: {
        const auto& change = reinterpret_cast<const NMTREEVIEWW&>(header);
        const auto* item = reinterpret_cast<const ResidueItem*>(change.itemNew.lParam);
        if (item != nullptr) {
            setStatus(SelectionStatusText(*item));
        }
        break;
    }
    case TVN_GETINFOTIPW: {
        const auto& tip = reinterpret_cast<const NMTVGETINFOTIPW&>(header);
        const ResidueItem* item = LinkOf(resultTree, tip.hItem);
        if (item != nullptr && tip.cchTextMax > 0) {
            const std::u16string text = TipText(item->note, tip.cchTextMax);
            std::copy(text.begin(), text.end(), reinterpret_cast<char16_t*>(tip.pszText));
            tip.pszText[text.size()] = L'\0';
        }
        break;
    }
    }
    return 0;
}

} // namespace tidewell
