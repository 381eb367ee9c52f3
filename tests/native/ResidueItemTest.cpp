#include "catalogue/ScanCollector.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

TEST(ResidueItemTest, LookupsFallThroughToTheirDefaults) {
    EXPECT_EQ(productName(ProductKind::SolidWorks), u"SolidWorks");
    EXPECT_EQ(productName(ProductKind::Oracle), u"Oracle");
    EXPECT_EQ(productName(static_cast<ProductKind>(7)), u"AutoCAD");
    EXPECT_EQ(makerName(ProductKind::SolidWorks), u"Dassault Systèmes");
    EXPECT_EQ(makerName(static_cast<ProductKind>(-1)), u"Autodesk");
    EXPECT_EQ(riskLabel(RiskLevel::HighRisk), u"高风险");
    EXPECT_EQ(riskLabel(RiskLevel::NeedsConfirm), u"需确认");
    EXPECT_EQ(riskLabel(static_cast<RiskLevel>(3)), u"安全项");
    EXPECT_EQ(riskLabel(static_cast<RiskLevel>(-2)), u"安全项");
    EXPECT_EQ(rootPrefix(RegistryRoot::CurrentUser), u"HKCU\\");
    EXPECT_EQ(rootPrefix(RegistryRoot::None), u"HKLM\\");
    EXPECT_EQ(viewSuffix(RegistryView::Bits64), u" [64位]");
    EXPECT_EQ(viewSuffix(RegistryView::None), u" [32位]");
}

TEST(ResidueItemTest, DedupKeyIsKindAndAsciiFoldedLocation) {
    ResidueItem item;
    item.kind = static_cast<ItemKind>(-3);
    item.location = u"C:\\ÉTÉ\\Autodesk";
    EXPECT_EQ(dedupKey(item), u"-3|c:\\ÉtÉ\\autodesk");

    // A per-user key outside Software\Classes is one key in both views; the key leaves the view
    // out there and only there.
    struct Case {
        RegistryRoot root;
        const char16_t* path;
        bool viewsShareAKey;
    };
    const Case cases[] = {
        {RegistryRoot::CurrentUser, u"Software\\Autodesk\\AutoCAD", true},
        {RegistryRoot::CurrentUser, u"SOFTWARE\\ClassesX\\AutoCAD", true},
        {RegistryRoot::CurrentUser, u"software\\CLASSES\\AutoCAD.Drawing", false},
        {RegistryRoot::CurrentUser, u"Software\\Classes", false},
        {RegistryRoot::LocalMachine, u"Software\\Autodesk\\AutoCAD", false},
    };
    for (const Case& c : cases) {
        ResidueItem views[2];
        for (RegistryView view : {RegistryView::Bits32, RegistryView::Bits64}) {
            ResidueItem& seen = views[view == RegistryView::Bits64];
            seen.kind = ItemKind::RegistryKey;
            seen.registryRoot = c.root;
            seen.registryView = view;
            seen.registryPath = c.path;
            seen.location = rootPrefix(c.root) + c.path + viewSuffix(view);
        }
        EXPECT_EQ(dedupKey(views[0]) == dedupKey(views[1]), c.viewsShareAKey)
            << ToUtf8(views[0].location);
    }
}

TEST(ScanCollectorTest, DropsDuplicatesByKindAndFoldedLocationKeepingTheFirst) {
    FakePlatform machine;
    ScanCollector collector(machine, ProductKind::AutoCAD);
    collector.addEntry(u"程序文件", u"first", u"C:\\Program Files\\Autodesk", u"",
                       ItemKind::Directory, RiskLevel::NeedsConfirm, true);
    collector.addEntry(u"其他", u"second", u"c:\\program files\\AUTODESK", u"", ItemKind::Directory,
                       RiskLevel::Safe, false);
    // A file at the same path is another item; so are other separators and a trailing one.
    collector.addEntry(u"临时文件", u"file", u"C:\\Program Files\\Autodesk", u"", ItemKind::File,
                       RiskLevel::Safe, true);
    collector.addEntry(u"x", u"slash", u"C:/Program Files/Autodesk", u"", ItemKind::Directory,
                       RiskLevel::Safe, true);
    collector.addEntry(u"x", u"trailing", u"C:\\Program Files\\Autodesk\\", u"",
                       ItemKind::Directory, RiskLevel::Safe, true);
    // Folding is ASCII only: É and é are different locations.
    collector.addEntry(u"x", u"upper", u"C:\\É", u"", ItemKind::Directory, RiskLevel::Safe, true);
    collector.addEntry(u"x", u"lower", u"C:\\é", u"", ItemKind::Directory, RiskLevel::Safe, true);

    std::vector<std::u16string> titles;
    for (const auto& item : collector.items) {
        titles.push_back(item->title);
    }
    EXPECT_EQ(titles, (std::vector<std::u16string>{u"first", u"file", u"slash", u"trailing",
                                                   u"upper", u"lower"}));
    EXPECT_EQ(collector.items[0]->category, u"程序文件");
    EXPECT_EQ(collector.seenKeys.size(), 6u);
}

// Only existing directories are added; the title is the last component after either separator.
TEST(ScanCollectorTest, AddFolderIfExistsTakesOnlyDirectories) {
    FakePlatform machine;
    machine.addDirectory(u"C:\\ProgramData\\Autodesk");
    machine.addDirectory(u"C:\\Data/Autodesk");
    machine.addFile(u"C:\\ProgramData\\AutoCAD.log");
    ScanCollector collector(machine, ProductKind::AutoCAD);
    for (const char16_t* path :
         {u"C:\\ProgramData\\Autodesk", u"C:\\Data/Autodesk", u"C:\\ProgramData\\AutoCAD.log",
          u"C:\\Missing", u"C:\\ProgramData\\"}) {
        collector.addFolderIfExists(path, u"公共数据", RiskLevel::Safe, true, u"note");
    }
    std::vector<std::u16string> titles;
    for (const auto& item : collector.items) {
        EXPECT_EQ(item->kind, ItemKind::Directory);
        titles.push_back(item->title);
    }
    EXPECT_EQ(titles, (std::vector<std::u16string>{u"Autodesk", u"Autodesk", u""}))
        << machine.dump();
}

TEST(ScanCollectorTest, RegistryKeyThatCannotBeOpenedAddsNothing) {
    FakePlatform machine;
    machine.addKey(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\Denied");
    machine.failCall(FakeCall::OpenKeyForRead, 5, u"Denied");
    ScanCollector collector(machine, ProductKind::Oracle);
    collector.addRegistryKeyIfExists(RegistryRoot::LocalMachine, RegistryView::Bits64,
                                     u"Software\\Denied", u"c", u"t", ItemKind::RegistryKey,
                                     RiskLevel::Safe, true, u"", u"");
    collector.addRegistryKeyIfExists(RegistryRoot::LocalMachine, RegistryView::Bits64,
                                     u"Software\\Missing", u"c", u"t", ItemKind::RegistryKey,
                                     RiskLevel::Safe, true, u"", u"");
    EXPECT_TRUE(collector.items.empty());
}

TEST(ScanCollectorTest, TakeItemsEmptiesTheCollector) {
    FakePlatform machine;
    ScanCollector collector(machine, ProductKind::AutoCAD);
    collector.addEntry(u"c", u"t", u"C:\\x", u"", ItemKind::Directory, RiskLevel::Safe, true);
    ItemList taken = collector.takeItems();
    EXPECT_EQ(taken.size(), 1u);
    EXPECT_TRUE(collector.items.empty());
}

} // namespace
} // namespace tidewell
