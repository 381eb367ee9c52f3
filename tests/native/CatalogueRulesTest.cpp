// The catalogue's individual rules: base folders and the x86-only rows, ORACLE_HOME, temporary
// entry names, registry views, install-record values, services and processes.

#include "CatalogueMachine.h"

#include "catalogue/ScanCollector.h"
#include "support/RegistryText.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>

namespace tidewell {
namespace {

using namespace catalogue_test;

// --- Base folders ----------------------------------------------------------------------------

TEST(CatalogueFolderTest, ProgramFilesBaseAndTheX86OnlyRows) {
    using Env = std::optional<std::u16string>;
    struct Case {
        const char* what;
        Env w6432, programFiles, x86;
        std::vector<std::u16string> expected; // SolidWorks program folder items
    };
    const std::u16string pf = u"C:\\Program Files\\SOLIDWORKS Corp";
    const std::u16string pfx86 = u"C:\\Program Files (x86)\\SOLIDWORKS Corp";
    const Env none, base = kProgramFiles, base86 = kProgramFilesX86;
    const Case cases[] = {
        {"32-bit process on 64-bit Windows", base, base86, base86, {pf, pfx86}},
        {"64-bit process", base, base, base86, {pf, pfx86}},
        {"ProgramW6432 preferred to ProgramFiles", base, u"C:\\Elsewhere", base86, {pf, pfx86}},
        {"ProgramW6432 empty: ProgramFiles", u"", base, base86, {pf, pfx86}},
        {"ProgramW6432 unset, both point at the 32-bit folder", none, base86, base86, {pfx86}},
        {"equal except letter case",
         none,
         u"C:\\PROGRAM FILES (X86)",
         base86,
         {u"C:\\PROGRAM FILES (X86)\\SOLIDWORKS Corp"}},
        {"32-bit Windows: no (x86) variable", none, base, none, {pf}},
        {"(x86) variable empty", none, base, u"", {pf}},
        {"no program folder variable at all", none, none, base86, {pfx86}},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.addDirectory(pf);
        machine.addDirectory(pfx86);
        machine.setEnvironment(u"ProgramW6432", c.w6432);
        machine.setEnvironment(u"ProgramFiles", c.programFiles);
        machine.setEnvironment(u"ProgramFiles(x86)", c.x86);
        ScanCollector collector(machine, ProductKind::SolidWorks);
        collector.scanFolders();
        EXPECT_EQ(Locations(collector.items), c.expected) << c.what;
        if (collector.items.size() == 2) {
            EXPECT_EQ(collector.items[1]->category, u"程序文件（32位）") << c.what;
            EXPECT_EQ(collector.items[1]->note, u"SolidWorks 32 位组件目录。") << c.what;
        }
    }
}

// When both variables name one folder the x86-only row must not even look: if it did, a folder
// the first row failed to read would turn up as a 32-bit one.
TEST(CatalogueFolderTest, X86OnlyRowDoesNotLookWhenBothNameOneFolder) {
    for (const char16_t* x86 : {u"C:\\Program Files", u"c:\\PROGRAM FILES"}) {
        FakePlatform machine;
        machine.addDirectory(u"C:\\Program Files\\SOLIDWORKS Corp");
        machine.setEnvironment(u"ProgramFiles", u"C:\\Program Files");
        machine.setEnvironment(u"ProgramFiles(x86)", x86);
        machine.failCall(FakeCall::FileAttributes, codes::kAccessDenied, u"SOLIDWORKS Corp", 1);
        ScanCollector collector(machine, ProductKind::SolidWorks);
        collector.scanFolders();
        EXPECT_TRUE(collector.items.empty()) << ToUtf8(collector.items.front()->location);
        EXPECT_EQ(machine.injectedFailures, 1);
    }
}

TEST(CatalogueFolderTest, EmptyBasesAreSkippedNotResolvedAgainstTheCurrentFolder) {
    FakePlatform machine;
    // Every sub-path exists under the current folder, where a relative path would land.
    machine.setCurrentDirectory(u"C:\\work");
    for (const char16_t* sub : {u"SOLIDWORKS Corp", u"SOLIDWORKS", u"DassaultSystemes",
                                u"Common Files\\SOLIDWORKS Shared", u"Autodesk\\AutoCAD 2024",
                                u"Autodesk\\ODIS", u"Oracle\\Inventory", u"sldworks_fs.log"}) {
        machine.addDirectory(u"C:\\work\\" + std::u16string(sub));
    }
    machine.setEnvironment(u"ProgramW6432", u"");
    machine.setEnvironment(u"ProgramFiles", u"");
    machine.setEnvironment(u"ProgramFiles(x86)", u"C:\\Program Files (x86)");
    machine.setEnvironment(u"ProgramData", u"");
    machine.setEnvironment(u"TEMP", u"");
    machine.setEnvironment(u"ORACLE_HOME", u"");
    machine.setShellFolderPath(ShellFolder::LocalAppData, std::nullopt);
    machine.setShellFolderPath(ShellFolder::RoamingAppData, u"");
    for (ProductKind product :
         {ProductKind::AutoCAD, ProductKind::SolidWorks, ProductKind::Oracle}) {
        ScanCollector collector(machine, product);
        collector.scanFolders();
        EXPECT_TRUE(collector.items.empty()) << ToUtf8(collector.items.front()->location);
    }
}

TEST(CatalogueFolderTest, DynamicRowTakesOnlyAutoCadLikeSubfolders) {
    FakePlatform machine;
    SetWindowsFolders(machine);
    const std::u16string vendor = kProgramFiles + u"\\Autodesk";
    for (const char16_t* name : {u"AutoCAD 2024", u"ACA 2024", u"Autodesk Desktop App", u"ODIS",
                                 u"acadm 2024", u"xACAD", u"My AUTOCAD Tools"}) {
        machine.addDirectory(vendor + u"\\" + name);
    }
    machine.addFile(vendor + u"\\AutoCAD.log");
    machine.addFile(vendor + u"\\acad.exe");
    machine.addDirectory(vendor + u"\\ODIS\\AutoCAD inside ODIS");
    ScanCollector collector(machine, ProductKind::AutoCAD);
    collector.scanFolders();
    EXPECT_EQ(Locations(collector.items),
              (std::vector<std::u16string>{vendor + u"\\acadm 2024", vendor + u"\\AutoCAD 2024",
                                           vendor + u"\\My AUTOCAD Tools"}));
    // The keyword decides for any caller; the acad prefix only counts for AutoCAD.
    ScanCollector other(machine, ProductKind::AutoCAD);
    other.scanDirectoryNames(vendor, u"desktop", u"c", RiskLevel::Safe, false);
    EXPECT_EQ(Locations(other.items),
              std::vector<std::u16string>{vendor + u"\\Autodesk Desktop App"});
    // A vendor folder that is a file, or missing, gives nothing.
    ScanCollector none(machine, ProductKind::AutoCAD);
    none.scanDirectoryNames(vendor + u"\\AutoCAD.log", u"AutoCAD", u"c", RiskLevel::Safe, false);
    none.scanDirectoryNames(vendor + u"\\missing", u"AutoCAD", u"c", RiskLevel::Safe, false);
    EXPECT_TRUE(none.items.empty());
}

TEST(CatalogueFolderTest, OracleHome) {
    using Env = std::optional<std::u16string>;
    struct Case {
        const char* what;
        Env value;
        std::vector<std::u16string> categories; // of all Oracle folder items, in order
        std::u16string homeTitle;               // the 环境变量目录 item's, when there is one
    };
    const std::vector<std::u16string> without = {u"程序文件", u"共享安装组件"};
    const std::vector<std::u16string> with = {u"程序文件", u"环境变量目录", u"共享安装组件"};
    const Case cases[] = {
        {"unset", std::nullopt, without, u""},
        {"empty", u"", without, u""},
        {"own folder", kOracleHome, with, u"dbhome_1"},
        {"trailing separators", kOracleHome + u"\\/\\", with, u"dbhome_1"},
        {"the program folder with a trailing separator: one item", kProgramFiles + u"\\Oracle\\",
         without, u""},
        {"a bare drive stays as it is",
         u"C:\\",
         {u"程序文件", u"环境变量目录", u"共享安装组件"},
         u""},
        {"the Oracle program folder in other letter case", u"c:\\PROGRAM FILES\\oracle", without,
         u""},
        {"the inventory folder: the earlier row wins",
         kProgramFiles + u"\\Oracle\\Inventory",
         {u"程序文件", u"环境变量目录"},
         u"Inventory"},
        {"a file", kOracleHome + u"\\bin\\oracle.exe", without, u""},
        {"missing", u"D:\\oracle", without, u""},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.setEnvironment(u"ProgramFiles", kProgramFiles);
        machine.addDirectory(kProgramFiles + u"\\Oracle\\Inventory");
        machine.addFile(kOracleHome + u"\\bin\\oracle.exe");
        machine.setEnvironment(u"ORACLE_HOME", c.value);
        ScanCollector collector(machine, ProductKind::Oracle);
        collector.scanFolders();
        std::vector<std::u16string> categories;
        for (const auto& item : collector.items) {
            categories.push_back(item->category);
            if (item->category == u"环境变量目录") {
                EXPECT_EQ(item->title, c.homeTitle) << c.what;
                EXPECT_EQ(item->location, DropTrailingSeparators(*c.value)) << c.what;
                EXPECT_EQ(item->risk, RiskLevel::HighRisk) << c.what;
                EXPECT_FALSE(item->checked) << c.what;
            }
        }
        EXPECT_EQ(categories, c.categories) << c.what;
        // The program folder keeps its own row's settings and spelling.
        ASSERT_FALSE(collector.items.empty()) << c.what;
        EXPECT_EQ(collector.items[0]->location, kProgramFiles + u"\\Oracle") << c.what;
        EXPECT_EQ(collector.items[0]->risk, RiskLevel::NeedsConfirm) << c.what;
        EXPECT_TRUE(collector.items[0]->checked) << c.what;
    }
}

// --- Temporary entries -------------------------------------------------------------------------

TEST(CatalogueTempTest, NameTestsPerProduct) {
    struct Case {
        ProductKind product;
        const char16_t* name;
        bool taken;
    };
    const Case cases[] = {
        {ProductKind::AutoCAD, u"AutoCAD.log", true},
        {ProductKind::AutoCAD, u"setup_autocad_2024", true},
        {ProductKind::AutoCAD, u"AUTODESK_Install", true},
        {ProductKind::AutoCAD, u"my_autodesk", false}, // the vendor word is only a prefix test
        {ProductKind::AutoCAD, u"ACAD-1234.dmp", true},
        {ProductKind::AutoCAD, u"my_acad.txt", false},
        {ProductKind::AutoCAD, u"sldworks_fs.log", false},
        {ProductKind::SolidWorks, u"sldworks_fs.log", true},
        {ProductKind::SolidWorks, u"SLDIM.tmp", true},
        {ProductKind::SolidWorks, u"my_sld.txt", false},
        {ProductKind::SolidWorks, u"XSolidWorksTmp", true},
        {ProductKind::SolidWorks, u"solid works", false},
        {ProductKind::SolidWorks, u"AutoCAD.log", false},
        {ProductKind::SolidWorks, u"swx1234", true},
        {ProductKind::SolidWorks, u"SWX7", true},
        {ProductKind::SolidWorks, u"swx", false},
        {ProductKind::SolidWorks, u"swx12a", false},
        {ProductKind::SolidWorks, u"my_swx1", false},
        {ProductKind::AutoCAD, u"swx1234", false},
        {ProductKind::Oracle, u"orange.tmp", true},
        {ProductKind::Oracle, u"OraInstall2024", true},
        {ProductKind::Oracle, u"Tools_for_ORACLE.txt", true},
        {ProductKind::Oracle, u"Aurora.tmp", false},
        {ProductKind::Oracle, u"sqldeveloper.log", false},
        {static_cast<ProductKind>(5), u"orange.tmp", true},
    };
    for (const Case& c : cases) {
        for (bool directory : {false, true}) {
            FakePlatform machine;
            machine.addDirectory(kTemp);
            const std::u16string path = kTemp + u"\\" + c.name;
            if (directory) {
                machine.addDirectory(path);
            } else {
                machine.addFile(path);
            }
            ScanCollector collector(machine, c.product);
            collector.scanTempEntries(kTemp);
            ASSERT_EQ(collector.items.size(), c.taken ? 1u : 0u) << ToUtf8(c.name);
            if (c.taken) {
                const ResidueItem& item = *collector.items[0];
                EXPECT_EQ(Describe(item),
                          Describe(TempEntry(kTemp, c.name,
                                             directory ? ItemKind::Directory : ItemKind::File)));
            }
        }
    }
}

TEST(CatalogueTempTest, OnlyTheTopLevelOfTempIsSearched) {
    FakePlatform machine;
    SetWindowsFolders(machine);
    machine.addFile(kTemp + u"\\plain\\AutoCAD.log");
    machine.addFile(kTemp + u"\\AutoCAD_dir\\acad.tmp");
    ScanCollector collector(machine, ProductKind::AutoCAD);
    collector.scanFolders();
    EXPECT_EQ(Locations(collector.items), std::vector<std::u16string>{kTemp + u"\\AutoCAD_dir"});
}

// What TEMP names decides whether it is searched, and whether what it holds is temporary at all.
TEST(CatalogueTempTest, WhatTempNamesDecidesItsEntries) {
    using Env = std::optional<std::u16string>;
    struct Case {
        Env temp;
        bool found; // its acad.tmp
        bool temporary;
    };
    const Case cases[] = {
        {Env{}, false, true},
        {Env{u""}, false, true},
        {Env{u"C:\\work\\acad.tmp"}, false, true},
        {kTemp, true, true},
        {Env{u"C:\\Windows\\Temp"}, true, true},
        {Env{u"D:\\"}, true, false},
        {Env{u"\\\\server\\share"}, true, false},
        {Env{u"C:\\Windows"}, true, false},
        {Env{u"C:\\Users\\lin"}, true, false}, // the profile
        {kLocal, true, false},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        SetWindowsFolders(machine);
        machine.setEnvironment(u"USERPROFILE", u"C:\\Users\\lin");
        machine.setCurrentDirectory(u"C:\\work");
        machine.addFile(u"C:\\work\\acad.tmp");
        machine.setEnvironment(u"TEMP", c.temp);
        machine.setEnvironment(u"TMP", u"C:\\work");
        const std::string where = ToUtf8(c.temp.value_or(u"<unset>"));
        if (c.found) {
            machine.addFile(JoinPath(*c.temp, u"acad.tmp"));
        }
        ScanCollector collector(machine, ProductKind::AutoCAD);
        collector.scanFolders();
        ASSERT_EQ(collector.items.size(), c.found ? 1u : 0u) << where;
        if (!c.found) {
            continue;
        }
        ResidueItem expected = TempEntry(*c.temp, u"acad.tmp", ItemKind::File);
        if (!c.temporary) {
            expected.risk = RiskLevel::NeedsConfirm;
            expected.checked = false;
            expected.note = u"TEMP 指向系统目录或根目录；此项未必是临时文件，因此默认不选。";
        }
        EXPECT_EQ(Describe(*collector.items[0]), Describe(expected)) << where;
    }
}

// --- Registry branches and views ---------------------------------------------------------------

TEST(CatalogueRegistryTest, BranchesPerViewAndTheSharedUserBranch) {
    struct Case {
        const char* what;
        bool windows64;
        RegistryRoot root;
        RegistryView seededIn; // None: a key of its own in each view
        std::vector<std::u16string> expected;
    };
    const std::u16string user = u"HKCU\\Software\\Autodesk\\AutoCAD";
    const std::u16string machineKey = u"HKLM\\Software\\Autodesk\\AutoCAD";
    const Case cases[] = {
        {"machine branch, 64-bit view only", true, kHKLM, k64, {machineKey + u" [64位]"}},
        {"machine branch, 32-bit view only", true, kHKLM, k32, {machineKey + u" [32位]"}},
        {"machine branch in both views: two keys",
         true,
         kHKLM,
         RegistryView::None,
         {machineKey + u" [32位]", machineKey + u" [64位]"}},
        // One key that both views reach: listed once, as the 32-bit view finds it.
        {"user branch seen from the 64-bit side", true, kHKCU, k64, {user + u" [32位]"}},
        {"user branch seen from the 32-bit side", true, kHKCU, k32, {user + u" [32位]"}},
        {"32-bit Windows, machine branch", false, kHKLM, k64, {machineKey + u" [32位]"}},
        {"32-bit Windows, user branch", false, kHKCU, k32, {user + u" [32位]"}},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.set64BitWindows(c.windows64);
        for (RegistryView view : {k32, k64}) {
            if (c.seededIn == view || c.seededIn == RegistryView::None) {
                machine.addKey(c.root, view, u"Software\\Autodesk\\AutoCAD\\R24.3");
            }
        }
        ScanCollector collector(machine, ProductKind::AutoCAD);
        collector.scanRegistry();
        EXPECT_EQ(Locations(collector.items), c.expected) << c.what << "\n" << machine.dump();
    }
}

// The branches of products installed beside the main one: each a row of its own, in both views,
// under the main product's categories; another product's scan leaves them alone.
TEST(CatalogueRegistryTest, BranchesOfProductsBesideTheMainOne) {
    struct Case {
        ProductKind product;
        RegistryRoot root;
        std::u16string path;
        std::u16string category;
        std::u16string title;
        RiskLevel risk;
        bool checked;
        std::u16string note;
    };
    const std::u16string eDrawings =
        u"eDrawings 也可单独安装，可能仍在使用，因此默认不选；删除前自动导出备份。";
    const Case cases[] = {
        {ProductKind::AutoCAD, kHKCU, u"Software\\Autodesk\\AutoCAD LT", u"AutoCAD 用户注册表",
         u"AutoCAD LT 用户注册表", RiskLevel::Safe, true,
         u"枚举此分支下的全部 AutoCAD LT 版本；删除前自动导出备份。"},
        {ProductKind::AutoCAD, kHKLM, u"Software\\Autodesk\\AutoCAD LT", u"AutoCAD 系统注册表",
         u"AutoCAD LT 系统注册表", RiskLevel::NeedsConfirm, true,
         u"枚举此分支下的全部 AutoCAD LT 版本；删除前自动导出备份。"},
        {ProductKind::SolidWorks, kHKCU, u"Software\\SRAC", u"SolidWorks 用户注册表",
         u"SolidWorks Simulation 用户注册表", RiskLevel::Safe, true,
         u"SolidWorks Simulation（SRAC）当前用户配置；删除前自动导出备份。"},
        {ProductKind::SolidWorks, kHKLM, u"Software\\SRAC", u"SolidWorks 系统注册表",
         u"SolidWorks Simulation 系统注册表", RiskLevel::NeedsConfirm, true,
         u"SolidWorks Simulation（SRAC）系统配置；删除前自动导出备份。"},
        {ProductKind::SolidWorks, kHKCU, u"Software\\eDrawings", u"SolidWorks 用户注册表",
         u"eDrawings 用户注册表", RiskLevel::NeedsConfirm, false, eDrawings},
        {ProductKind::SolidWorks, kHKLM, u"Software\\eDrawings", u"SolidWorks 系统注册表",
         u"eDrawings 系统注册表", RiskLevel::NeedsConfirm, false, eDrawings},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.addKey(c.root, k32, c.path + u"\\2024");
        machine.addKey(c.root, k64, c.path + u"\\2024");
        ScanCollector collector(machine, c.product);
        collector.scanRegistry();
        std::vector<ResidueItem> expected;
        // A per-user branch is one key in both views.
        for (RegistryView view : c.root == kHKCU ? std::vector<RegistryView>{k32}
                                                 : std::vector<RegistryView>{k32, k64}) {
            ResidueItem item = Branch(c.root, view, c.path, c.category, c.title, c.risk, c.note);
            item.checked = c.checked;
            expected.push_back(item);
        }
        EXPECT_TRUE(SameItems(Describe(collector.items), Describe(expected))) << ToUtf8(c.path);

        const ProductKind other =
            c.product == ProductKind::AutoCAD ? ProductKind::SolidWorks : ProductKind::AutoCAD;
        ScanCollector otherScan(machine, other);
        otherScan.scanRegistry();
        EXPECT_TRUE(otherScan.items.empty()) << ToUtf8(c.path);
    }
}

TEST(CatalogueRegistryTest, ThirtyTwoBitWindowsGivesOnlyThirtyTwoBitItems) {
    FakePlatform machine;
    // One view only: what the seeding puts into either view lands in it.
    machine.set64BitWindows(false);
    SeedAllProducts(machine);
    for (ProductKind product :
         {ProductKind::AutoCAD, ProductKind::SolidWorks, ProductKind::Oracle}) {
        ScanCollector collector(machine, product);
        collector.scanRegistry();
        std::set<std::u16string> seen;
        for (const auto& item : collector.items) {
            EXPECT_EQ(item->registryView, k32) << ToUtf8(item->location);
            EXPECT_TRUE(seen.insert(item->location).second) << ToUtf8(item->location);
        }
        EXPECT_FALSE(collector.items.empty());
    }
    ScanCollector oracle(machine, ProductKind::Oracle);
    oracle.scanRegistry();
    EXPECT_EQ(Locations(oracle.items),
              (std::vector<std::u16string>{
                  u"HKCU\\Software\\Oracle [32位]", u"HKLM\\Software\\Oracle [32位]",
                  u"HKLM\\" + kUninstall + u"\\Oracle_OraDB19Home1 [32位]",
                  u"HKLM\\" + kUninstall + u"\\OraClient19Home1_32bit [32位]",
                  u"HKCU\\" + kUninstall + u"\\SQL Developer 23.1 [32位]"}));
}

// --- Install records ---------------------------------------------------------------------------

TEST(CatalogueRegistryTest, RegistryTextDecoding) {
    struct Case {
        const char* what;
        uint32_t error;
        uint32_t type;
        std::vector<uint8_t> bytes;
        std::u16string expected;
    };
    std::vector<uint8_t> odd = Utf16Bytes(u"AutoCAD");
    odd.push_back('X'); // an odd last byte is the low half of one more unit
    std::vector<uint8_t> cutChinese = Utf16Bytes(u"简体");
    cutChinese.pop_back(); // 体 (U+4F53) loses its high byte
    std::vector<uint8_t> halfTerminator = Utf16Bytes(std::u16string(u"Oracle") + u'\0');
    halfTerminator.pop_back();
    const Case cases[] = {
        {"terminated", 0, 1, Utf16Bytes(std::u16string(u"AutoCAD 2024") + u'\0'), u"AutoCAD 2024"},
        {"no terminator", 0, 1, Utf16Bytes(u"AutoCAD 2024"), u"AutoCAD 2024"},
        {"expand string as stored", 0, 2, Utf16Bytes(std::u16string(u"%TEMP%\\x") + u'\0'),
         u"%TEMP%\\x"},
        {"text after the first zero", 0, 1, Utf16Bytes(std::u16string(u"Oracle\0Client", 13)),
         u"Oracle"},
        {"odd byte count", 0, 1, odd, u"AutoCADX"},
        {"odd byte count on a terminator", 0, 1, halfTerminator, u"Oracle"},
        // 体 (U+4F53) keeps only its low byte, which reads as S.
        {"odd byte count inside Chinese", 0, 1, cutChinese, u"简S"},
        {"single byte", 0, 1, {0x41}, u"A"},
        {"empty data", 0, 1, {}, u""},
        {"multi-string", 0, 7, Utf16Bytes(std::u16string(u"AutoCAD\0\0", 9)), u""},
        {"binary", 0, 3, Utf16Bytes(u"AutoCAD"), u""},
        {"dword", 0, 4, {1, 0, 0, 0}, u""},
        {"missing value", 2, 1, Utf16Bytes(u"AutoCAD"), u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DecodeRegistryText(c.error, c.type, c.bytes), c.expected) << c.what;
    }
}

TEST(CatalogueRegistryTest, InstallRecordValues) {
    struct Value {
        uint32_t type;
        std::vector<uint8_t> bytes;
    };
    using OptValue = std::optional<Value>;
    auto sz = [](const std::u16string& text) {
        return OptValue{Value{1, Utf16Bytes(text + u'\0')}};
    };
    struct Case {
        const char* what;
        ProductKind product;
        OptValue name, version, quiet, plain;
        bool taken;
        std::u16string title, command;
    };
    const OptValue none;
    const Case cases[] = {
        {"quiet preferred", ProductKind::AutoCAD, sz(u"AutoCAD 2024"), sz(u"24.3"), sz(u"q.exe /s"),
         sz(u"u.exe"), true, u"AutoCAD 2024 24.3", u"q.exe /s"},
        {"plain when quiet is empty", ProductKind::AutoCAD, sz(u"AutoCAD 2024"), sz(u""), sz(u""),
         sz(u"u.exe"), true, u"AutoCAD 2024", u"u.exe"},
        {"neither command", ProductKind::AutoCAD, sz(u"AutoCAD 2024"), none, none, none, true,
         u"AutoCAD 2024", u""},
        {"quiet of another type falls back to plain", ProductKind::AutoCAD, sz(u"AutoCAD 2024"),
         none, OptValue{Value{3, Utf16Bytes(u"q.exe")}}, sz(u"u.exe"), true, u"AutoCAD 2024",
         u"u.exe"},
        {"name as expand string", ProductKind::AutoCAD,
         OptValue{Value{2, Utf16Bytes(u"AutoCAD LT")}}, none, none,
         OptValue{Value{2, Utf16Bytes(u"%SystemRoot%\\u.exe")}}, true, u"AutoCAD LT",
         u"%SystemRoot%\\u.exe"},
        {"name as multi-string", ProductKind::AutoCAD,
         OptValue{Value{7, Utf16Bytes(std::u16string(u"AutoCAD 2024\0\0", 14))}}, sz(u"1"), none,
         sz(u"u.exe"), false, u"", u""},
        {"name without terminator", ProductKind::SolidWorks,
         OptValue{Value{1, Utf16Bytes(u"SOLIDWORKS 2023")}}, sz(u"31.5"), none, none, true,
         u"SOLIDWORKS 2023 31.5", u""},
        {"version of another type is dropped", ProductKind::SolidWorks, sz(u"eDrawings SolidWorks"),
         OptValue{Value{4, {1, 0, 0, 0}}}, none, none, true, u"eDrawings SolidWorks", u""},
        {"no display name", ProductKind::AutoCAD, none, sz(u"AutoCAD"), none, sz(u"AutoCAD.exe"),
         false, u"", u""},
        {"Oracle Database without version", ProductKind::Oracle, sz(u"Oracle Database 19c Client"),
         none, none, sz(u"deinstall.bat"), true, u"Oracle Database 19c Client", u"deinstall.bat"},
        {"the word Oracle after the start", ProductKind::Oracle, sz(u"Tools for Oracle"), sz(u"2"),
         none, sz(u"t.exe"), false, u"", u""},
        {"starts with oracle in lower case", ProductKind::Oracle, sz(u"oracle VM VirtualBox"), none,
         none, none, true, u"oracle VM VirtualBox", u""},
        {"Oracle Client inside", ProductKind::Oracle, sz(u"Instant Oracle Client 21"), none, none,
         none, true, u"Instant Oracle Client 21", u""},
        {"Oracle Database inside", ProductKind::Oracle, sz(u"My Oracle Database XE"), none, none,
         none, true, u"My Oracle Database XE", u""},
        {"SQL Developer inside", ProductKind::Oracle, sz(u"Quest sql developer 3"), none, none,
         none, true, u"Quest sql developer 3", u""},
        {"another product's record", ProductKind::Oracle, sz(u"AutoCAD 2024"), none, none, none,
         false, u"", u""},
        {"Autodesk but not AutoCAD", ProductKind::AutoCAD, sz(u"Autodesk Desktop App"), none, none,
         none, false, u"", u""},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        const std::u16string path = kUninstall + u"\\Record";
        machine.addKey(kHKLM, k64, path);
        const std::pair<const char16_t*, const OptValue*> values[] = {
            {u"DisplayName", &c.name},
            {u"DisplayVersion", &c.version},
            {u"QuietUninstallString", &c.quiet},
            {u"UninstallString", &c.plain}};
        for (const auto& value : values) {
            if (value.second->has_value()) {
                machine.setValue(kHKLM, k64, path, value.first, (*value.second)->type,
                                 (*value.second)->bytes);
            }
        }
        ScanCollector collector(machine, c.product);
        collector.scanUninstallRecords(kHKLM, k64);
        ASSERT_EQ(collector.items.size(), c.taken ? 1u : 0u) << c.what;
        if (c.taken) {
            EXPECT_EQ(Describe(*collector.items[0]),
                      Describe(Record(kHKLM, k64, u"Record", c.title, c.command)))
                << c.what;
        }
    }
}

TEST(CatalogueRegistryTest, UnreadableRecordsAreSkippedAndTheRestListed) {
    FakePlatform machine;
    AddRecord(machine, kHKLM, k64, u"A", u"AutoCAD A", {}, {}, {});
    AddRecord(machine, kHKLM, k64, u"B", u"AutoCAD B", {}, {}, {});
    AddRecord(machine, kHKLM, k64, u"C", u"AutoCAD C", {}, {}, {});
    machine.failCall(FakeCall::ReadValues, codes::kAccessDenied, kUninstall + u"\\B");
    // C vanishes between reading it and adding it.
    machine.failCall(FakeCall::OpenKeyForRead, codes::kFileNotFound, kUninstall + u"\\C");
    ScanCollector collector(machine, ProductKind::AutoCAD);
    collector.scanUninstallRecords(kHKLM, k64);
    EXPECT_EQ(Locations(collector.items),
              std::vector<std::u16string>{u"HKLM\\" + kUninstall + u"\\A [64位]"});

    machine.clearFailures();
    machine.failCall(FakeCall::ListSubkeys, codes::kAccessDenied);
    ScanCollector refused(machine, ProductKind::AutoCAD);
    refused.scanUninstallRecords(kHKLM, k64);
    EXPECT_TRUE(refused.items.empty());
}

// --- Services and processes --------------------------------------------------------------------

TEST(CatalogueRunningTest, ServiceMatching) {
    struct Case {
        ProductKind product;
        const char16_t* key;
        const char16_t* display;
        bool listed;
    };
    const Case cases[] = {
        {ProductKind::AutoCAD, u"AdskLicensingService", u"Desktop Licensing", true},
        {ProductKind::AutoCAD, u"GenuineService", u"Autodesk Genuine Service", true},
        {ProductKind::AutoCAD, u"FlexNet", u"FlexNet Licensing Service", false},
        {ProductKind::AutoCAD, u"AUTODESKAccess", u"Access", true},
        {ProductKind::SolidWorks, u"SolidWorks Licensing Service", u"Licensing", true},
        {ProductKind::SolidWorks, u"swbo", u"SWBOEngine host", true},
        {ProductKind::SolidWorks, u"x", u"sldWorks helper", true},
        {ProductKind::SolidWorks, u"Dassault", u"Dassault Systemes 3DEXPERIENCE", false},
        {ProductKind::Oracle, u"OracleServiceORCL", u"OracleServiceORCL", true},
        {ProductKind::Oracle, u"OraDB19Home1TNSListener", u"TNS Listener", true},
        {ProductKind::Oracle, u"oRAFailSafe", u"Fail Safe", true},
        {ProductKind::Oracle, u"AuroraSync", u"Ora Sync Helper", false},
        {ProductKind::Oracle, u"Agent", u"Helper for ORACLE jobs", true},
        {ProductKind::Oracle, u"Spooler", u"Print Spooler", false},
        // The blank joins the two names: a keyword may not run across them.
        {ProductKind::Oracle, u"xor", u"acle", false},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.addService(c.key, c.display, codes::kServiceStopped);
        ScanCollector collector(machine, c.product);
        collector.scanServices();
        ASSERT_EQ(collector.items.size(), c.listed ? 1u : 0u) << ToUtf8(c.key);
        if (c.listed) {
            EXPECT_EQ(Describe(*collector.items[0]),
                      Describe(Service(c.key, c.display, makerName(c.product))));
        }
    }
}

// A product service whose program file is gone keeps its rule and says so.
TEST(CatalogueRunningTest, ServiceWhoseProgramIsGone) {
    const std::u16string home = u"C:\\app\\oracle\\product\\19.0.0\\dbhome_1";
    const std::u16string gone = u"服务程序已不存在：";
    const std::u16string rest = u"；此服务已无法启动。清理只停止服务，不删除服务注册。";
    struct Case {
        const char* what;
        std::u16string binaryPath;
        bool programThere;
        std::u16string note;
    };
    const Case cases[] = {
        {"quoted, with arguments, gone", u"\"" + home + u"\\bin\\ORACLE.EXE\" ORCL", false,
         gone + home + u"\\bin\\ORACLE.EXE" + rest},
        {"a reference, gone", u"%ORACLE_BASE%\\bin\\TNSLSNR.EXE", false,
         gone + u"C:\\app\\oracle\\bin\\TNSLSNR.EXE" + rest},
        {"the folder is gone too", u"D:\\nowhere\\bin\\ORACLE.EXE", false,
         gone + u"D:\\nowhere\\bin\\ORACLE.EXE" + rest},
        {"still there", u"\"" + home + u"\\bin\\ORACLE.EXE\" ORCL", true,
         u"Oracle 相关服务。清理只停止服务，不删除服务注册。"},
        {"unreadable", u"", false, u"Oracle 相关服务。清理只停止服务，不删除服务注册。"},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.setEnvironment(u"ORACLE_BASE", u"C:\\app\\oracle");
        machine.addDirectory(home + u"\\bin");
        machine.addDirectory(u"C:\\app\\oracle\\bin");
        if (c.programThere) {
            machine.addFile(home + u"\\bin\\ORACLE.EXE");
        }
        machine.addService(u"OracleServiceORCL", u"OracleServiceORCL", codes::kServiceStopped, 0,
                           c.binaryPath);
        ScanCollector collector(machine, ProductKind::Oracle);
        collector.scanServices();
        ASSERT_EQ(collector.items.size(), 1u) << c.what;
        EXPECT_EQ(Describe(*collector.items[0]), Describe([&] {
                      ResidueItem item =
                          Service(u"OracleServiceORCL", u"OracleServiceORCL", u"Oracle");
                      item.note = c.note;
                      return item;
                  }()))
            << c.what;
    }
}

TEST(CatalogueRunningTest, ProcessMatching) {
    struct Case {
        ProductKind product;
        const char16_t* name;
        bool listed;
        bool shared;
    };
    const Case cases[] = {
        {ProductKind::AutoCAD, u"acad.exe", true, false},
        {ProductKind::AutoCAD, u"ACAD.EXE", true, false},
        {ProductKind::AutoCAD, u"acadlt.exe", true, false},
        {ProductKind::AutoCAD, u"AcCoreConsole.exe", true, false},
        {ProductKind::AutoCAD, u"acad2.exe", false, false},
        {ProductKind::AutoCAD, u"acad", false, false},
        {ProductKind::AutoCAD, u"acwebbrowser.exe", true, true},
        {ProductKind::AutoCAD, u"AdAppMgrSvc.exe", true, true},
        {ProductKind::AutoCAD, u"AdskLicensingAgent.exe", true, true},
        {ProductKind::AutoCAD, u"AdskIdentityManager.exe", true, true},
        {ProductKind::AutoCAD, u"AutodeskDesktopApp.exe", true, true},
        {ProductKind::AutoCAD, u"sldworks.exe", false, false},
        {ProductKind::SolidWorks, u"SLDWORKS.exe", true, false},
        {ProductKind::SolidWorks, u"swlicensing.exe", true, false},
        {ProductKind::SolidWorks, u"sldProcMon.exe", false, false},
        {ProductKind::Oracle, u"oracle.exe", true, false},
        {ProductKind::Oracle, u"TNSLSNR.EXE", true, false},
        {ProductKind::Oracle, u"sqldeveloper64W.exe", false, false},
        {ProductKind::Oracle, u"emagent.exe", true, false},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.addProcess(4294967295u, c.name);
        ScanCollector collector(machine, c.product);
        collector.scanProcesses();
        ASSERT_EQ(collector.items.size(), c.listed ? 1u : 0u) << ToUtf8(c.name);
        if (c.listed) {
            EXPECT_EQ(Describe(*collector.items[0]),
                      Describe(Process(4294967295u, c.name, productName(c.product), c.shared)));
        }
    }
}

// A running service's process, or another session's, is not ended by default.
TEST(CatalogueRunningTest, ProcessesOfARunningServiceOrAnotherSessionWaitForTheUser) {
    FakePlatform machine;
    machine.addProcess(7001, u"oracle.exe");
    machine.addProcess(7002, u"TNSLSNR.EXE");
    machine.addProcess(7003, u"oracle.exe", 2u);
    machine.addProcess(7004, u"oracle.exe", std::nullopt);
    machine.addService(u"OracleServiceORCL", u"OracleServiceORCL", codes::kServiceRunning, 7001);
    machine.addService(u"OracleOraDB19Home1TNSListener", u"Listener", codes::kServiceStopped, 7002);
    ScanCollector collector(machine, ProductKind::Oracle);
    collector.scanProcesses();
    collector.scanServices();
    const std::u16string safe = u"Oracle 进程可能锁定安装文件。";
    const std::vector<std::pair<bool, std::u16string>> expected = {
        {false, u"正在运行的服务“OracleServiceORCL”的进程；结束它会中断该服务，因此默认不选。"},
        {true, safe},
        {false, u"其他用户会话中的进程；结束它可能丢失该用户未保存的工作，因此默认不选。"},
        {true, safe}, // the session unknown: taken as this one
    };
    ASSERT_GE(collector.items.size(), expected.size()) << machine.dump();
    for (size_t i = 0; i < expected.size(); ++i) {
        const ResidueItem& item = *collector.items[i];
        EXPECT_EQ(item.checked, expected[i].first) << i;
        EXPECT_EQ(item.risk, expected[i].first ? RiskLevel::Safe : RiskLevel::NeedsConfirm) << i;
        EXPECT_EQ(item.note, expected[i].second) << i;
    }
}

TEST(CatalogueRunningTest, OneItemPerProcessIdEvenForTheSameProgram) {
    FakePlatform machine;
    machine.addProcess(6001, u"SLDWORKS.exe");
    machine.addProcess(6002, u"sldworks.exe");
    machine.addProcess(6001, u"SLDWORKS.exe"); // a snapshot never repeats an id; one item if so
    ScanCollector collector(machine, ProductKind::SolidWorks);
    collector.scanProcesses();
    EXPECT_EQ(Locations(collector.items), (std::vector<std::u16string>{u"6001", u"6002"}));
    EXPECT_EQ(collector.items[1]->title, u"sldworks.exe（PID 6002）");
}

} // namespace
} // namespace tidewell
