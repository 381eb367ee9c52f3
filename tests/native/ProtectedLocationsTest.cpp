#include "clean/ProtectedLocations.h"
#include "FakeWorkflowWindow.h"
#include "WorkflowMachine.h"
#include "clean/CleanItem.h"
#include "clean/CleanSelected.h"
#include "clean/FileRemoval.h"
#include "support/Text.h"
#include "uninstall/OneClickUninstall.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

void PrepareUserFolders(FakePlatform& machine) {
    PrepareWorkflowMachine(machine);
    machine.setEnvironment(u"USERPROFILE", u"C:\\Users\\u");
    machine.setEnvironment(u"PUBLIC", u"C:\\Users\\Public");
    machine.setEnvironment(u"SystemRoot", u"C:\\Windows");
    machine.setEnvironment(u"TMP", u"C:\\Users\\u\\AppData\\Local\\Temp");
}

TEST(ProtectedLocationsTest, SystemAndUserFoldersAndTheirAncestorsAreRefused) {
    FakePlatform machine;
    PrepareUserFolders(machine);
    const char16_t* refused[] = {
        u"C:\\",
        u"c:",
        u"C:",
        u"c:/",
        u"D:\\",
        u"C:\\\\",
        u"C:\\Windows",
        u"c:\\windows\\",
        u"C:\\WINDOWS\\System32",
        u"C:\\Windows.",
        u"C:\\Windows \\system32",
        u"C:\\Program Files",
        u"C:/program files/",
        u"C:\\Program Files (x86)",
        u"C:\\ProgramData",
        u"C:\\Users",
        u"C:\\Users\\Public",
        u"C:\\Users\\u",
        u"C:\\Users\\u\\Documents",
        u"C:\\Users\\u\\Desktop",
        u"C:\\Users\\u\\AppData",
        u"C:\\Users\\u\\AppData\\Local",
        u"C:\\Users\\u\\AppData\\Roaming",
        u"C:\\Users\\u\\AppData\\Local\\Temp",
        u"C:\\Users\\u\\AppData\\Local\\Temp\\.",
        u"C:\\Program Files\\Oracle\\..",
        u"C:\\Program Files\\Oracle\\..\\..\\..",
        u"",
        u"relative\\oracle",
        u"oracle",
        u"\\Windows",
        u"C:oracle",
        u"\\\\server\\share",
        u"\\\\server\\share\\",
        u"\\\\?\\C:\\Windows",
        u"\\\\.\\C:\\Windows\\System32",
        u"\\\\?\\c:\\program files\\",
        u"\\\\?\\C:\\",
        u"\\\\?\\UNC\\server\\share",
        u"\\\\.\\PhysicalDrive0",
    };
    for (const char16_t* path : refused) {
        EXPECT_TRUE(IsProtectedLocation(machine, path)) << ToUtf8(path);
    }
    const char16_t* allowed[] = {
        u"C:\\Program Files\\Oracle",
        u"C:\\Program Files (x86)\\Autodesk\\AutoCAD 2024",
        u"C:\\ProgramData\\Autodesk",
        u"C:\\Users\\u\\AppData\\Local\\Temp\\acad.tmp",
        u"C:\\Users\\u\\AppData\\Roaming\\Autodesk\\AutoCAD 2024",
        u"C:\\Program Files2", // shares a prefix with a protected folder, not an ancestor
        u"C:\\Win",
        u"C:\\Users\\u\\Documents2",
        u"D:\\oracle\\product\\19c",
        u"\\\\server\\share\\oracle",
        u"\\\\?\\C:\\Program Files\\Oracle",
        u"\\\\?\\UNC\\server\\share\\oracle",
    };
    for (const char16_t* path : allowed) {
        EXPECT_FALSE(IsProtectedLocation(machine, path)) << ToUtf8(path);
    }
}

TEST(ProtectedLocationsTest, RemovalRefusesAProtectedLocationAndTouchesNothing) {
    FakePlatform machine;
    PrepareUserFolders(machine);
    machine.addFile(u"C:\\Program Files\\Common Files\\system.dll");
    for (const char16_t* path : {u"C:\\", u"C:\\Program Files", u"C:\\Users\\u\\Desktop"}) {
        const ActionResult tree = RemoveDirectoryTree(machine, path);
        EXPECT_FALSE(tree.success) << ToUtf8(path);
        EXPECT_EQ(tree.message, u"受保护的系统目录，已跳过");
        EXPECT_FALSE(tree.rebootPending);
        EXPECT_FALSE(RemoveFile(machine, path).success);
    }
    EXPECT_TRUE(machine.journal.empty()) << machine.dump();
    EXPECT_TRUE(machine.exists(u"C:\\Program Files\\Common Files\\system.dll"));
}

// A user turns ProgramData\Autodesk into a junction to another user's Documents: what the
// scan finds there waits for confirmation, and the clean refuses it and touches nothing of it.
// A residue folder that is itself a link is still removed as a link.
TEST(ProtectedLocationsTest, ALinkAboveAnItemMakesItRefusedAndItsTargetStays) {
    FakePlatform machine;
    PrepareUserFolders(machine);
    machine.addFile(u"C:\\Users\\other\\Documents\\AutoCAD 2024\\thesis.dwg");
    machine.addDirectoryLink(u"C:\\ProgramData\\Autodesk", u"C:\\Users\\other\\Documents");
    machine.addFile(u"C:\\Users\\u\\Kept\\keep.txt");
    machine.addDirectoryLink(u"C:\\Users\\u\\AppData\\Roaming\\Autodesk\\AutoCAD 2024",
                             u"C:\\Users\\u\\Kept");
    FakeWorkflowWindow window(machine);
    window.scan.runScan();
    ASSERT_EQ(window.scan.items.size(), 2u) << machine.dump();
    const ResidueItem& linked = *window.scan.items[0];
    EXPECT_EQ(linked.location, u"C:\\ProgramData\\Autodesk\\AutoCAD 2024");
    EXPECT_EQ(linked.risk, RiskLevel::NeedsConfirm);
    EXPECT_FALSE(linked.checked);
    EXPECT_EQ(linked.note.rfind(
                  u"所在目录经过链接指向 C:\\Users\\other\\Documents，清理时会跳过此项，因此默认不"
                  u"选。 目录名动态匹配 AutoCAD",
                  0),
              0u)
        << ToUtf8(linked.note);
    EXPECT_TRUE(window.scan.items[1]->checked);

    window.isChecked = [](const ResidueItem&) { return true; };
    machine.queueAnswers({true});
    CleanSelected(machine, window);
    EXPECT_TRUE(machine.exists(u"C:\\Users\\other\\Documents\\AutoCAD 2024\\thesis.dwg"));
    EXPECT_TRUE(machine.exists(u"C:\\Users\\u\\Kept\\keep.txt"));
    EXPECT_FALSE(machine.exists(u"C:\\Users\\u\\AppData\\Roaming\\Autodesk\\AutoCAD 2024"));
    for (const std::u16string& change : machine.journal) {
        EXPECT_EQ(change.find(u"other"), std::u16string::npos) << ToUtf8(change);
    }
    EXPECT_NE(
        LogFile(machine).find(ToUtf8(u"[失败] AutoCAD 2024\r\n  C:\\ProgramData\\Autodesk\\AutoCAD "
                                     u"2024\r\n  路径经过链接指向其他位置，已跳过\r\n")),
        std::string::npos)
        << LogFile(machine);
}

TEST(ProtectedLocationsTest, OracleHomeAtTheDriveRootCannotTakeTheDrive) {
    FakePlatform machine;
    PrepareUserFolders(machine);
    machine.onChild(FakeRegExport(machine, [&](const std::u16string&) {
        FakeChildBehaviour uninstaller;
        uninstaller.sideEffect = [&] {
            machine.deleteTree(RegistryRoot::LocalMachine, RegistryView::Bits64,
                               u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", u"Ora");
        };
        return uninstaller;
    }));
    machine.setEnvironment(u"ORACLE_HOME", u"C:\\");
    machine.addFile(u"C:\\Program Files\\Oracle\\product\\bin\\oracle.exe");
    machine.addFile(u"C:\\Program Files\\Other\\keep.exe");
    machine.addFile(u"C:\\Users\\u\\Documents\\thesis.docx");
    machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits64,
                           u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ora",
                           u"DisplayName", u"Oracle Database 19c");
    machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits64,
                           u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ora",
                           u"UninstallString", u"C:\\oracle\\deinstall.bat");
    FakeWorkflowWindow window(machine);
    window.scan.product = ProductKind::Oracle;
    machine.queueAnswers({true});

    OneClickUninstall(machine, window);

    EXPECT_FALSE(machine.exists(u"C:\\Program Files\\Oracle"));
    EXPECT_TRUE(machine.exists(u"C:\\Program Files\\Other\\keep.exe")) << machine.dump();
    EXPECT_TRUE(machine.exists(u"C:\\Users\\u\\Documents\\thesis.docx"));
    const std::string log = machine.fileContents(kLogPath).value_or("");
    // The folder ORACLE_HOME names is left to the user, whatever it is.
    EXPECT_NE(log.find(ToUtf8(
                  u"[保留] \r\n  C:\\\r\n  ORACLE_HOME 指向的目录，其他程序可能仍在使用\r\n")),
              std::string::npos)
        << log;
}

} // namespace
} // namespace tidewell
