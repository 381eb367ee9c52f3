#include "clean/CleanSelected.h"
#include "FakeWorkflowWindow.h"
#include "WorkflowMachine.h"
#include "support/Text.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

const std::u16string kTemp = u"C:\\Users\\u\\AppData\\Local\\Temp";

// SolidWorks residues of every kind the clean workflow handles.
class CleanSelectedTest : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareWorkflowMachine(machine);
        machine.onChild(FakeRegExport(machine));
        machine.addFile(u"C:\\Program Files\\SOLIDWORKS Corp\\SOLIDWORKS\\sldworks.exe");
        machine.addFile(u"C:\\ProgramData\\SOLIDWORKS\\settings.dat");
        machine.addDirectory(u"C:\\ProgramData\\DassaultSystemes\\Licenses");
        machine.addFile(kTemp + u"\\sldworks_fs.log");
        machine.addKey(RegistryRoot::CurrentUser, RegistryView::Bits64, u"Software\\SolidWorks");
        machine.addKey(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\SolidWorks");
        machine.addProcess(200, u"SLDWORKS.exe");
        machine.addService(u"SolidWorks Licensing Service", u"SolidWorks Licensing",
                           codes::kServiceRunning);
        window.scan.product = ProductKind::SolidWorks;
        window.scan.runScan();
        window.scansShown = 0;
        ASSERT_EQ(window.scan.items.size(), 8u) << machine.dump();
    }

    FakePlatform machine;
    FakeWorkflowWindow window{machine};
};

// Nothing checked only says so; a refused confirmation changes nothing either.
TEST_F(CleanSelectedTest, NothingCheckedOrRefusedChangesNothing) {
    window.isChecked = [](const ResidueItem&) { return false; };
    CleanSelected(machine, window);
    ASSERT_EQ(machine.messages.size(), 1u);
    EXPECT_EQ(machine.messages[0].text, u"请先勾选需要清理的项目。");
    EXPECT_EQ(machine.messages[0].title, u"Tidewell");
    EXPECT_FALSE(machine.messages[0].question);
    EXPECT_EQ(machine.messages[0].icon, NoticeIcon::Information);

    window.isChecked = [](const ResidueItem& item) { return item.checked; };
    machine.queueAnswers({false});
    CleanSelected(machine, window);
    ASSERT_EQ(machine.messages.size(), 2u);
    EXPECT_TRUE(machine.messages[1].question);
    EXPECT_TRUE(machine.journal.empty()) << machine.dump();
    EXPECT_FALSE(machine.exists(u"C:\\Users\\u\\Documents\\TidewellBackup"));
    EXPECT_TRUE(window.busyStates.empty());
    EXPECT_TRUE(window.progress.empty());
    EXPECT_EQ(window.scan.items.size(), 8u);
    EXPECT_EQ(window.scansShown, 0);
}

TEST_F(CleanSelectedTest, ConfirmationCountsItemsAndWarnsAboutHighRisk) {
    window.isChecked = [](const ResidueItem& item) {
        return item.category == u"相关服务" || item.category == u"公共数据" ||
               item.category == u"临时文件";
    };
    CleanSelected(machine, window); // no answer queued: No
    ASSERT_EQ(machine.messages.size(), 1u);
    const FakePlatform::Message& question = machine.messages[0];
    EXPECT_TRUE(question.question);
    EXPECT_FALSE(question.yesIsDefault);
    EXPECT_EQ(question.icon, NoticeIcon::Warning);
    EXPECT_EQ(question.title, u"确认清理");
    EXPECT_EQ(question.text,
              u"即将清理 3 项。注册表会备份，但删除的文件不会备份。\r\n\r\n其中包含 1 "
              u"个高风险项，可能影响其他 Dassault Systèmes 软件。\r\n\r\n是否继续？");

    machine.messages.clear();
    window.isChecked = [](const ResidueItem& item) { return item.category == u"公共数据"; };
    CleanSelected(machine, window);
    ASSERT_EQ(machine.messages.size(), 1u);
    EXPECT_EQ(machine.messages[0].text,
              u"即将清理 1 项。注册表会备份，但删除的文件不会备份。\r\n\r\n是否继续？");
}

TEST_F(CleanSelectedTest, CleansTheCheckedItemsInTreeOrderAndReports) {
    machine.queueAnswers({true});
    CleanSelected(machine, window);

    // Tree order: registry categories first, the processes late and the program folder last.
    const std::u16string body =
        u"[成功] SolidWorks 用户注册表 [32位]\r\n  HKCU\\Software\\SolidWorks [32位]\r\n  "
        u"注册表已备份并删除\r\n"
        u"[成功] SolidWorks 系统注册表 [64位]\r\n  HKLM\\Software\\SolidWorks [64位]\r\n  "
        u"注册表已备份并删除\r\n"
        u"[成功] sldworks_fs.log\r\n  " +
        kTemp +
        u"\\sldworks_fs.log\r\n  文件已删除\r\n"
        u"[成功] SOLIDWORKS\r\n  C:\\ProgramData\\SOLIDWORKS\r\n  目录已删除\r\n"
        u"[成功] SLDWORKS.exe（PID 200）\r\n  200\r\n  进程已结束\r\n"
        u"[成功] SOLIDWORKS Corp\r\n  C:\\Program Files\\SOLIDWORKS Corp\r\n  目录已删除\r\n"
        u"\r\n注册表备份：" +
        std::u16string(kBackupFolder);
    EXPECT_EQ(LogFile(machine), LogBytes(u"SolidWorks 残留清理日志", body));

    EXPECT_EQ(window.progress, (std::vector<int>{16, 33, 50, 66, 83, 100}));
    EXPECT_GE(machine.repaintCount, 6);
    const std::u16string summary = u"清理完成：成功 6，失败 0";
    EXPECT_EQ(window.busyStates, (std::vector<FakeWorkflowWindow::BusyState>{
                                     {true, u"正在清理选中项..."}, {false, summary}}));

    // The fresh scan shows what is left: the service and the shared licence folder.
    EXPECT_EQ(window.scansShown, 1);
    ASSERT_EQ(window.scan.items.size(), 2u) << machine.dump();
    EXPECT_EQ(window.scan.items[0]->kind, ItemKind::Service);
    EXPECT_EQ(window.scan.items[1]->category, u"共享许可组件");
    EXPECT_EQ(machine.serviceState(u"SolidWorks Licensing Service"), codes::kServiceRunning);

    ASSERT_EQ(machine.messages.size(), 2u);
    const FakePlatform::Message& done = machine.messages[1];
    EXPECT_EQ(done.title, u"Tidewell");
    EXPECT_EQ(done.icon, NoticeIcon::Information);
    EXPECT_EQ(done.text, summary + u"\r\n\r\n清理日志：\r\n" + kLogPath);

    // Every deleted branch has its own backup.
    EXPECT_TRUE(
        machine.exists(std::u16string(kBackupFolder) + u"\\SolidWorks 用户注册表 [32位].reg"));
    EXPECT_TRUE(
        machine.exists(std::u16string(kBackupFolder) + u"\\SolidWorks 系统注册表 [64位].reg"));
}

// An unchecked item inside a checked folder stays with its files.
TEST_F(CleanSelectedTest, AnUncheckedItemInsideACheckedFolderIsKept) {
    const std::u16string program = u"C:\\Program Files\\SOLIDWORKS Corp";
    auto inner = std::make_unique<ResidueItem>();
    inner->category = u"共享组件";
    inner->location = program + u"\\SOLIDWORKS";
    window.scan.items.push_back(std::move(inner));
    window.isChecked = [&](const ResidueItem& item) { return item.location == program; };
    machine.queueAnswers({true});
    CleanSelected(machine, window);
    EXPECT_TRUE(machine.exists(program + u"\\SOLIDWORKS\\sldworks.exe")) << machine.dump();
    EXPECT_NE(LogFile(machine).find(
                  ToUtf8(u"目录内容已删除，保留未清理的项目：" + program + u"\\SOLIDWORKS")),
              std::string::npos);
}

TEST_F(CleanSelectedTest, FailuresAndRestartRegistrationsReachTheSummary) {
    machine.lockFile(kTemp + u"\\sldworks_fs.log");
    machine.failCall(FakeCall::DeleteAtRestart, codes::kAccessDenied, u"settings.dat");
    machine.failCall(FakeCall::StartHidden, codes::kFileNotFound, u"reg.exe");
    window.isChecked = [](const ResidueItem& item) {
        return item.category == u"临时文件" || item.category == u"公共数据" ||
               item.category == u"SolidWorks 系统注册表";
    };
    machine.lockFile(u"C:\\ProgramData\\SOLIDWORKS\\settings.dat");
    machine.queueAnswers({true});
    CleanSelected(machine, window);

    const std::u16string body =
        u"[失败] SolidWorks 系统注册表 [64位]\r\n  HKLM\\Software\\SolidWorks [64位]\r\n  "
        u"注册表备份失败，已取消删除\r\n"
        u"[成功] sldworks_fs.log\r\n  " +
        kTemp +
        u"\\sldworks_fs.log\r\n  文件将在重启后删除\r\n"
        // The folder that still holds the file is not registered; the text is the file's.
        u"[失败] SOLIDWORKS\r\n  C:\\ProgramData\\SOLIDWORKS\r\n  部分内容无法删除：Access is "
        u"denied.\r\n"
        u"\r\n注册表备份：" +
        std::u16string(kBackupFolder);
    EXPECT_EQ(LogFile(machine), LogBytes(u"SolidWorks 残留清理日志", body));
    EXPECT_TRUE(machine.keyExists(RegistryRoot::LocalMachine, RegistryView::Bits64,
                                  u"Software\\SolidWorks"));
    EXPECT_EQ(window.progress, (std::vector<int>{33, 66, 100}));

    const std::u16string summary = u"清理完成：成功 1，失败 2";
    EXPECT_EQ(window.busyStates.back().status, summary);
    const FakePlatform::Message& done = machine.messages.back();
    EXPECT_EQ(done.icon, NoticeIcon::Warning);
    EXPECT_EQ(done.text, summary +
                             u"\r\n部分项目需要重启 Windows 后完成删除。\r\n\r\n清理日志：\r\n" +
                             kLogPath);
}

TEST_F(CleanSelectedTest, UnknownKindsFailAndALostLogIsSaid) {
    window.scan.items[0]->kind = static_cast<ItemKind>(7);
    window.scan.items[0]->checked = true;
    window.scan.items[1]->kind = static_cast<ItemKind>(-1);
    window.scan.items[1]->checked = true;
    const std::u16string first = window.scan.items[0]->title;
    const std::u16string second = window.scan.items[1]->title;
    window.isChecked = [&](const ResidueItem& item) {
        return item.title == first || item.title == second;
    };
    machine.failCall(FakeCall::WriteFile, codes::kAccessDenied, u"Tidewell日志");
    machine.queueAnswers({true});
    CleanSelected(machine, window);

    EXPECT_EQ(window.progress, (std::vector<int>{50, 100}));
    const std::vector<std::u16string> changes = {
        u"createDirectory C:\\Users\\u\\Documents\\TidewellBackup",
        u"createDirectory " + std::u16string(kBackupFolder)};
    EXPECT_EQ(machine.journal, changes) << "unknown kinds must touch nothing";
    const FakePlatform::Message& done = machine.messages.back();
    EXPECT_EQ(done.text, u"清理完成：成功 0，失败 2\r\n\r\n清理日志：\r\n日志写入失败");
    EXPECT_EQ(done.icon, NoticeIcon::Information);
}

} // namespace
} // namespace tidewell
