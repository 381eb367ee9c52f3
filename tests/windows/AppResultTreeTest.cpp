#include "AppTestSupport.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace tidewell::apptest {
namespace {

class AppResultTreeTest : public AppWindowTest {
protected:
    ResidueItem* add(const std::u16string& category, const std::u16string& title,
                     const std::u16string& location, ItemKind kind, RiskLevel risk, bool checked,
                     const std::u16string& note) {
        auto item = std::make_unique<ResidueItem>();
        item->category = category;
        item->title = title;
        item->location = location;
        item->kind = kind;
        item->risk = risk;
        item->checked = checked;
        item->note = note;
        app->items.push_back(std::move(item));
        return app->items.back().get();
    }

    // Six items in four categories, as a scan of AutoCAD might leave them.
    void buildScan(bool allChecked) {
        app->emptyTree();
        app->items.clear();
        program2024 =
            add(u"程序文件", u"AutoCAD 2024", u"C:\\Program Files\\Autodesk\\AutoCAD 2024",
                ItemKind::Directory, RiskLevel::NeedsConfirm, true, u"目录名动态匹配");
        process = add(u"正在占用", u"acad.exe（PID 4312）", u"4312", ItemKind::Process,
                      RiskLevel::Safe, true, u"进程可能锁定安装文件。");
        registry32 = add(u"AutoCAD 用户注册表", u"AutoCAD 用户注册表 [32位]",
                         u"HKCU\\Software\\Autodesk\\AutoCAD [32位]", ItemKind::RegistryKey,
                         RiskLevel::Safe, true, u"删除前自动导出备份。");
        registry64 = add(u"AutoCAD 用户注册表", u"AutoCAD 用户注册表 [64位]",
                         u"HKCU\\Software\\Autodesk\\AutoCAD [64位]", ItemKind::RegistryKey,
                         RiskLevel::Safe, allChecked, u"删除前自动导出备份。");
        temp = add(u"临时文件", u"setup [1].log", u"C:\\Temp\\setup [1].log", ItemKind::File,
                   RiskLevel::Safe, allChecked, u"临时安装日志");
        program2025 =
            add(u"程序文件", u"AutoCAD 2025", u"C:\\Program Files\\Autodesk\\AutoCAD 2025",
                ItemKind::Directory, RiskLevel::NeedsConfirm, true, u"目录名动态匹配");
        app->populateTree();
    }

    HWND tree() const { return app->resultTree; }

    std::string text(HTREEITEM node) const { return TreeText(tree(), node); }

    bool checked(HTREEITEM node) const { return TreeView_GetCheckState(tree(), node) == 1; }

    // The node reached from the root by texts that start with the given prefixes.
    HTREEITEM find(std::initializer_list<std::string> path) const {
        HTREEITEM node = TreeView_GetRoot(tree());
        for (const std::string& prefix : path) {
            node = TreeView_GetChild(tree(), node);
            while (node != nullptr && text(node).rfind(prefix, 0) != 0) {
                node = TreeView_GetNextSibling(tree(), node);
            }
            if (node == nullptr) {
                ADD_FAILURE() << "no node " << prefix;
                return nullptr;
            }
        }
        return node;
    }

    // The images the tree should show, by the names the dumps use; the shell may give several
    // of them the same index, so a dump names an index by the first name that has it.
    std::vector<std::pair<std::string, int>> images() const {
        return {{"msi", app->installerIcon}, {"folder", app->folderIcon},
                {"reg", app->registryIcon},  {"exe", app->programIcon},
                {"tmp", app->tempFileIcon},  {"dll", app->libraryIcon}};
    }

    std::string imageName(int image) const {
        for (const auto& [name, index] : images()) {
            if (index == image) {
                return name;
            }
        }
        return "?" + std::to_string(image);
    }

    // The expected dump with @msi, @folder ... standing for the images.
    std::string withImages(std::string expected) const {
        for (const auto& [name, index] : images()) {
            const std::string token = "@" + name;
            for (size_t at = expected.find(token); at != std::string::npos;
                 at = expected.find(token)) {
                expected.replace(at, token.size(), imageName(index));
            }
        }
        return expected;
    }

    // Text, check box, expansion and image of every node, indented by depth.
    std::string dump() const {
        std::string out;
        dumpFrom(TreeView_GetRoot(tree()), 0, out);
        return out;
    }

    void dumpFrom(HTREEITEM node, int depth, std::string& out) const {
        for (; node != nullptr; node = TreeView_GetNextSibling(tree(), node)) {
            TVITEMW item = {};
            item.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE | TVIF_PARAM;
            item.hItem = node;
            item.stateMask = TVIS_EXPANDED | TVIS_STATEIMAGEMASK;
            TreeView_GetItem(tree(), &item);
            out += std::string(static_cast<size_t>(depth) * 2, ' ');
            const UINT mark = TreeView_GetCheckState(tree(), node);
            out += mark == 1 ? "[x] " : mark == 2 ? "[-] " : "[ ] ";
            out += text(node);
            out += (item.state & TVIS_EXPANDED) != 0 ? " +" : "";
            out += " " + imageName(item.iImage);
            if (item.iSelectedImage != item.iImage) {
                out += " (selected image differs)";
            }
            out += item.lParam != 0 ? " *" : "";
            out += "\n";
            dumpFrom(TreeView_GetChild(tree(), node), depth + 1, out);
        }
    }

    // The middle of the run of points left of the node's label that hit its check box.
    LPARAM boxPoint(HTREEITEM node) {
        TreeView_EnsureVisible(tree(), node);
        RECT label = {};
        EXPECT_TRUE(TreeView_GetItemRect(tree(), node, &label, TRUE));
        TVHITTESTINFO hit = {};
        hit.pt.y = (label.top + label.bottom) / 2;
        int first = -1;
        int last = -1;
        for (hit.pt.x = 0; hit.pt.x < label.left; ++hit.pt.x) {
            if (TreeView_HitTest(tree(), &hit) == node && (hit.flags & TVHT_ONITEMSTATEICON)) {
                first = first < 0 ? hit.pt.x : first;
                last = hit.pt.x;
            }
        }
        EXPECT_GE(first, 0) << "no check box left of " << text(node);
        return MAKELPARAM((first + last) / 2, hit.pt.y);
    }

    // Clicks (or double-clicks) the node's check box with the mouse and waits until the change
    // is handled. The cursor is elsewhere: the click's own position counts.
    void clickCheckBox(HTREEITEM node, bool twice = false) {
        const LPARAM position = boxPoint(node);
        SetCursorPos(0, 0);
        app->setStatus(u"");
        PostMessageW(tree(), WM_LBUTTONDOWN, MK_LBUTTON, position);
        PostMessageW(tree(), WM_LBUTTONUP, 0, position);
        if (twice) {
            PostMessageW(tree(), WM_LBUTTONDBLCLK, MK_LBUTTON, position);
            PostMessageW(tree(), WM_LBUTTONUP, 0, position);
        }
        ASSERT_TRUE(PumpUntil([&] { return status().rfind("已勾选", 0) == 0; }))
            << "the click on " << text(node) << " was not handled";
        PumpQueued();
    }

    // Every group shows what its leaves say (x all checked, - some, blank none), and the
    // status line counts the checked leaves. Returns the dump for messages.
    void expectConsistent() {
        checkGroup(TreeView_GetRoot(tree()));
        EXPECT_EQ(status(), "已勾选 " + std::to_string(app->checkedItems().size()) + " / 6 项");
    }

    // The leaves below the node: {checked, all}.
    std::pair<int, int> checkGroup(HTREEITEM node) {
        TVITEMW item = {};
        item.mask = TVIF_PARAM;
        item.hItem = node;
        TreeView_GetItem(tree(), &item);
        const UINT mark = TreeView_GetCheckState(tree(), node);
        if (item.lParam != 0) {
            return {mark == 1 ? 1 : 0, 1};
        }
        std::pair<int, int> leaves = {0, 0};
        for (HTREEITEM child = TreeView_GetChild(tree(), node); child != nullptr;
             child = TreeView_GetNextSibling(tree(), child)) {
            const auto [checkedBelow, all] = checkGroup(child);
            leaves.first += checkedBelow;
            leaves.second += all;
        }
        const UINT expected = leaves.first == leaves.second ? 1 : leaves.first > 0 ? 2 : 0;
        EXPECT_EQ(mark, expected) << text(node) << "\n" << dump();
        return leaves;
    }

    // Puts the caret on the node and presses the space bar.
    void pressSpaceOn(HTREEITEM node) {
        TreeView_SelectItem(tree(), node);
        app->setStatus(u"");
        PostMessageW(tree(), WM_KEYDOWN, VK_SPACE, 0x00390001);
        PostMessageW(tree(), WM_KEYUP, VK_SPACE, 0xC0390001);
        ASSERT_TRUE(PumpUntil([&] { return status().rfind("已勾选", 0) == 0; }))
            << "the space bar on " << text(node) << " was not handled";
    }

    ResidueItem* program2024 = nullptr;
    ResidueItem* program2025 = nullptr;
    ResidueItem* process = nullptr;
    ResidueItem* registry32 = nullptr;
    ResidueItem* registry64 = nullptr;
    ResidueItem* temp = nullptr;
};

TEST_F(AppResultTreeTest, BuildsGroupsPathNodesAndLeavesWithDerivedChecks) {
    buildScan(false);
    // Groups with some of their leaves checked show the mixed box; a file name with " [" is
    // shown whole.
    EXPECT_EQ(dump(), withImages("[-] AutoCAD 扫描结果（6 个项目） + @msi\n"
                                 "  [-] AutoCAD 用户注册表（2 个项目） + @reg\n"
                                 "    [-] HKCU @folder\n"
                                 "      [-] Software @folder\n"
                                 "        [-] Autodesk @folder\n"
                                 "          [x] AutoCAD  [安全项] @reg *\n"
                                 "          [ ] AutoCAD  [安全项] @reg *\n"
                                 "  [ ] 临时文件（1 个项目） + @tmp\n"
                                 "    [ ] C: @folder\n"
                                 "      [ ] Temp @folder\n"
                                 "        [ ] setup [1].log  [安全项] @tmp *\n"
                                 "  [x] 正在占用（1 个项目） + @exe\n"
                                 "    [x] acad.exe（PID 4312）  [安全项] @exe *\n"
                                 "  [x] 程序文件（2 个项目） + @folder\n"
                                 "    [x] C: @folder\n"
                                 "      [x] Program Files @folder\n"
                                 "        [x] Autodesk @folder\n"
                                 "          [x] AutoCAD 2024  [需确认] @folder *\n"
                                 "          [x] AutoCAD 2025  [需确认] @folder *\n"));
    // The leaves link to their items.
    TVITEMW leaf = {};
    leaf.mask = TVIF_PARAM;
    leaf.hItem = find({"程序文件", "C:", "Program Files", "Autodesk", "AutoCAD 2025"});
    TreeView_GetItem(tree(), &leaf);
    EXPECT_EQ(reinterpret_cast<ResidueItem*>(leaf.lParam), program2025);
    EXPECT_FALSE(app->treeUpdating);

    // Every leaf pre-checked: every group and the root are checked too.
    buildScan(true);
    const std::string all = dump();
    EXPECT_EQ(all.find("[ ]"), std::string::npos) << all;
    EXPECT_EQ(app->checkedItems().size(), 6u);

    // The selection starts from the items' defaults on every rebuild.
    app->populateTree();
    EXPECT_EQ(dump(), all);
}

TEST_F(AppResultTreeTest, CheckingACategoryWithTheMouseChecksItsBranch) {
    buildScan(false);
    const HTREEITEM registry = find({"AutoCAD 用户注册表"});
    clickCheckBox(registry);
    EXPECT_EQ(status(), "已勾选 5 / 6 项");
    EXPECT_TRUE(checked(registry));
    for (const HTREEITEM node :
         {find({"AutoCAD 用户注册表", "HKCU"}), find({"AutoCAD 用户注册表", "HKCU", "Software"}),
          find({"AutoCAD 用户注册表", "HKCU", "Software", "Autodesk"})}) {
        EXPECT_TRUE(checked(node)) << text(node);
    }
    EXPECT_FALSE(checked(TreeView_GetRoot(tree()))) << dump();

    // Checking the last unchecked leaf completes its category and the root.
    clickCheckBox(find({"临时文件", "C:", "Temp", "setup"}));
    EXPECT_EQ(status(), "已勾选 6 / 6 项");
    EXPECT_TRUE(checked(find({"临时文件"})));
    EXPECT_TRUE(checked(TreeView_GetRoot(tree()))) << dump();

    // Unchecking the root unchecks everything; the count is of leaves only.
    pressSpaceOn(TreeView_GetRoot(tree()));
    EXPECT_EQ(status(), "已勾选 0 / 6 项");
    EXPECT_EQ(dump().find("[x]"), std::string::npos) << dump();
    EXPECT_TRUE(app->checkedItems().empty());
}

TEST_F(AppResultTreeTest, UncheckingALeafWithTheSpaceBarUnchecksItsAncestorsOnly) {
    buildScan(true);
    const HTREEITEM leaf2024 =
        find({"程序文件", "C:", "Program Files", "Autodesk", "AutoCAD 2024"});
    pressSpaceOn(leaf2024);
    EXPECT_EQ(status(), "已勾选 5 / 6 项");
    EXPECT_FALSE(checked(leaf2024));
    for (const HTREEITEM node :
         {find({"程序文件", "C:", "Program Files", "Autodesk"}),
          find({"程序文件", "C:", "Program Files"}), find({"程序文件", "C:"}), find({"程序文件"}),
          TreeView_GetRoot(tree())}) {
        EXPECT_FALSE(checked(node)) << text(node);
    }
    EXPECT_TRUE(checked(find({"程序文件", "C:", "Program Files", "Autodesk", "AutoCAD 2025"})));
    EXPECT_TRUE(checked(find({"正在占用"})));
    EXPECT_TRUE(checked(find({"AutoCAD 用户注册表"})));

    // The selection in tree pre-order: categories by code units, leaves in scan order.
    const std::vector<ResidueItem*> expected = {registry32, registry64, temp, process, program2025};
    EXPECT_EQ(app->checkedItems(), expected);

    // Pressing it again checks the leaf and so its whole chain.
    pressSpaceOn(leaf2024);
    EXPECT_EQ(status(), "已勾选 6 / 6 项");
    EXPECT_TRUE(checked(TreeView_GetRoot(tree())));
}

TEST_F(AppResultTreeTest, ClicksDoubleClicksAndSpaceNeverLeaveAGroupOutOfStep) {
    buildScan(false);
    // A double-click toggles twice, and both toggles are propagated.
    const HTREEITEM leaf64 = TreeView_GetNextSibling(
        tree(), find({"AutoCAD 用户注册表", "HKCU", "Software", "Autodesk", "AutoCAD"}));
    clickCheckBox(leaf64, true);
    EXPECT_FALSE(checked(leaf64));
    expectConsistent();
    // A partly checked group becomes wholly checked by a click, also when it is not selected.
    const HTREEITEM registry = find({"AutoCAD 用户注册表"});
    ASSERT_EQ(TreeView_GetCheckState(tree(), registry), 2u) << dump();
    TreeView_SelectItem(tree(), find({"程序文件"}));
    clickCheckBox(registry);
    EXPECT_TRUE(checked(leaf64));
    expectConsistent();
    clickCheckBox(find({"程序文件", "C:"}), true);
    expectConsistent();
    pressSpaceOn(find({"临时文件", "C:", "Temp"}));
    expectConsistent();
    clickCheckBox(find({"程序文件", "C:", "Program Files", "Autodesk", "AutoCAD 2025"}), true);
    pressSpaceOn(find({"程序文件", "C:", "Program Files", "Autodesk", "AutoCAD 2025"}));
    expectConsistent();
    pressSpaceOn(TreeView_GetRoot(tree()));
    expectConsistent();
}

TEST_F(AppResultTreeTest, SelectingALeafShowsItsRiskLocationAndNote) {
    buildScan(false);
    app->setStatus(u"before");
    TreeView_SelectItem(tree(), find({"程序文件"}));
    TreeView_SelectItem(tree(), find({"程序文件", "C:", "Program Files"}));
    EXPECT_EQ(status(), "before");
    TreeView_SelectItem(tree(),
                        find({"程序文件", "C:", "Program Files", "Autodesk", "AutoCAD 2024"}));
    EXPECT_EQ(status(), "[需确认] C:\\Program Files\\Autodesk\\AutoCAD 2024 — 目录名动态匹配");
    // The two views of one branch: same text in the tree, told apart by the status line.
    TreeView_SelectItem(tree(),
                        TreeView_GetNextSibling(tree(), find({"AutoCAD 用户注册表", "HKCU",
                                                              "Software", "Autodesk", "AutoCAD"})));
    EXPECT_EQ(status(), "[安全项] HKCU\\Software\\Autodesk\\AutoCAD [64位] — 删除前自动导出备份。");
}

TEST_F(AppResultTreeTest, TipsCarryTheNoteCutToTheBuffer) {
    buildScan(false);
    auto askTip = [&](HTREEITEM node, int size) {
        std::vector<wchar_t> buffer(static_cast<size_t>(size) + 1, L'#');
        NMTVGETINFOTIPW tip = {};
        tip.hdr.hwndFrom = tree();
        tip.hdr.idFrom = ID_RESULT_TREE;
        tip.hdr.code = TVN_GETINFOTIPW;
        tip.pszText = buffer.data();
        tip.cchTextMax = size;
        tip.hItem = node;
        EXPECT_EQ(SendMessageW(window, WM_NOTIFY, ID_RESULT_TREE, reinterpret_cast<LPARAM>(&tip)),
                  0);
        // What the handler wrote, up to the first zero, or "untouched".
        if (buffer[0] == L'#') {
            return std::string("untouched");
        }
        return Utf8(reinterpret_cast<const char16_t*>(buffer.data()));
    };
    const HTREEITEM leaf = find({"正在占用", "acad.exe"});
    EXPECT_EQ(askTip(leaf, 1024), "进程可能锁定安装文件。");
    EXPECT_EQ(askTip(leaf, 4), "进程可");
    EXPECT_EQ(askTip(leaf, 1), "");
    EXPECT_EQ(askTip(find({"正在占用"}), 1024), "untouched");
    EXPECT_EQ(askTip(TreeView_GetRoot(tree()), 1024), "untouched");
}

TEST_F(AppResultTreeTest, IgnoresCheckChangesForNoNodeOrDuringAnUpdate) {
    buildScan(false);
    app->setStatus(u"before");
    SendMessageW(window, WM_CHECKCHANGED, 0, 0);
    EXPECT_EQ(status(), "before");

    // The space bar with no caret node posts a change for no node.
    TreeView_SelectItem(tree(), nullptr);
    ASSERT_EQ(TreeView_GetSelection(tree()), nullptr);
    PostMessageW(tree(), WM_KEYDOWN, VK_SPACE, 0x00390001);
    PostMessageW(tree(), WM_KEYUP, VK_SPACE, 0xC0390001);
    PumpQueued();
    EXPECT_EQ(status(), "before");

    const HTREEITEM category = find({"临时文件"});
    TreeView_SetCheckState(tree(), category, TRUE);
    app->treeUpdating = true;
    SendMessageW(window, WM_CHECKCHANGED, 0, reinterpret_cast<LPARAM>(category));
    app->treeUpdating = false;
    EXPECT_EQ(status(), "before");
    EXPECT_FALSE(checked(find({"临时文件", "C:"})));

    // Handled once the flag is clear.
    SendMessageW(window, WM_CHECKCHANGED, 0, reinterpret_cast<LPARAM>(category));
    EXPECT_TRUE(checked(find({"临时文件", "C:", "Temp", "setup"})));
    EXPECT_EQ(status(), "已勾选 5 / 6 项");

    // An empty tree has no selection.
    app->emptyTree();
    EXPECT_TRUE(app->checkedItems().empty());
}

} // namespace
} // namespace tidewell::apptest
