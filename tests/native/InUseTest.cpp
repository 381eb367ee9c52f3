// What stays in use is never taken: folders that hold a service's program or another product's
// installation, the folder ORACLE_HOME names, and Java's folder inside Oracle's data folder.

#include "CatalogueMachine.h"
#include "FakeWorkflowWindow.h"
#include "WorkflowMachine.h"
#include "catalogue/ScanCollector.h"
#include "clean/CleanSelected.h"
#include "support/Text.h"
#include "uninstall/OneClickUninstall.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

const std::u16string kUninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::u16string kAcad = u"C:\\Program Files\\Autodesk\\AutoCAD 2024";
const std::u16string kCivil = kAcad + u"\\C3D";
const std::u16string kHeldByCivil =
    u"目录中安装有其他产品“Autodesk Civil 3D 2024”，因此默认不选。 ";

const ResidueItem* Find(const ItemList& items, const std::u16string& location) {
    for (const auto& item : items) {
        if (item->location == location) {
            return item.get();
        }
    }
    return nullptr;
}

void AddCivilRecord(FakePlatform& machine, RegistryRoot root, RegistryView view,
                    const std::u16string& value, const std::u16string& data) {
    const std::u16string path = kUninstall + u"\\{C3D-2024}";
    machine.setStringValue(root, view, path, u"DisplayName", u"Autodesk Civil 3D 2024");
    machine.setStringValue(root, view, path, value, data);
}

// Civil 3D lives inside AutoCAD's folder under a title the AutoCAD rule does not take; each of
// the record's three values can say so, the installer's engine and caches cannot.
TEST(InUseTest, AnotherProductInsideAProgramFolderHoldsItBack) {
    const struct {
        const char* name;
        RegistryRoot root;
        RegistryView view;
        std::u16string value, data;
        bool held;
    } cases[] = {
        {"InstallLocation", RegistryRoot::LocalMachine, RegistryView::Bits64, u"InstallLocation",
         kCivil + u"\\", true},
        {"DisplayIcon, quoted, with its index", RegistryRoot::CurrentUser, RegistryView::Bits64,
         u"DisplayIcon", u"\"" + kCivil + u"\\civil.ico\",0", true},
        {"the uninstaller's folder", RegistryRoot::LocalMachine, RegistryView::Bits32,
         u"UninstallString", u"\"" + kCivil + u"\\Setup\\Setup.exe\" /uninstall", true},
        {"msiexec", RegistryRoot::LocalMachine, RegistryView::Bits64, u"UninstallString",
         u"MsiExec.exe /X{C3D-2024}", false},
        {"the system's msiexec", RegistryRoot::LocalMachine, RegistryView::Bits64,
         u"UninstallString", u"C:\\Windows\\System32\\msiexec.exe /X{C3D-2024}", false},
        {"the package cache", RegistryRoot::LocalMachine, RegistryView::Bits64, u"UninstallString",
         u"\"C:\\ProgramData\\Package Cache\\{C3D-2024}\\setup.exe\" /uninstall", false},
        {"installed elsewhere", RegistryRoot::LocalMachine, RegistryView::Bits64,
         u"InstallLocation", u"C:\\Program Files\\Autodesk\\AutoCAD 2024 Civil", false},
    };
    for (const auto& c : cases) {
        FakePlatform machine;
        PrepareWorkflowMachine(machine);
        machine.addFile(kAcad + u"\\acad.exe");
        machine.addFile(kCivil + u"\\civil.exe");
        AddCivilRecord(machine, c.root, c.view, c.value, c.data);
        ScanCollector collector(machine, ProductKind::AutoCAD);
        const ItemList items = collector.collect();
        const ResidueItem* folder = Find(items, kAcad);
        ASSERT_NE(folder, nullptr) << c.name;
        EXPECT_EQ(folder->checked, !c.held) << c.name;
        EXPECT_EQ(folder->risk, c.held ? RiskLevel::HighRisk : RiskLevel::NeedsConfirm) << c.name;
        EXPECT_EQ(ToUtf8(folder->note), ToUtf8((c.held ? kHeldByCivil : u"") +
                                               u"目录名动态匹配 AutoCAD，不依赖固定版本号。"))
            << c.name;
    }
}

// With an AutoCAD record present, one-click uninstalls it and leaves the folder Civil 3D lives
// in, saying why.
TEST(InUseTest, OneClickLeavesAFolderThatHoldsAnotherProduct) {
    FakePlatform machine;
    PrepareWorkflowMachine(machine);
    machine.addFile(kAcad + u"\\acad.exe");
    machine.addFile(kCivil + u"\\civil.exe");
    machine.addFile(u"C:\\ProgramData\\Autodesk\\AutoCAD 2024\\profile.aws");
    AddCivilRecord(machine, RegistryRoot::LocalMachine, RegistryView::Bits64, u"InstallLocation",
                   kCivil);
    catalogue_test::AddRecord(machine, RegistryRoot::LocalMachine, RegistryView::Bits64,
                              u"{AC-2024}", u"AutoCAD 2024", u"", u"", u"C:\\acad\\remove.exe");
    machine.onChild(FakeRegExport(machine, [&machine](const std::u16string&) {
        FakeChildBehaviour uninstaller;
        uninstaller.sideEffect = [&machine] {
            machine.deleteTree(RegistryRoot::LocalMachine, RegistryView::Bits64, kUninstall,
                               u"{AC-2024}");
        };
        return uninstaller;
    }));
    FakeWorkflowWindow window{machine};
    window.scan.runScan();
    // Before the run, the record holds the data folder back too.
    const ResidueItem* data = Find(window.scan.items, u"C:\\ProgramData\\Autodesk\\AutoCAD 2024");
    ASSERT_NE(data, nullptr);
    EXPECT_FALSE(data->checked);
    machine.queueAnswers({true});
    OneClickUninstall(machine, window);

    EXPECT_EQ(machine.messages.back().title, u"操作完成") << ToUtf8(machine.messages.back().text);
    EXPECT_TRUE(machine.exists(kCivil + u"\\civil.exe")) << machine.dump();
    EXPECT_TRUE(machine.exists(kAcad + u"\\acad.exe"));
    EXPECT_FALSE(machine.exists(u"C:\\ProgramData\\Autodesk\\AutoCAD 2024"));
    EXPECT_NE(LogFile(machine).find(ToUtf8(u"[保留] AutoCAD 2024\r\n  " + kAcad +
                                           u"\r\n  目录中安装有其他产品“Autodesk Civil 3D 2024”，"
                                           u"因此默认不选。\r\n")),
              std::string::npos)
        << LogFile(machine);
}

// Java's installer puts the java.exe of the system PATH inside Oracle's data folder: a clean
// with the default selection takes the folder and leaves Java.
TEST(InUseTest, JavaInsideOraclesDataFolderStaysWithTheDefaults) {
    FakePlatform machine;
    PrepareWorkflowMachine(machine);
    machine.onChild(FakeRegExport(machine));
    const std::u16string java = u"C:\\ProgramData\\Oracle\\Java";
    machine.addFile(java + u"\\javapath\\java.exe");
    machine.addFile(u"C:\\ProgramData\\Oracle\\odp.net\\trace.log");
    FakeWorkflowWindow window{machine};
    window.scan.product = ProductKind::Oracle;
    window.scan.runScan();
    const ResidueItem* item = Find(window.scan.items, java);
    ASSERT_NE(item, nullptr) << machine.dump();
    EXPECT_EQ(item->category, u"共享组件");
    EXPECT_EQ(item->risk, RiskLevel::HighRisk);
    EXPECT_FALSE(item->checked);
    EXPECT_EQ(item->note,
              u"Java 运行环境的目录，系统 PATH 中的 java.exe 位于其中（javapath），不属于 "
              u"Oracle 数据库；删除后本机的 Java 程序将无法启动，因此默认不选。");
    machine.queueAnswers({true});
    CleanSelected(machine, window);

    EXPECT_TRUE(machine.exists(java + u"\\javapath\\java.exe")) << machine.dump();
    EXPECT_FALSE(machine.exists(u"C:\\ProgramData\\Oracle\\odp.net"));
}

} // namespace
} // namespace tidewell
