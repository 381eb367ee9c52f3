// Each product's whole catalogue, end to end through ScanCollector::collect on a machine that
// holds residues of all three products.

#include "CatalogueMachine.h"

#include "catalogue/ScanCollector.h"

#include <gtest/gtest.h>

#include <functional>

namespace tidewell {
namespace {

using namespace catalogue_test;

const std::u16string kBranchNoteAutoCad = u"枚举此分支下的全部 AutoCAD 版本；删除前自动导出备份。";

struct Expectation {
    bool withRecords = true;  // the install records are on the machine
    bool withServices = true; // the service manager answers
};

std::vector<ResidueItem> ExpectedAutoCad(Expectation how) {
    const std::u16string acad = u"AutoCAD";
    auto program = [&](ResidueItem item) { return how.withRecords ? Adjusted(item, acad) : item; };
    const std::u16string langPack = u"AutoCAD 2024 Language Pack";
    const std::u16string langPackTitle = u"AutoCAD 2024 Language Pack - 简体中文";
    const std::u16string langPackCommand =
        u"%ProgramData%\\Package Cache\\langpack\\test-uninstaller.exe";

    std::vector<ResidueItem> items{
        Process(4312, u"acad.exe", acad, false),
        Process(5120, u"AdskLicensingAgent.exe", acad, true),
    };
    if (how.withServices) {
        items.push_back(
            Service(u"AdskLicensingService", u"Autodesk Desktop Licensing Service", u"Autodesk"));
        items.push_back(Service(u"GenuineService", u"Autodesk Genuine Service", u"Autodesk"));
    }
    const std::vector<ResidueItem> folders{
        program(Folder(u"程序文件", kProgramFiles + u"\\Autodesk\\ACADE", RiskLevel::NeedsConfirm,
                       true, DynamicNote(acad))),
        program(Folder(u"程序文件", kProgramFiles + u"\\Autodesk\\AutoCAD 2024",
                       RiskLevel::NeedsConfirm, true, DynamicNote(acad))),
        program(Folder(u"程序文件（32位）",
                       kProgramFilesX86 + u"\\Autodesk\\AutoCAD Performance Feedback Tool",
                       RiskLevel::NeedsConfirm, true, DynamicNote(acad))),
        program(Folder(u"公共数据", kProgramData + u"\\Autodesk\\AutoCAD 2024", RiskLevel::Safe,
                       true, DynamicNote(acad))),
        program(Folder(u"当前用户数据", kLocal + u"\\Autodesk\\AutoCAD 2024", RiskLevel::Safe, true,
                       DynamicNote(acad))),
        program(Folder(u"当前用户配置", kRoaming + u"\\Autodesk\\AutoCAD 2024", RiskLevel::Safe,
                       true, DynamicNote(acad))),
        program(Folder(u"当前用户配置", kRoaming + u"\\Autodesk\\AutoCAD Electrical 2024",
                       RiskLevel::Safe, true, DynamicNote(acad))),
        Folder(u"共享安装组件", kProgramData + u"\\Autodesk\\ODIS", RiskLevel::HighRisk, false,
               u"Autodesk 多产品共享安装服务，仅在所有 Autodesk 产品均卸载后考虑清理。"),
        Folder(u"共享安装组件", kLocal + u"\\Autodesk\\ODIS", RiskLevel::HighRisk, false,
               u"Autodesk 安装服务缓存，其他 Autodesk 产品可能使用。"),
        Folder(u"共享许可组件", kProgramData + u"\\Autodesk\\AdskLicensingService",
               RiskLevel::HighRisk, false,
               u"Autodesk 许可服务数据，删除可能影响其他 Autodesk 产品。"),
        TempEntry(kTemp, u"_AutoCAD_tmp", ItemKind::Directory),
        TempEntry(kTemp, u"acad_crash.dmp", ItemKind::File),
        TempEntry(kTemp, u"AutoCAD.log", ItemKind::File),
        TempEntry(kTemp, u"Autodesk_Install", ItemKind::Directory),
    };
    items.insert(items.end(), folders.begin(), folders.end());

    items.push_back(
        program(Branch(kHKCU, k32, u"Software\\Autodesk\\AutoCAD", u"AutoCAD 用户注册表",
                       u"AutoCAD 用户注册表", RiskLevel::Safe, kBranchNoteAutoCad)));
    if (how.withRecords) {
        items.push_back(Record(kHKLM, k32, u"AutoCAD Performance Feedback Tool",
                               u"AutoCAD Performance Feedback Tool",
                               u"MsiExec.exe /X{0D5A8F2B-2F2A-4E4A-9D2C-0A4B8C5E6F70}"));
        items.push_back(Record(kHKCU, k32, langPack, langPackTitle, langPackCommand));
    }
    items.push_back(
        program(Branch(kHKLM, k64, u"Software\\Autodesk\\AutoCAD", u"AutoCAD 系统注册表",
                       u"AutoCAD 系统注册表", RiskLevel::NeedsConfirm, kBranchNoteAutoCad)));
    if (how.withRecords) {
        items.push_back(Record(
            kHKLM, k64, u"{28B89EEF-6101-0409-2102-CF3F3A09B77D}",
            u"AutoCAD 2024 - English 24.3.61.0",
            u"\"C:\\ProgramData\\Package Cache\\acad\\test-uninstaller.exe\" --exit-code 0"));
    }
    return items;
}

std::vector<ResidueItem> ExpectedSolidWorks(Expectation how) {
    const std::u16string sw = u"SolidWorks";
    auto program = [&](ResidueItem item) { return how.withRecords ? Adjusted(item, sw) : item; };
    const std::u16string userNote = u"SolidWorks 当前用户配置；删除前自动导出备份。";
    const std::u16string systemNote = u"SolidWorks 系统配置；删除前自动导出备份。";
    const std::u16string corpNote = u"SolidWorks 产品配置；删除前自动导出备份。";

    std::vector<ResidueItem> items{
        Process(6001, u"SLDWORKS.exe", sw, false),
        Process(6002, u"SLDWORKS.exe", sw, false),
    };
    if (how.withServices) {
        items.push_back(Service(u"SolidWorks Licensing Service", u"SOLIDWORKS Licensing Service",
                                u"Dassault Systèmes"));
    }
    const std::vector<ResidueItem> rest{
        program(Folder(u"程序文件", kProgramFiles + u"\\SOLIDWORKS Corp", RiskLevel::NeedsConfirm,
                       true, u"SolidWorks 主程序及组件目录。")),
        program(Folder(u"程序文件（32位）", kProgramFilesX86 + u"\\SOLIDWORKS Corp",
                       RiskLevel::NeedsConfirm, true, u"SolidWorks 32 位组件目录。")),
        program(Folder(u"公共数据", kProgramData + u"\\SOLIDWORKS", RiskLevel::Safe, true,
                       u"SolidWorks 公共配置及缓存。")),
        program(Folder(u"当前用户数据", kLocal + u"\\SOLIDWORKS", RiskLevel::Safe, true,
                       u"当前用户 SolidWorks 缓存。")),
        program(Folder(u"当前用户配置", kRoaming + u"\\SOLIDWORKS", RiskLevel::Safe, true,
                       u"当前用户 SolidWorks 配置。")),
        Folder(u"共享组件", kProgramFiles + u"\\Common Files\\SOLIDWORKS Shared",
               RiskLevel::HighRisk, false, u"不同 SolidWorks 产品可能共用此目录。"),
        Folder(u"共享许可组件", kProgramData + u"\\DassaultSystemes", RiskLevel::HighRisk, false,
               u"Dassault Systèmes 共享许可及产品数据，可能被其他产品使用。"),
        TempEntry(kTemp, u"sldworks_fs.log", ItemKind::File),
        TempEntry(kTemp, u"XSolidWorksTmp", ItemKind::Directory),
        program(Branch(kHKCU, k32, u"Software\\SolidWorks", u"SolidWorks 用户注册表",
                       u"SolidWorks 用户注册表", RiskLevel::Safe, userNote)),
        program(Branch(kHKLM, k32, u"Software\\SolidWorks Corporation", u"SolidWorks 系统注册表",
                       u"SolidWorks Corporation 注册表", RiskLevel::NeedsConfirm, corpNote)),
    };
    items.insert(items.end(), rest.begin(), rest.end());
    if (how.withRecords) {
        items.push_back(Record(kHKLM, k32, u"{0F6C4E1A-2023-0000-0000-7D9A1B3C5E70}",
                               u"eDrawings for SolidWorks 2023",
                               u"MsiExec.exe /X{0F6C4E1A-2023-0000-0000-7D9A1B3C5E70} /qn"));
    }
    items.push_back(program(Branch(kHKLM, k64, u"Software\\SolidWorks", u"SolidWorks 系统注册表",
                                   u"SolidWorks 系统注册表", RiskLevel::NeedsConfirm, systemNote)));
    items.push_back(
        program(Branch(kHKLM, k64, u"Software\\SolidWorks Corporation", u"SolidWorks 系统注册表",
                       u"SolidWorks Corporation 注册表", RiskLevel::NeedsConfirm, corpNote)));
    if (how.withRecords) {
        items.push_back(Record(kHKLM, k64, u"{B3DA8D13-2023-0500-0000-6E3A7C2E9F10}",
                               u"SOLIDWORKS 2023 SP05 31.50.0047",
                               u"\"C:\\Program Files\\Common Files\\SOLIDWORKS Installation "
                               u"Manager\\sldIM.exe\" /uninstall"));
    }
    return items;
}

std::vector<ResidueItem> ExpectedOracle(Expectation how) {
    const std::u16string ora = u"Oracle";
    auto program = [&](ResidueItem item) { return how.withRecords ? Adjusted(item, ora) : item; };
    const std::u16string userNote = u"Oracle 当前用户配置；删除前自动导出备份。";
    const std::u16string systemNote = u"Oracle Home、客户端和数据库系统配置；删除前自动导出备份。";

    std::vector<ResidueItem> items{
        Process(7001, u"ORACLE.EXE", ora, false),
        Process(7002, u"TNSLSNR.EXE", ora, false),
    };
    if (how.withServices) {
        items.push_back(Service(u"OracleServiceORCL", u"OracleServiceORCL", u"Oracle"));
        items.push_back(Service(u"OraDB19Home1TNSListener", u"OraDB19Home1TNSListener", u"Oracle"));
    }
    const std::vector<ResidueItem> rest{
        program(Folder(u"程序文件", kProgramFiles + u"\\Oracle", RiskLevel::NeedsConfirm, true,
                       u"Oracle 产品目录，可能包含数据库、客户端或开发工具。")),
        program(Folder(u"程序文件（32位）", kProgramFilesX86 + u"\\Oracle", RiskLevel::NeedsConfirm,
                       true, u"Oracle 32 位客户端及组件目录。")),
        program(Folder(u"公共数据", kProgramData + u"\\Oracle", RiskLevel::Safe, true,
                       u"Oracle 公共配置和缓存。")),
        program(Folder(u"当前用户数据", kLocal + u"\\Oracle", RiskLevel::Safe, true,
                       u"当前用户 Oracle 缓存。")),
        program(Folder(u"当前用户配置", kRoaming + u"\\Oracle", RiskLevel::Safe, true,
                       u"当前用户 Oracle 配置。")),
        Folder(u"环境变量目录", kOracleHome, RiskLevel::HighRisk, false,
               u"ORACLE_HOME 指向的目录；检测到有效环境变量，因此默认不选。"),
        Folder(u"共享安装组件", kProgramFiles + u"\\Oracle\\Inventory", RiskLevel::HighRisk, false,
               u"Oracle Universal Installer 产品清单，多个 Oracle Home 可能共用。"),
        TempEntry(kTemp, u"OraInstall2024-05-06_10-11-12AM", ItemKind::Directory),
        TempEntry(kTemp, u"orange.tmp", ItemKind::File),
        TempEntry(kTemp, u"Tools_for_Oracle.txt", ItemKind::File),
        program(Branch(kHKCU, k32, u"Software\\Oracle", u"Oracle 用户注册表", u"Oracle 用户注册表",
                       RiskLevel::Safe, userNote)),
        program(Branch(kHKLM, k32, u"Software\\Oracle", u"Oracle 系统注册表", u"Oracle 系统注册表",
                       RiskLevel::NeedsConfirm, systemNote)),
    };
    items.insert(items.end(), rest.begin(), rest.end());
    if (how.withRecords) {
        items.push_back(
            Record(kHKLM, k32, u"OraClient19Home1_32bit", u"Oracle Database 19c Client", u""));
        items.push_back(Record(kHKCU, k32, u"SQL Developer 23.1", u"SQL Developer 23.1.1",
                               u"C:\\sqldeveloper\\remove.exe"));
    }
    items.push_back(program(Branch(kHKLM, k64, u"Software\\Oracle", u"Oracle 系统注册表",
                                   u"Oracle 系统注册表", RiskLevel::NeedsConfirm, systemNote)));
    if (how.withRecords) {
        items.push_back(
            Record(kHKLM, k64, u"Oracle_OraDB19Home1", u"Oracle Database 19c 19.3.0.0.0",
                   u"C:\\app\\lin\\product\\19.0.0\\dbhome_1\\deinstall\\deinstall.bat"));
    }
    return items;
}

std::vector<ResidueItem> Expected(ProductKind product, Expectation how) {
    switch (product) {
    case ProductKind::AutoCAD:
        return ExpectedAutoCad(how);
    case ProductKind::SolidWorks:
        return ExpectedSolidWorks(how);
    default:
        return ExpectedOracle(how);
    }
}

const ProductKind kProducts[] = {ProductKind::AutoCAD, ProductKind::SolidWorks,
                                 ProductKind::Oracle};

TEST(CatalogueScanTest, EachProductGivesItsWholeCatalogueInOrder) {
    for (ProductKind product : kProducts) {
        FakePlatform machine;
        SeedAllProducts(machine);
        ScanCollector collector(machine, product);
        EXPECT_TRUE(SameItems(Describe(collector.collect()), Describe(Expected(product, {}))))
            << ToUtf8(productName(product));
        // Folder listings and the uninstall list look at the window's queue as they go.
        EXPECT_GT(machine.queueLooks, 0);
    }
}

// Each change to the machine takes away only its own part of the catalogue.
TEST(CatalogueScanTest, MissingPartsAndFailingSourcesChangeOnlyTheirRows) {
    struct Case {
        const char* what;
        std::function<void(FakePlatform&)> change;
        Expectation how;
        bool withProcesses;
    };
    const Case cases[] = {
        {"no install records",
         [](FakePlatform& m) {
             const std::u16string parent = u"Software\\Microsoft\\Windows\\CurrentVersion";
             for (auto [root, view] :
                  {std::pair{kHKLM, k32}, std::pair{kHKLM, k64}, std::pair{kHKCU, k64}}) {
                 ASSERT_EQ(m.deleteTree(root, view, parent, u"Uninstall"), 0u);
             }
         },
         {false, true},
         true},
        {"service manager refused",
         [](FakePlatform& m) { m.failCall(FakeCall::OpenServiceManager, codes::kAccessDenied); },
         {true, false},
         true},
        {"process snapshot failed",
         [](FakePlatform& m) { m.failCall(FakeCall::ListProcesses, codes::kAccessDenied); },
         {},
         false},
    };
    for (const Case& c : cases) {
        for (ProductKind product : kProducts) {
            FakePlatform machine;
            SeedAllProducts(machine);
            c.change(machine);
            std::vector<ResidueItem> expected = Expected(product, c.how);
            if (!c.withProcesses) {
                expected.erase(expected.begin(), expected.begin() + 2); // every list opens with two
            }
            ScanCollector collector(machine, product);
            EXPECT_TRUE(SameItems(Describe(collector.collect()), Describe(expected)))
                << c.what << ", " << ToUtf8(productName(product));
        }
    }
    // A machine without any residue.
    for (ProductKind product : kProducts) {
        FakePlatform machine;
        SetWindowsFolders(machine);
        EXPECT_TRUE(ScanCollector(machine, product).collect().empty())
            << ToUtf8(productName(product));
    }
}

TEST(CatalogueScanTest, AnUnknownProductValueTakesTheOracleRows) {
    FakePlatform machine;
    SeedAllProducts(machine);
    ScanCollector collector(machine, static_cast<ProductKind>(7));
    const ItemList items = collector.collect();
    // Oracle's rows; the name lookups of the item texts fall through to AutoCAD.
    ASSERT_EQ(items.size(), Expected(ProductKind::Oracle, {}).size());
    EXPECT_EQ(items[0]->title, u"ORACLE.EXE（PID 7001）");
    EXPECT_EQ(items[0]->note, u"AutoCAD 进程可能锁定安装文件。");
    EXPECT_EQ(items[2]->location, u"OracleServiceORCL");
}

} // namespace
} // namespace tidewell
