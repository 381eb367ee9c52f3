#include "app/ResultTreeRules.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tidewell {
namespace {

std::string Show(const std::u16string& text) {
    return ToUtf8(text);
}

std::string Show(const std::vector<std::u16string>& parts) {
    std::string shown;
    for (const auto& part : parts) {
        shown += "<" + ToUtf8(part) + ">";
    }
    return shown;
}

ResidueItem* Add(ItemList& items, const std::u16string& category, const std::u16string& title,
                 const std::u16string& location, ItemKind kind, RiskLevel risk, bool checked) {
    auto item = std::make_unique<ResidueItem>();
    item->category = category;
    item->title = title;
    item->location = location;
    item->kind = kind;
    item->risk = risk;
    item->checked = checked;
    items.push_back(std::move(item));
    return items.back().get();
}

TEST(ResultTreeRulesTest, SplitsLocationsIntoShownComponents) {
    struct Case {
        ItemKind kind;
        std::u16string location;
        std::vector<std::u16string> components;
    };
    constexpr ItemKind kFolder = ItemKind::Directory;
    constexpr ItemKind kKey = ItemKind::RegistryKey;
    const Case cases[] = {
        {kFolder,
         u"C:\\Program Files\\Autodesk\\AutoCAD 2024",
         {u"C:", u"Program Files", u"Autodesk", u"AutoCAD 2024"}},
        // The view marks of registry items are cut off, only when they end the location.
        {kKey,
         u"HKCU\\Software\\Autodesk\\AutoCAD [64位]",
         {u"HKCU", u"Software", u"Autodesk", u"AutoCAD"}},
        {ItemKind::InstallRecord,
         u"HKLM\\Software\\Oracle [32位]",
         {u"HKLM", u"Software", u"Oracle"}},
        {kKey, u"HKCU\\A [64位]\\b [y]", {u"HKCU", u"A [64位]", u"b [y]"}},
        {kKey, u" [64位]", {}},
        // Files and folders are shown whole, whatever brackets their names carry.
        {ItemKind::File, u"C:\\Temp\\setup [1].log", {u"C:", u"Temp", u"setup [1].log"}},
        {ItemKind::File, u"C:\\Temp\\acad [64位]", {u"C:", u"Temp", u"acad [64位]"}},
        {kFolder, u"C:\\a [x]\\b [y]", {u"C:", u"a [x]", u"b [y]"}},
        // Empty components are dropped; a slash does not split.
        {kFolder, u"\\\\server\\\\share\\", {u"server", u"share"}},
        {kFolder, u"C:/Temp/acad\\x", {u"C:/Temp/acad", u"x"}},
        {kFolder, u"", {}},
        {kFolder, u"\\", {}},
        {kFolder, u"[", {u"["}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Show(SplitLocation(c.location, c.kind)), Show(c.components)) << Show(c.location);
    }
}

TEST(ResultTreeRulesTest, OrdersCategoriesByCodeUnits) {
    // The scanners' category labels, in an order unlike the expected one.
    const std::vector<std::u16string> scanOrder = {
        u"正在占用",
        u"相关服务",
        u"程序文件",
        u"程序文件（32位）",
        u"公共数据",
        u"当前用户数据",
        u"当前用户配置",
        u"共享安装组件",
        u"共享许可组件",
        u"共享组件",
        u"环境变量目录",
        u"临时文件",
        u"SolidWorks 用户注册表",
        u"AutoCAD 系统注册表",
        u"Oracle 用户注册表",
        u"AutoCAD 用户注册表",
        u"Oracle 系统注册表",
        u"SolidWorks 系统注册表",
        u"安装记录（高风险）",
    };
    const std::vector<std::u16string> expected = {
        u"AutoCAD 用户注册表",
        u"AutoCAD 系统注册表",
        u"Oracle 用户注册表",
        u"Oracle 系统注册表",
        u"SolidWorks 用户注册表",
        u"SolidWorks 系统注册表",
        u"临时文件",
        u"公共数据",
        u"共享安装组件",
        u"共享组件",
        u"共享许可组件",
        u"安装记录（高风险）",
        u"当前用户数据",
        u"当前用户配置",
        u"正在占用",
        u"环境变量目录",
        u"相关服务",
        u"程序文件",
        u"程序文件（32位）",
    };
    ItemList items;
    for (const auto& category : scanOrder) {
        Add(items, category, u"t", u"", ItemKind::Process, RiskLevel::Safe, false);
    }
    const std::vector<PlannedNode> plan = PlanResultTree(items, ProductKind::AutoCAD);
    std::vector<std::u16string> categories;
    for (const PlannedNode& node : plan) {
        if (node.parent == 0) {
            categories.push_back(node.text);
        }
    }
    std::vector<std::u16string> expectedTexts;
    for (const auto& category : expected) {
        expectedTexts.push_back(category + u"（1 个项目）");
    }
    EXPECT_EQ(Show(categories), Show(expectedTexts));
}

TEST(ResultTreeRulesTest, PlansPathNodesLeavesAndImages) {
    ItemList items;
    ResidueItem* process = Add(items, u"正在占用", u"acad.exe（PID 4312）", u"4312",
                               ItemKind::Process, RiskLevel::Safe, true);
    ResidueItem* folder2024 =
        Add(items, u"程序文件", u"AutoCAD 2024", u"C:\\Program Files\\Autodesk\\AutoCAD 2024",
            ItemKind::Directory, RiskLevel::NeedsConfirm, true);
    ResidueItem* user32 = Add(items, u"AutoCAD 用户注册表", u"AutoCAD 用户注册表 [32位]",
                              u"HKCU\\Software\\Autodesk\\AutoCAD [32位]", ItemKind::RegistryKey,
                              RiskLevel::Safe, true);
    ResidueItem* folderUpper = Add(items, u"程序文件", u"X", u"C:\\PROGRAM FILES\\Autodesk\\X",
                                   ItemKind::Directory, RiskLevel::HighRisk, false);
    ResidueItem* folder2025 =
        Add(items, u"程序文件", u"AutoCAD 2025", u"C:\\Program Files\\Autodesk\\AutoCAD 2025",
            ItemKind::Directory, RiskLevel::NeedsConfirm, true);
    ResidueItem* user64 = Add(items, u"AutoCAD 用户注册表", u"AutoCAD 用户注册表 [64位]",
                              u"HKCU\\Software\\Autodesk\\AutoCAD [64位]", ItemKind::RegistryKey,
                              RiskLevel::Safe, true);
    ResidueItem* tempFile = Add(items, u"临时文件", u"setup [1].log", u"C:\\Temp\\setup [1].log",
                                ItemKind::File, RiskLevel::Safe, true);
    ResidueItem* bare =
        Add(items, u"临时文件", u"bare", u"acad.tmp", ItemKind::File, RiskLevel::Safe, false);
    ResidueItem* nowhere =
        Add(items, u"临时文件", u"无位置", u"\\", ItemKind::Directory, RiskLevel::Safe, false);
    ResidueItem* record = Add(items, u"安装记录（高风险）", u"AutoCAD 2024 24.3",
                              u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\X "
                              u"[64位]",
                              ItemKind::InstallRecord, RiskLevel::HighRisk, false);
    ResidueItem* strange = Add(items, u"相关服务", u"odd", u"C:\\odd", static_cast<ItemKind>(9),
                               RiskLevel::Safe, false);
    // Shown by its title, whole: the Path entry in it is no path of the tree's.
    ResidueItem* pathEntry = Add(items, u"环境变量", u"Path（用户）：C:\\app\\bin",
                                 u"HKCU\\Environment\\Path：C:\\app\\bin",
                                 ItemKind::EnvironmentValue, RiskLevel::Safe, true);

    struct Expected {
        int parent;
        std::u16string text;
        ResidueItem* item;
        bool checked;
        TreeImage image;
        bool expand;
    };
    using I = TreeImage;
    const Expected expected[] = {
        {-1, u"AutoCAD 扫描结果（12 个项目）", nullptr, false, I::Installer, true}, // 0
        {0, u"AutoCAD 用户注册表（2 个项目）", nullptr, false, I::Registry, true},  // 1
        {1, u"HKCU", nullptr, false, I::Folder, false},                             // 2
        {2, u"Software", nullptr, false, I::Folder, false},                         // 3
        {3, u"Autodesk", nullptr, false, I::Folder, false},                         // 4
        {4, u"AutoCAD  [安全项]", user32, true, I::Registry, false},                // 5
        {4, u"AutoCAD  [安全项]", user64, true, I::Registry, false},                // 6
        {0, u"临时文件（3 个项目）", nullptr, false, I::TempFile, true},            // 7
        {7, u"C:", nullptr, false, I::Folder, false},                               // 8
        {8, u"Temp", nullptr, false, I::Folder, false},                             // 9
        {9, u"setup [1].log  [安全项]", tempFile, true, I::TempFile, false},        // 10
        {7, u"acad.tmp  [安全项]", bare, false, I::TempFile, false},                // 11
        {7, u"无位置  [安全项]", nowhere, false, I::Folder, false},                 // 12
        {0, u"安装记录（高风险）（1 个项目）", nullptr, false, I::Installer, true}, // 13
        {13, u"AutoCAD 2024 24.3  [高风险]", record, false, I::Installer, false},   // 14
        {0, u"正在占用（1 个项目）", nullptr, false, I::Program, true},             // 15
        {15, u"acad.exe（PID 4312）  [安全项]", process, true, I::Program, false},  // 16
        {0, u"环境变量（1 个项目）", nullptr, false, I::Registry, true},            // 17
        {17, u"Path（用户）：C:\\app\\bin  [安全项]", pathEntry, true, I::Registry, false},
        {0, u"相关服务（1 个项目）", nullptr, false, I::TempFile, true},     // 19
        {19, u"odd  [安全项]", strange, false, I::TempFile, false},          // 20
        {0, u"程序文件（3 个项目）", nullptr, false, I::Folder, true},       // 21
        {21, u"C:", nullptr, false, I::Folder, false},                       // 22
        {22, u"Program Files", nullptr, false, I::Folder, false},            // 23
        {23, u"Autodesk", nullptr, false, I::Folder, false},                 // 24
        {24, u"AutoCAD 2024  [需确认]", folder2024, true, I::Folder, false}, // 25
        // Path keys compare exactly: from the first component in another letter case on,
        // the chain is a new one.
        {22, u"PROGRAM FILES", nullptr, false, I::Folder, false},            // 26
        {26, u"Autodesk", nullptr, false, I::Folder, false},                 // 27
        {27, u"X  [高风险]", folderUpper, false, I::Folder, false},          // 28
        {24, u"AutoCAD 2025  [需确认]", folder2025, true, I::Folder, false}, // 29
    };
    const std::vector<PlannedNode> plan = PlanResultTree(items, ProductKind::AutoCAD);
    ASSERT_EQ(plan.size(), std::size(expected));
    for (size_t i = 0; i < plan.size(); ++i) {
        EXPECT_EQ(plan[i].parent, expected[i].parent) << i;
        EXPECT_EQ(Show(plan[i].text), Show(expected[i].text)) << i;
        EXPECT_EQ(plan[i].item, expected[i].item) << i;
        EXPECT_EQ(plan[i].checked, expected[i].checked) << i;
        EXPECT_EQ(plan[i].image, expected[i].image) << i;
        EXPECT_EQ(plan[i].expand, expected[i].expand) << i;
    }
}

TEST(ResultTreeRulesTest, StatusTextsAndLookups) {
    ResidueItem item;
    item.risk = RiskLevel::NeedsConfirm;
    item.location = u"C:\\Program Files\\Oracle";
    item.note = u"Oracle 产品目录。";
    const std::pair<std::u16string, std::string> texts[] = {
        {ReadyStatusText(), "就绪（程序以管理员权限运行）"},
        {ScanningStatusText(), "正在扫描文件、注册表、服务和进程..."},
        {SwitchedStatusText(ProductKind::SolidWorks), "已切换到 SolidWorks，请点击“搜索残留”"},
        {ScanResultText(ProductKind::Oracle, 12), "扫描完成，共发现 12 项"},
        {ScanResultText(ProductKind::AutoCAD, 0), "未发现明确的 AutoCAD 残留"},
        {CheckedStatusText(3, 12), "已勾选 3 / 12 项"},
        {CheckedStatusText(0, 0), "已勾选 0 / 0 项"},
        {SelectionStatusText(item), "[需确认] C:\\Program Files\\Oracle — Oracle 产品目录。"},
        {OneClickCaption(ProductKind::SolidWorks), "一键卸载并清理 SolidWorks"},
        {RootText(ProductKind::AutoCAD, 12), "AutoCAD 扫描结果（12 个项目）"},
        {CategoryText(u"程序文件", 3), "程序文件（3 个项目）"},
        {LeafText(u"acad.exe（PID 4312）", RiskLevel::Safe), "acad.exe（PID 4312）  [安全项]"},
        {LeafText(u"x", static_cast<RiskLevel>(7)), "x  [安全项]"},
    };
    for (const auto& [actual, wanted] : texts) {
        EXPECT_EQ(Show(actual), wanted);
    }

    const std::pair<int, ProductKind> tabs[] = {
        {0, ProductKind::AutoCAD},  {1, ProductKind::SolidWorks}, {2, ProductKind::Oracle},
        {-1, ProductKind::AutoCAD}, {3, ProductKind::AutoCAD},
    };
    for (const auto& [tab, wanted] : tabs) {
        EXPECT_EQ(ProductForTab(tab), wanted) << tab;
        if (tab >= 0 && tab <= 2) {
            EXPECT_EQ(TabForProduct(wanted), tab);
        }
    }
}

TEST(ResultTreeRulesTest, TipTextLeavesRoomForTheTerminator) {
    const std::u16string note = u"删除前自动导出备份";
    const std::pair<int, std::u16string> cases[] = {
        {-1, u""},  {0, u""},     {1, u""}, {2, u"删"}, {9, u"删除前自动导出备"},
        {10, note}, {1024, note},
    };
    for (const auto& [size, wanted] : cases) {
        EXPECT_EQ(Show(TipText(note, size)), Show(wanted)) << size;
    }
}

} // namespace
} // namespace tidewell
