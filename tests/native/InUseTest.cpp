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

const std::u16string kOracle = u"C:\\Program Files\\Oracle";
const std::u16string kOracleExe = kOracle + u"\\dbhome_2\\bin\\ORACLE.EXE";
const std::u16string kHeldByXe =
    u"目录中有已注册服务“OracleServiceXE”的程序；服务不会被删除，删除其程序会使服务无法启动，"
    u"因此默认不选。 ";

// A registered service's program holds the folder it lies in, however the service manager
// spells its path; a service elsewhere holds nothing.
TEST(InUseTest, AServicesProgramHoldsItsFolderInEverySpelling) {
    const struct {
        std::u16string binaryPath;
        bool held;
    } cases[] = {
        {u"\"" + kOracleExe + u"\" XE", true},
        {kOracleExe + u" XE", true},
        {u"%ORACLE_BASE%\\dbhome_2\\bin\\ORACLE.EXE XE", true},
        {u"\\??\\" + kOracleExe, true},
        {u"C:\\PROGRA~1\\oracle\\DBHOME_2\\bin\\oracle.exe XE", true},
        {u"C:\\app\\oracle\\bin\\ORACLE.EXE XE", false},
        {u"\\SystemRoot\\System32\\svchost.exe -k oracle", false},
    };
    for (const auto& c : cases) {
        FakePlatform machine;
        PrepareWorkflowMachine(machine);
        machine.setEnvironment(u"ORACLE_BASE", kOracle);
        machine.addShortName(u"C:\\PROGRA~1", u"C:\\Program Files");
        machine.addFile(kOracleExe);
        machine.addService(u"OracleServiceXE", u"OracleServiceXE", codes::kServiceRunning, 0,
                           c.binaryPath);
        ScanCollector collector(machine, ProductKind::Oracle);
        const ItemList items = collector.collect();
        const ResidueItem* folder = Find(items, kOracle);
        ASSERT_NE(folder, nullptr) << ToUtf8(c.binaryPath);
        EXPECT_EQ(folder->checked, !c.held) << ToUtf8(c.binaryPath);
        EXPECT_EQ(folder->inUse.empty(), !c.held) << ToUtf8(c.binaryPath);
        EXPECT_EQ(ToUtf8(folder->note),
                  ToUtf8((c.held ? kHeldByXe : u"") +
                         u"Oracle 产品目录，可能包含数据库、客户端或开发工具。"))
            << ToUtf8(c.binaryPath);
    }
}

// A home that Oracle registered, outside its default folders, is held back the same way.
TEST(InUseTest, ARegisteredHomeNamesTheServiceRunningFromIt) {
    FakePlatform machine;
    PrepareWorkflowMachine(machine);
    const std::u16string home = u"D:\\db\\dbhome_1";
    machine.addFile(home + u"\\bin\\ORACLE.EXE");
    machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits64,
                           u"SOFTWARE\\ORACLE\\KEY_OraDB19Home1", u"ORACLE_HOME", home);
    machine.addService(u"OracleServiceXE", u"OracleServiceXE", codes::kServiceRunning, 0,
                       u"\"" + home + u"\\bin\\ORACLE.EXE\" XE");
    ScanCollector collector(machine, ProductKind::Oracle);
    const ItemList items = collector.collect();
    const ResidueItem* folder = Find(items, home);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(ToUtf8(folder->category), "Oracle 主目录");
    EXPECT_FALSE(folder->checked);
    EXPECT_EQ(ToUtf8(folder->note.substr(0, kHeldByXe.size())), ToUtf8(kHeldByXe));
}

// A temporary entry that is itself a service's program is named as such.
TEST(InUseTest, AFileThatIsAServicesProgramIsHeldBack) {
    FakePlatform machine;
    PrepareWorkflowMachine(machine);
    const std::u16string agent = u"C:\\Users\\u\\AppData\\Local\\Temp\\oracle_agent.exe";
    machine.addFile(agent);
    machine.addService(u"OraAgent", u"Agent", codes::kServiceStopped, 0, u"\"" + agent + u"\"");
    ScanCollector collector(machine, ProductKind::Oracle);
    const ItemList items = collector.collect();
    const ResidueItem* file = Find(items, agent);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->checked);
    EXPECT_EQ(file->risk, RiskLevel::HighRisk);
    EXPECT_EQ(ToUtf8(file->note),
              ToUtf8(u"此文件是已注册服务“OraAgent”的程序；服务不会被删除，删除它会使服务无法启动，"
                     u"因此默认不选。 安装或运行产生的临时项。"));
}

// The Oracle machine of a database in use: one-click uninstalls VirtualBox (an Oracle title),
// then leaves the database home, the client home ORACLE_HOME names, and the running service.
TEST(InUseTest, OneClickLeavesHomesInUse) {
    FakePlatform machine;
    PrepareWorkflowMachine(machine);
    const std::u16string client = u"C:\\app\\client\\product\\19c\\client_1";
    machine.setEnvironment(u"ORACLE_HOME", client);
    machine.addFile(kOracleExe);
    machine.addFile(kOracle + u"\\dbhome_2\\database\\initXE.ora");
    machine.addFile(kOracle + u"\\VirtualBox\\VBoxSVC.exe");
    machine.addFile(client + u"\\bin\\oci.dll");
    machine.addProcess(300, u"ORACLE.EXE");
    machine.addService(u"OracleServiceXE", u"OracleServiceXE", codes::kServiceRunning, 300,
                       u"\"" + kOracleExe + u"\" XE");
    catalogue_test::AddRecord(machine, RegistryRoot::LocalMachine, RegistryView::Bits64,
                              u"VirtualBox", u"Oracle VM VirtualBox", u"7.0.14", u"",
                              kOracle + u"\\VirtualBox\\uninst.exe");
    machine.onChild(FakeRegExport(machine, [&machine](const std::u16string&) {
        FakeChildBehaviour uninstaller;
        uninstaller.sideEffect = [&machine] {
            machine.deleteTree(RegistryRoot::LocalMachine, RegistryView::Bits64, kUninstall,
                               u"VirtualBox");
            machine.deleteFile(kOracle + u"\\VirtualBox\\VBoxSVC.exe");
        };
        return uninstaller;
    }));
    FakeWorkflowWindow window{machine};
    window.scan.product = ProductKind::Oracle;
    machine.queueAnswers({true});
    OneClickUninstall(machine, window);

    EXPECT_EQ(machine.messages.back().title, u"操作完成") << ToUtf8(machine.messages.back().text);
    EXPECT_TRUE(machine.exists(kOracleExe)) << machine.dump();
    EXPECT_TRUE(machine.exists(kOracle + u"\\dbhome_2\\database\\initXE.ora"));
    EXPECT_TRUE(machine.exists(client + u"\\bin\\oci.dll"));
    EXPECT_TRUE(machine.processRunning(300));
    EXPECT_EQ(machine.serviceState(u"OracleServiceXE"), codes::kServiceRunning);
    for (const std::u16string& entry : {
             u"[保留] Oracle\r\n  " + kOracle + u"\r\n  " +
                 kHeldByXe.substr(0, kHeldByXe.size() - 1),
             u"[保留] client_1\r\n  " + client +
                 u"\r\n  ORACLE_HOME 指向的目录，其他程序可能仍在使用",
         }) {
        EXPECT_NE(LogFile(machine).find(ToUtf8(entry + u"\r\n")), std::string::npos)
            << ToUtf8(entry) << "\n"
            << LogFile(machine);
    }
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
