#include "catalogue/ScanCollector.h"
#include "catalogue/ScanSession.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

std::unique_ptr<ResidueItem> MakeItem(const std::u16string& category, ItemKind kind, RiskLevel risk,
                                      bool checked, const std::u16string& note) {
    auto item = std::make_unique<ResidueItem>();
    item->category = category;
    item->kind = kind;
    item->risk = risk;
    item->checked = checked;
    item->note = note;
    return item;
}

const std::u16string kPrefixHead = u"检测到系统仍有 ";
const std::u16string kPrefixTail =
    u" 安装记录，因此此项不视为可自动清理的残留。请先正常卸载，或确认安装记录确已损坏后手动勾选。 ";

// An install record on the list (placed after the items it adjusts) marks the program, data and
// settings folders and the registry branches as high risk, in the scan's product's words.
TEST(InstallRecordAdjustmentTest, ChangesExactlyTheAdjustedCategories) {
    struct Case {
        std::u16string category;
        bool adjusted;
    };
    const Case cases[] = {
        {u"程序文件", true},           {u"程序文件（32位）", true},
        {u"AutoCAD 系统注册表", true}, {u"Oracle 用户注册表", true},
        {u"系统注册表", true},         {u"程序文件 ", false}, // equality, not containment
        {u"程序文件(32位)", false}, // half-width brackets are another text
        {u"公共数据", true},           {u"当前用户数据", true},
        {u"当前用户配置", true},       {u"临时文件", false},
        {u"共享组件", false},          {u"安装记录（高风险）", false},
        {u"相关服务", false},          {u"正在占用", false},
    };
    const struct {
        ItemKind recordKind; // only the kind makes an install record, not the category
        ProductKind product;
        const char16_t* named; // nullptr: nothing is adjusted
    } variants[] = {
        {ItemKind::InstallRecord, ProductKind::SolidWorks, u"SolidWorks"},
        {ItemKind::InstallRecord, static_cast<ProductKind>(9), u"AutoCAD"},
        {ItemKind::RegistryKey, ProductKind::AutoCAD, nullptr},
    };
    for (const auto& variant : variants) {
        ItemList items;
        for (const Case& c : cases) {
            items.push_back(
                MakeItem(c.category, ItemKind::Directory, RiskLevel::Safe, true, u"own"));
        }
        items.push_back(MakeItem(u"安装记录（高风险）", variant.recordKind, RiskLevel::HighRisk,
                                 false, u"record"));

        AdjustForInstallRecords(items, variant.product);

        for (size_t i = 0; i < std::size(cases); ++i) {
            const ResidueItem& item = *items[i];
            if (cases[i].adjusted && variant.named != nullptr) {
                EXPECT_FALSE(item.checked) << i;
                EXPECT_EQ(item.risk, RiskLevel::HighRisk) << i;
                // The item's own note follows unchanged.
                EXPECT_EQ(item.note, kPrefixHead + variant.named + kPrefixTail + u"own") << i;
            } else {
                EXPECT_TRUE(item.checked) << i;
                EXPECT_EQ(item.risk, RiskLevel::Safe) << i;
                EXPECT_EQ(item.note, u"own") << i;
            }
        }
        EXPECT_EQ(items.back()->note, u"record");
    }
}

TEST(ScanSessionTest, RunScanReleasesTheOldListBeforeDestroyingIt) {
    FakePlatform machine;
    ScanSession session(machine);
    session.items.push_back(MakeItem(u"old", ItemKind::Directory, RiskLevel::Safe, true, u""));
    std::vector<std::string> events;
    session.releaseItems = [&] {
        // The old items must still be alive when the view lets go of them.
        events.push_back("release:" + std::to_string(session.items.size()));
    };
    session.showItems = [&] { events.push_back("show:" + std::to_string(session.items.size())); };

    session.runScan();

    // A clean machine yields no item: the old list is gone and the view is rebuilt empty.
    EXPECT_EQ(events, (std::vector<std::string>{"release:1", "show:0"}));
    EXPECT_TRUE(session.items.empty());
}

TEST(ScanSessionTest, SwitchingProductDiscardsTheItems) {
    FakePlatform machine;
    ScanSession session(machine);
    session.items.push_back(MakeItem(u"old", ItemKind::Directory, RiskLevel::Safe, true, u""));
    int released = 0;
    session.releaseItems = [&] {
        EXPECT_EQ(session.items.size(), 1u);
        ++released;
    };
    session.switchProduct(ProductKind::Oracle);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(session.product, ProductKind::Oracle);
    EXPECT_TRUE(session.items.empty());
}

} // namespace
} // namespace tidewell
