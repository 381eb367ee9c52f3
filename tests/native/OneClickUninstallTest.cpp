#include "uninstall/OneClickUninstall.h"
#include "CatalogueMachine.h"
#include "FakeWorkflowWindow.h"
#include "WorkflowMachine.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

namespace tidewell {
namespace {

const std::u16string kUninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::u16string kSuiteTitle = u"AutoCAD 2024 - 简体中文 (Simplified Chinese) 24.3.61.0";
const std::u16string kSuiteCommand = u"MsiExec.exe /I{AC-2024}";
// msiexec is the system's, whatever folder the program was started from.
const std::u16string kSuiteSilent =
    u"\"C:\\Windows\\System32\\msiexec.exe\" /X{AC-2024} /qn /norestart";
const std::u16string kLtCommand =
    u"\"C:\\Program Files\\Autodesk\\AutoCAD LT 2024\\Setup\\Setup.exe\" -q -uninstall";

// AutoCAD with two install records of its own, a plug-in's record that merely mentions it,
// its own and a shared process, a service and shared data.
struct AutoCadMachine {
    AutoCadMachine() {
        PrepareWorkflowMachine(machine);
        machine.addFile(u"C:\\Program Files\\Autodesk\\AutoCAD 2024\\acad.exe");
        machine.addFile(u"C:\\Program Files\\Autodesk\\AutoCAD 2024\\acad.cfg");
        machine.addDirectory(u"C:\\Program Files\\Autodesk\\Autodesk Desktop App");
        machine.addFile(u"C:\\ProgramData\\Autodesk\\AutoCAD 2024\\R24.3\\profile.aws");
        machine.addDirectory(u"C:\\ProgramData\\Autodesk\\ODIS");
        machine.addFile(u"C:\\Users\\u\\AppData\\Local\\Temp\\AutoCAD_install.log");
        machine.addKey(RegistryRoot::CurrentUser, RegistryView::Bits64,
                       u"Software\\Autodesk\\AutoCAD\\R24.3");
        machine.addKey(RegistryRoot::LocalMachine, RegistryView::Bits64,
                       u"Software\\Autodesk\\AutoCAD\\R24.3");
        catalogue_test::AddRecord(machine, RegistryRoot::LocalMachine, RegistryView::Bits64,
                                  u"{AC-2024}", u"AutoCAD 2024 - 简体中文 (Simplified Chinese)",
                                  u"24.3.61.0", u"", kSuiteCommand);
        catalogue_test::AddRecord(machine, RegistryRoot::LocalMachine, RegistryView::Bits32,
                                  u"AcadLT", u"AutoCAD LT 2024", u"", kLtCommand,
                                  u"C:\\ignored.exe");
        catalogue_test::AddRecord(machine, RegistryRoot::CurrentUser, RegistryView::Bits64,
                                  u"ExpressTools", u"Express Tools for AutoCAD 2024", u"", u"",
                                  u"C:\\et\\remove.exe");
        machine.addProcess(100, u"acad.exe");
        machine.addProcess(101, u"adsklicensingagent.exe");
        machine.addService(u"AdskLicensingService", u"Autodesk Desktop Licensing Service",
                           codes::kServiceRunning);

        machine.onChild(FakeRegExport(machine, [this](const std::u16string& commandLine) {
            FakeChildBehaviour uninstaller;
            uninstaller.runMilliseconds =
                runMilliseconds.count(commandLine) != 0 ? runMilliseconds[commandLine] : 40000;
            uninstaller.exitCode = exitCodes[commandLine];
            // An uninstaller that succeeds takes its own record, unless told to leave it.
            std::vector<RecordKey> removes;
            const bool success = uninstaller.exitCode == codes::kSuccess ||
                                 uninstaller.exitCode == codes::kSuccessRebootRequired;
            if (success && ownRecords.count(commandLine) != 0 &&
                leavesRecord.count(commandLine) == 0) {
                removes.push_back(ownRecords[commandLine]);
            }
            if (alsoRemoves.count(commandLine) != 0) {
                removes.push_back(alsoRemoves[commandLine]);
            }
            const bool takesProgram = commandLine == kSuiteSilent && uninstallRemoves;
            uninstaller.sideEffect = [this, removes, takesProgram] {
                // The journal holds what the program itself changes, not the uninstallers.
                const size_t journalSize = machine.journal.size();
                for (const RecordKey& record : removes) {
                    machine.deleteTree(record.root, record.view, kUninstall, record.subkey);
                }
                if (takesProgram) {
                    machine.deleteFile(u"C:\\Program Files\\Autodesk\\AutoCAD 2024\\acad.exe");
                }
                machine.journal.resize(journalSize);
            };
            return uninstaller;
        }));
        exitCodes[kSuiteSilent] = 0;
        exitCodes[kLtCommand] = codes::kUnknownProduct;
        ownRecords[kSuiteSilent] = {RegistryRoot::LocalMachine, RegistryView::Bits64, u"{AC-2024}"};
        ownRecords[kLtCommand] = {RegistryRoot::LocalMachine, RegistryView::Bits32, u"AcadLT"};
    }
    AutoCadMachine(const AutoCadMachine&) = delete;

    void scanFirst() {
        window.scan.runScan();
        window.scansShown = 0;
        machine.journal.clear();
    }

    std::string LogFile() const { return tidewell::LogFile(machine); }

    // The uninstallers started, in order.
    std::vector<std::u16string> uninstallers() const {
        std::vector<std::u16string> started;
        for (const auto& command : machine.childCommandLines) {
            if (!ContainsNoCase(command, u"reg.exe")) {
                started.push_back(command);
            }
        }
        return started;
    }

    std::vector<std::u16string> removals() const {
        std::vector<std::u16string> found;
        for (const auto& change : machine.journal) {
            if (StartsWithNoCase(change, u"delete") || StartsWithNoCase(change, u"remove")) {
                found.push_back(change);
            }
        }
        return found;
    }

    FakePlatform machine;
    FakeWorkflowWindow window{machine};
    std::map<std::u16string, uint32_t> exitCodes;
    std::map<std::u16string, uint32_t> runMilliseconds;
    bool uninstallRemoves = true;
    struct RecordKey {
        RegistryRoot root;
        RegistryView view;
        std::u16string subkey;
    };
    std::map<std::u16string, RecordKey> alsoRemoves; // command line -> a sibling's record
    std::map<std::u16string, RecordKey> ownRecords;  // command line -> its own record
    std::set<std::u16string> leavesRecord;           // succeed, yet leave their own record
};

class OneClickUninstallTest : public ::testing::Test, public AutoCadMachine {};

TEST_F(OneClickUninstallTest, WithoutARecordItScansFirstAndExplains) {
    machine.deleteTree(RegistryRoot::LocalMachine, RegistryView::Bits64, kUninstall, u"{AC-2024}");
    machine.deleteTree(RegistryRoot::LocalMachine, RegistryView::Bits32, kUninstall, u"AcadLT");
    machine.journal.clear();

    OneClickUninstall(machine, window);

    EXPECT_EQ(window.scansShown, 1); // the list was empty: a scan fills it
    EXPECT_FALSE(window.scan.items.empty());
    ASSERT_EQ(machine.messages.size(), 1u);
    EXPECT_EQ(machine.messages[0].title, u"未发现可卸载产品");
    EXPECT_EQ(machine.messages[0].icon, NoticeIcon::Information);
    EXPECT_EQ(
        machine.messages[0].text,
        u"未检测到可调用卸载器的 AutoCAD 安装记录。\r\n\r\n如需处理孤立残留，请先扫描并人工勾选。"
        u"为了避免误删，程序不会在此情况下自动清理全部项目。");
    EXPECT_TRUE(window.busyStates.empty());
    EXPECT_TRUE(machine.journal.empty()) << "the plug-in's record must not be uninstalled";
}

TEST_F(OneClickUninstallTest, RefusalChangesNothing) {
    scanFirst();
    OneClickUninstall(machine, window); // no answer queued: No
    ASSERT_EQ(machine.messages.size(), 1u);
    const FakePlatform::Message& question = machine.messages[0];
    EXPECT_TRUE(question.question);
    EXPECT_FALSE(question.yesIsDefault);
    EXPECT_EQ(question.icon, NoticeIcon::Warning);
    EXPECT_EQ(question.title, u"一键卸载并清理 AutoCAD");
    EXPECT_EQ(
        question.text,
        u"此操作只卸载检测到的 AutoCAD 产品，并清理其专属残留。\r\n不会自动删除标记为共享组件或"
        u"共享许可的数据。\r\n\r\n检测到 2 个安装记录：\r\n  AutoCAD LT 2024\r\n  " +
            kSuiteTitle + u"\r\n\r\n是否继续？");
    EXPECT_EQ(window.scansShown, 0);
    EXPECT_TRUE(machine.journal.empty());
    EXPECT_TRUE(window.busyStates.empty());
}

// The question lists the titles in run order, up to 15 of them, and counts them all.
TEST(OneClickConfirmationTest, ListsTheTitlesThatWillRun) {
    for (const int count : {1, 15, 16}) {
        FakePlatform machine;
        PrepareWorkflowMachine(machine);
        std::u16string list;
        for (int i = 1; i <= count; ++i) {
            const std::u16string number = (i < 10 ? u"0" : u"") + ToDecimal(i);
            catalogue_test::AddRecord(machine, RegistryRoot::LocalMachine, RegistryView::Bits64,
                                      u"R" + number, u"AutoCAD Add-on " + number, u"", u"",
                                      u"C:\\r\\remove.exe");
            list += i <= 15 ? u"\r\n  AutoCAD Add-on " + number : u"\r\n  ……共 16 个";
        }
        FakeWorkflowWindow window{machine};
        OneClickUninstall(machine, window);
        ASSERT_EQ(machine.messages.size(), 1u);
        EXPECT_EQ(ToUtf8(machine.messages[0].text),
                  ToUtf8(u"此操作只卸载检测到的 AutoCAD 产品，并清理其专属残留。\r\n不会自动删除"
                         u"标记为共享组件或共享许可的数据。\r\n\r\n检测到 " +
                         ToDecimal(count) + u" 个安装记录：" + list + u"\r\n\r\n是否继续？"));
    }
}

// Before each uninstaller starts, its record is opened again: one that an earlier uninstaller
// removed is not run, and counts as done.
TEST(OneClickRecheckTest, ARecordAlreadyRemovedIsNotRunAgain) {
    const std::u16string suiteGone =
        u"[卸载成功] " + kSuiteTitle + u"：安装记录已被移除，无需再卸载";
    struct Case {
        const char* name;
        std::function<void(AutoCadMachine&)> prepare;
        std::vector<std::u16string> started; // uninstallers, in order
        std::u16string suiteLine;
    };
    const Case cases[] = {
        {"the first uninstaller removes its sibling's record",
         [](AutoCadMachine& m) {
             m.exitCodes[kLtCommand] = 0;
             m.alsoRemoves[kLtCommand] = {RegistryRoot::LocalMachine, RegistryView::Bits64,
                                          u"{AC-2024}"};
         },
         {kLtCommand},
         suiteGone},
        {"another error on the check still starts it",
         [](AutoCadMachine& m) {
             m.machine.failCall(FakeCall::OpenKeyForRead, codes::kAccessDenied, u"{AC-2024}", 1);
         },
         {kLtCommand, kSuiteSilent},
         u"[卸载成功] " + kSuiteTitle + u"：退出代码 0"},
    };
    for (const Case& c : cases) {
        AutoCadMachine m;
        m.scanFirst();
        c.prepare(m);
        m.machine.queueAnswers({true});
        OneClickUninstall(m.machine, m.window);
        EXPECT_EQ(m.uninstallers(), c.started) << c.name;
        EXPECT_NE(m.LogFile().find(ToUtf8(c.suiteLine + u"\r\n")), std::string::npos)
            << c.name << "\n"
            << m.LogFile();
        EXPECT_EQ(m.machine.messages.back().title, u"操作完成") << c.name;
        EXPECT_EQ(m.window.scansShown, 2) << c.name << ": the run went on to the clean";
    }
}

// Any program the user runs can write a per-user record: its uninstaller starts only with the
// token of the user's own unelevated shell, and otherwise not at all, with the reason logged.
TEST(OneClickRightsTest, PerUserUninstallersStartWithTheShellUsersToken) {
    const std::u16string web = u"C:\\Users\\u\\AppData\\Local\\AcadWeb\\remove.exe";
    const char16_t* const failed = u"[卸载失败] AutoCAD Web Launcher：";
    const struct {
        const char* name;
        std::function<void(FakePlatform&)> prepare;
        std::u16string line; // empty: the uninstaller ran
    } cases[] = {
        {"the shell is the user's own", [](FakePlatform&) {}, u""},
        {"elevated with another account's password",
         [](FakePlatform& m) { m.shell = FakeShell::OtherUser; },
         u"此产品按用户安装，而桌面的用户不是运行本程序的账户（提升权限时输入了其他账户），"
         u"未启动卸载程序，请由桌面的用户自行卸载"},
        {"the shell runs elevated", [](FakePlatform& m) { m.shell = FakeShell::Elevated; },
         u"此产品按用户安装，而桌面（资源管理器）以管理员权限运行，卸载程序无法以普通权限启动，"
         u"已拒绝启动"},
        {"no shell", [](FakePlatform& m) { m.shell = FakeShell::None; },
         u"无法以当前用户身份启动卸载程序（Invalid window handle.）"},
        {"the token cannot be had",
         [](FakePlatform& m) { m.failCall(FakeCall::ShellToken, codes::kAccessDenied); },
         u"无法以当前用户身份启动卸载程序（Access is denied.）"},
        {"Secondary Logon is disabled",
         [&web](FakePlatform& m) {
             m.failCall(FakeCall::StartHidden, codes::kServiceDisabled, web);
         },
         u"无法以当前用户身份启动卸载程序：Secondary Logon（seclogon）服务已禁用（The service "
         u"cannot be started, either because it is disabled or because it has no enabled devices "
         u"associated with it.）"},
    };
    for (const auto& c : cases) {
        AutoCadMachine m;
        m.uninstallRemoves = false;
        catalogue_test::AddRecord(m.machine, RegistryRoot::CurrentUser, RegistryView::Bits64,
                                  u"AcadWeb", u"AutoCAD Web Launcher", u"", web, u"");
        m.alsoRemoves[web] = {RegistryRoot::CurrentUser, RegistryView::Bits64, u"AcadWeb"};
        m.scanFirst();
        c.prepare(m.machine);
        m.machine.queueAnswers({true});
        OneClickUninstall(m.machine, m.window);

        std::vector<std::pair<std::u16string, bool>> started; // command, as the shell's user
        for (const auto& start : m.machine.childStarts) {
            if (!ContainsNoCase(start.commandLine, u"reg.exe")) {
                started.emplace_back(start.commandLine, start.asShellUser);
            }
        }
        std::vector<std::pair<std::u16string, bool>> expected = {{kLtCommand, false}};
        if (c.line.empty() || ContainsNoCase(c.line, u"seclogon")) {
            expected.emplace_back(web, true); // tried; with seclogon off it did not start
        }
        expected.emplace_back(kSuiteSilent, false);
        EXPECT_EQ(started, expected) << c.name;
        if (c.line.empty()) {
            EXPECT_EQ(m.machine.messages.back().title, u"操作完成") << c.name;
            continue;
        }
        EXPECT_NE(m.LogFile().find(ToUtf8(failed + c.line + u"\r\n")), std::string::npos)
            << c.name << "\n"
            << m.LogFile();
        EXPECT_EQ(m.machine.messages.back().title, u"卸载未完成") << c.name;
        EXPECT_TRUE(m.removals().empty()) << c.name << ": nothing is removed by the program itself";
    }
}

TEST_F(OneClickUninstallTest, UninstallsEveryRecordThenRemovesTheExclusiveResidues) {
    scanFirst();
    machine.queueAnswers({true});
    OneClickUninstall(machine, window);

    // Own process ended, uninstallers run silently in record order (32-bit view first).
    EXPECT_FALSE(machine.processRunning(100));
    EXPECT_TRUE(machine.processRunning(101)) << "a shared process is left running";
    EXPECT_EQ(uninstallers(), (std::vector<std::u16string>{kLtCommand, kSuiteSilent}));
    for (const auto& start : machine.childStarts) { // uninstallers with what they start
        EXPECT_EQ(start.scope, ContainsNoCase(start.commandLine, u"reg.exe")
                                   ? ChildScope::Process
                                   : ChildScope::ProcessTree)
            << ToUtf8(start.commandLine);
    }

    const std::u16string temp = u"C:\\Users\\u\\AppData\\Local\\Temp";
    const std::u16string body =
        u"[结束进程] acad.exe（PID 100）：进程已结束\r\n"
        u"[卸载成功] AutoCAD LT 2024：退出代码 1605\r\n"
        u"[卸载成功] " +
        kSuiteTitle +
        u"：退出代码 0\r\n"
        u"[清理成功] AutoCAD 2024\r\n  C:\\Program Files\\Autodesk\\AutoCAD 2024\r\n  "
        u"目录已删除\r\n"
        u"[清理成功] AutoCAD 2024\r\n  C:\\ProgramData\\Autodesk\\AutoCAD 2024\r\n  目录已删除\r\n"
        u"[清理成功] AutoCAD_install.log\r\n  " +
        temp +
        u"\\AutoCAD_install.log\r\n  文件已删除\r\n"
        u"[清理成功] AutoCAD 用户注册表 [32位]\r\n  HKCU\\Software\\Autodesk\\AutoCAD [32位]\r\n  "
        u"注册表已备份并删除\r\n"
        u"[清理成功] AutoCAD LT 2024\r\n  HKLM\\" +
        kUninstall +
        u"\\AcadLT [32位]\r\n  "
        u"注册表已备份并删除\r\n"
        u"[清理成功] AutoCAD 系统注册表 [64位]\r\n  HKLM\\Software\\Autodesk\\AutoCAD [64位]\r\n  "
        u"注册表已备份并删除\r\n"
        // What stays, and why; the plug-in's record was not run, so it stays listed.
        u"[保留] adsklicensingagent.exe（PID 101）\r\n  101\r\n  "
        u"共享进程、服务进程或其他用户的进程\r\n"
        u"[保留] Autodesk Desktop Licensing Service\r\n  AdskLicensingService\r\n  "
        u"服务只停止、不删除，一键卸载不处理服务\r\n"
        u"[保留] ODIS\r\n  C:\\ProgramData\\Autodesk\\ODIS\r\n  共享数据，其他产品可能使用\r\n"
        u"[保留] Express Tools for AutoCAD 2024\r\n  HKCU\\" +
        kUninstall +
        u"\\ExpressTools [32位]\r\n  本次未运行此安装记录的卸载程序，对应产品可能仍然安装\r\n"
        u"\r\n注册表备份：" +
        std::u16string(kBackupFolder);
    EXPECT_EQ(LogFile(), LogBytes(u"AutoCAD 一键卸载并清理日志", body)) << machine.dump();

    EXPECT_EQ(window.progress, (std::vector<int>{16, 33, 50, 66, 83, 100}));
    EXPECT_EQ(window.scansShown, 2);
    const std::u16string summary = u"一键卸载并清理完成：清理成功 6，失败 0";
    EXPECT_EQ(window.busyStates,
              (std::vector<FakeWorkflowWindow::BusyState>{
                  {true, u"正在卸载 AutoCAD，请勿关闭程序..."}, {false, summary}}));
    const FakePlatform::Message& done = machine.messages.back();
    EXPECT_EQ(done.title, u"操作完成");
    EXPECT_EQ(done.icon, NoticeIcon::Information);
    EXPECT_EQ(done.text, summary + u"\r\n\r\n日志已保存到桌面：\r\n" + kLogPath);

    // Services, shared data and shared processes stay.
    EXPECT_EQ(machine.serviceState(u"AdskLicensingService"), codes::kServiceRunning);
    EXPECT_TRUE(machine.isDirectory(u"C:\\ProgramData\\Autodesk\\ODIS"));
    EXPECT_TRUE(machine.isDirectory(u"C:\\Program Files\\Autodesk\\Autodesk Desktop App"));
    // What the last scan still shows: only what the run spares.
    for (const auto& item : window.scan.items) {
        EXPECT_TRUE(item->kind == ItemKind::Service || item->category == u"共享安装组件" ||
                    (item->kind == ItemKind::Process && item->risk != RiskLevel::Safe) ||
                    item->title == u"Express Tools for AutoCAD 2024")
            << ToUtf8(item->location);
    }
}

// Any failed uninstall stops the run before anything is removed; the other records still run.
TEST(OneClickFailureTest, AnyFailedUninstallStopsBeforeRemovingAnything) {
    const std::u16string suiteDone = u"[卸载成功] " + kSuiteTitle + u"：退出代码 0";
    struct Case {
        const char* name;
        std::function<void(AutoCadMachine&)> prepare;
        std::u16string lt, suite; // the two uninstall lines of the log
        int failures;
    };
    const Case cases[] = {
        {"an uninstaller fails", [](AutoCadMachine& m) { m.exitCodes[kLtCommand] = 1603; },
         u"[卸载失败] AutoCAD LT 2024：退出代码 1603", suiteDone, 1},
        {"a record without command",
         [](AutoCadMachine& m) {
             for (const char16_t* name : {u"QuietUninstallString", u"UninstallString"}) {
                 m.machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits32,
                                          kUninstall + u"\\AcadLT", name, u"");
             }
         },
         u"[卸载失败] AutoCAD LT 2024：未找到卸载命令", suiteDone, 1},
        {"a missing program and a high-bit exit code",
         [](AutoCadMachine& m) {
             m.machine.failCall(FakeCall::StartHidden, codes::kFileNotFound, u"Setup.exe");
             m.exitCodes[kSuiteSilent] = 0xC0000005;
         },
         u"[卸载失败] AutoCAD LT 2024：The system cannot find the file specified.",
         u"[卸载失败] " + kSuiteTitle + u"：退出代码 3221225477", 2},
        {"a program named without a folder that the system folders lack",
         [](AutoCadMachine& m) {
             m.machine.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits32,
                                      kUninstall + u"\\AcadLT", u"QuietUninstallString",
                                      u"cmd /c " + kLtCommand);
         },
         u"[卸载失败] AutoCAD LT 2024：卸载命令中的程序 cmd 不在系统目录中，已拒绝启动", suiteDone,
         1},
        {"an uninstaller exits 0 and leaves its record (cancelled, or did nothing)",
         [](AutoCadMachine& m) { m.leavesRecord.insert(kSuiteSilent); },
         u"[卸载成功] AutoCAD LT 2024：退出代码 1605",
         u"[卸载失败] " + kSuiteTitle +
             u"：卸载程序已结束（退出代码 0），但安装记录仍在，产品可能未被卸载",
         1},
    };
    for (const Case& c : cases) {
        AutoCadMachine m;
        m.uninstallRemoves = false;
        c.prepare(m);
        m.scanFirst();
        m.machine.queueAnswers({true});
        OneClickUninstall(m.machine, m.window);

        const std::u16string body =
            u"[结束进程] acad.exe（PID 100）：进程已结束\r\n" + c.lt + u"\r\n" + c.suite +
            u"\r\n\r\n因卸载失败，为避免破坏仍有效的安装，本次未继续自动删除残留。";
        EXPECT_EQ(m.LogFile(), LogBytes(u"AutoCAD 一键卸载日志", body)) << c.name;
        EXPECT_TRUE(m.removals().empty()) << c.name << "\n" << m.machine.dump();
        EXPECT_EQ(m.window.scansShown, 0) << c.name << ": the tree keeps the scan from before";
        EXPECT_TRUE(m.window.progress.empty()) << c.name;
        EXPECT_EQ(m.window.busyStates.back(),
                  (FakeWorkflowWindow::BusyState{false, u"AutoCAD 卸载未全部成功，已停止残留清理"}))
            << c.name;
        const FakePlatform::Message& done = m.machine.messages.back();
        EXPECT_EQ(done.title, u"卸载未完成") << c.name;
        EXPECT_EQ(done.icon, NoticeIcon::Error) << c.name;
        EXPECT_EQ(done.text, u"有 " + ToDecimal(c.failures) +
                                 u" 个 AutoCAD 产品卸载失败，未继续删除残留。\r\n\r\n日志：\r\n" +
                                 kLogPath)
            << c.name;
    }
}

// Oracle's Inventory, shared by every Oracle home, lies inside the program folder the run
// removes: it stays with its files, and the log names it.
TEST(OneClickKeptTest, TheSharedInventoryInsideTheRemovedProgramFolderStays) {
    FakePlatform machine;
    PrepareWorkflowMachine(machine);
    const std::u16string oracle = u"C:\\Program Files\\Oracle";
    const std::u16string inventory = oracle + u"\\Inventory";
    machine.addFile(inventory + u"\\ContentsXML\\inventory.xml");
    machine.addFile(oracle + u"\\odac\\bin\\oraops.dll");
    catalogue_test::AddRecord(machine, RegistryRoot::LocalMachine, RegistryView::Bits64,
                              u"OraClient19Home1", u"Oracle Database 19c Client", u"",
                              u"C:\\app\\client\\deinstall.exe -silent", u"");
    machine.onChild(FakeRegExport(machine, [&machine](const std::u16string&) {
        FakeChildBehaviour deinstall;
        deinstall.sideEffect = [&machine] {
            machine.deleteTree(RegistryRoot::LocalMachine, RegistryView::Bits64, kUninstall,
                               u"OraClient19Home1");
        };
        return deinstall;
    }));
    FakeWorkflowWindow window{machine};
    window.scan.product = ProductKind::Oracle;
    window.scan.runScan();
    machine.queueAnswers({true});
    OneClickUninstall(machine, window);

    EXPECT_EQ(machine.messages.back().title, u"操作完成") << ToUtf8(machine.messages.back().text);
    EXPECT_TRUE(machine.exists(inventory + u"\\ContentsXML\\inventory.xml")) << machine.dump();
    EXPECT_FALSE(machine.exists(oracle + u"\\odac"));
    EXPECT_NE(LogFile(machine).find(ToUtf8(u"[清理成功] Oracle\r\n  " + oracle +
                                           u"\r\n  目录内容已删除，保留未清理的项目：" + inventory +
                                           u"\r\n")),
              std::string::npos)
        << LogFile(machine);
}

// With TEMP at a drive root, what the scan lists there is left to the user.
TEST_F(OneClickUninstallTest, EntriesOfATempAtADriveRootStay) {
    machine.setEnvironment(u"TEMP", u"D:\\");
    machine.addFile(u"D:\\AutoCAD 图纸\\site.dwg");
    scanFirst();
    machine.queueAnswers({true});
    OneClickUninstall(machine, window);

    EXPECT_EQ(machine.messages.back().title, u"操作完成") << ToUtf8(machine.messages.back().text);
    EXPECT_TRUE(machine.exists(u"D:\\AutoCAD 图纸\\site.dwg")) << LogFile();
    EXPECT_FALSE(machine.exists(u"C:\\Program Files\\Autodesk\\AutoCAD 2024"));
}

TEST_F(OneClickUninstallTest, RestartRequestedByAnUninstallerMakesTheEndAWarning) {
    scanFirst();
    exitCodes[kSuiteSilent] = codes::kSuccessRebootRequired;
    machine.queueAnswers({true});
    OneClickUninstall(machine, window);
    const FakePlatform::Message& done = machine.messages.back();
    EXPECT_EQ(done.title, u"操作完成");
    EXPECT_EQ(done.icon, NoticeIcon::Warning);
    EXPECT_EQ(done.text, u"一键卸载并清理完成：清理成功 6，失败 0\r\n部分操作需要重启 Windows "
                         u"后完成。\r\n\r\n日志已保存到桌面：\r\n" +
                             std::u16string(kLogPath));
    EXPECT_NE(LogFile().find(ToUtf8(kSuiteTitle + u"：退出代码 3010\r\n")), std::string::npos);
}

TEST_F(OneClickUninstallTest, AHungUninstallerCanBeGivenUpAfterAskingEveryHalfHour) {
    runMilliseconds[kLtCommand] = codes::kInfinite;
    uninstallRemoves = false;
    scanFirst();
    machine.queueAnswers({true, true, true, false}); // consent, then wait twice, then give up
    OneClickUninstall(machine, window);

    std::vector<std::u16string> questions;
    for (const auto& message : machine.messages) {
        if (message.title == u"卸载仍在进行") {
            EXPECT_TRUE(message.question);
            EXPECT_TRUE(message.yesIsDefault);
            EXPECT_EQ(message.icon, NoticeIcon::Question);
            questions.push_back(message.text);
        }
    }
    ASSERT_EQ(questions.size(), 3u);
    EXPECT_NE(questions[0].find(u"AutoCAD LT 2024\r\n\r\n已等待 30 分钟。是否继续等待？"),
              std::u16string::npos)
        << ToUtf8(questions[0]);
    EXPECT_NE(questions[2].find(u"已等待 90 分钟"), std::u16string::npos);

    // The record counts as failed; the next one is still uninstalled; nothing is removed.
    const std::u16string body =
        u"[结束进程] acad.exe（PID 100）：进程已结束\r\n"
        u"[卸载失败] AutoCAD LT 2024：已放弃等待卸载程序（已等待 90 分钟，卸载程序未被终止）\r\n"
        u"[卸载成功] " +
        kSuiteTitle +
        u"：退出代码 0\r\n"
        u"\r\n因卸载失败，为避免破坏仍有效的安装，本次未继续自动删除残留。";
    EXPECT_EQ(LogFile(), LogBytes(u"AutoCAD 一键卸载日志", body));
    EXPECT_TRUE(removals().empty());
    EXPECT_EQ(machine.messages.back().title, u"卸载未完成");
}

TEST_F(OneClickUninstallTest, ASlowUninstallerThatIsWaitedForStillCounts) {
    runMilliseconds[kLtCommand] = 45 * 60 * 1000;
    scanFirst();
    machine.queueAnswers({true, true});
    OneClickUninstall(machine, window);
    EXPECT_EQ(machine.messages.back().title, u"操作完成") << ToUtf8(machine.messages.back().text);
    EXPECT_NE(LogFile().find(ToUtf8(u"[卸载成功] AutoCAD LT 2024：退出代码 1605")),
              std::string::npos);
}

} // namespace
} // namespace tidewell
