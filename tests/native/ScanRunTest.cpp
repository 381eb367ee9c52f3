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

TEST(InstallRecordAdjustmentTest, ChangesExactlyTheFourCategoryTests) {
    struct Case {
        std::u16string category;
        bool adjusted;
    };
    const Case cases[] = {
        {u"程序文件", true},           {u"程序文件（32位）", true},
        {u"AutoCAD 系统注册表", true}, {u"Oracle 用户注册表", true},
        {u"系统注册表", true},         {u"程序文件 ", false}, // equality, not containment
        {u"程序文件(32位)", false}, // half-width brackets are another text
        {u"临时文件", false},          {u"公共数据", false},
        {u"共享组件", false},          {u"安装记录（高风险）", false},
        {u"相关服务", false},          {u"正在占用", false},
    };
    ItemList items;
    for (const Case& c : cases) {
        items.push_back(MakeItem(c.category, ItemKind::Directory, RiskLevel::Safe, true, u"own"));
    }
    items.push_back(MakeItem(u"安装记录（高风险）", ItemKind::InstallRecord, RiskLevel::HighRisk,
                             false, u"record"));

    AdjustForInstallRecords(items, ProductKind::SolidWorks);

    for (size_t i = 0; i < std::size(cases); ++i) {
        const ResidueItem& item = *items[i];
        if (cases[i].adjusted) {
            EXPECT_FALSE(item.checked) << i;
            EXPECT_EQ(item.risk, RiskLevel::HighRisk) << i;
            // The product is the scan's, and the item's own note follows unchanged.
            EXPECT_EQ(item.note, kPrefixHead + u"SolidWorks" + kPrefixTail + u"own") << i;
        } else {
            EXPECT_TRUE(item.checked) << i;
            EXPECT_EQ(item.risk, RiskLevel::Safe) << i;
            EXPECT_EQ(item.note, u"own") << i;
        }
    }
    EXPECT_EQ(items.back()->note, u"record");
}

TEST(InstallRecordAdjustmentTest, WithoutAnInstallRecordNothingChanges) {
    ItemList items;
    items.push_back(
        MakeItem(u"程序文件", ItemKind::Directory, RiskLevel::NeedsConfirm, true, u"n"));
    items.push_back(MakeItem(u"AutoCAD 系统注册表", ItemKind::RegistryKey, RiskLevel::NeedsConfirm,
                             true, u"r"));
    // A category that looks like an install record is not one: only the kind counts.
    items.push_back(
        MakeItem(u"安装记录（高风险）", ItemKind::RegistryKey, RiskLevel::HighRisk, false, u"k"));
    AdjustForInstallRecords(items, ProductKind::AutoCAD);
    EXPECT_TRUE(items[0]->checked);
    EXPECT_EQ(items[0]->risk, RiskLevel::NeedsConfirm);
    EXPECT_EQ(items[0]->note, u"n");
    EXPECT_EQ(items[1]->note, u"r");
}

TEST(InstallRecordAdjustmentTest, RecordAnywhereInTheListAdjustsItemsBeforeIt) {
    ItemList items;
    items.push_back(MakeItem(u"程序文件", ItemKind::Directory, RiskLevel::NeedsConfirm, true, u""));
    items.push_back(
        MakeItem(u"安装记录（高风险）", ItemKind::InstallRecord, RiskLevel::HighRisk, false, u""));
    AdjustForInstallRecords(items, static_cast<ProductKind>(9));
    EXPECT_FALSE(items[0]->checked);
    EXPECT_EQ(items[0]->note, kPrefixHead + u"AutoCAD" + kPrefixTail);
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
