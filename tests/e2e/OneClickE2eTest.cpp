// One-click uninstall, end to end, on AutoCAD residues seeded in the prefix: five install
// records, one of them written by Wine's own msiexec for a real package, the others with the
// seeder's test uninstaller. Either one uninstaller fails (exit code 1603) and the program
// stops without removing anything itself, or every uninstaller succeeds and the program
// removes the product's exclusive residues while services, shared components and the shared
// licensing process stay. On Oracle residues, the shared Inventory inside the removed program
// folder stays with its files, and homes in use (a running service's, ORACLE_HOME's) stay.

#include "E2eSupport.h"
#include "platform/win32/Wide.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace tidewell::e2e {
namespace {

using win32::AsWide;

constexpr DWORD kScanTimeoutMs = 60000;
constexpr DWORD kRunTimeoutMs = 240000;
constexpr DWORD kBoxTimeoutMs = 10000;

const std::u16string kUninstallList = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::u16string kPackageCode = u"{6C3E2F0A-5B1D-4E27-9A41-2024C0DE0804}";
const std::u16string kAutoCadRecord = u"{28B89EEF-7101-0804-2102-CF3F3A09B77D}";
const std::u16string kFeedbackRecord = u"{5783F2D7-D001-4E80-9C5A-1E5A7C2E3A10}";
// The suite's add-on, whose record the AutoCAD suite's uninstaller removes along with its own.
const std::u16string kExpressToolsRecord = u"{28B89EEF-7101-0804-3102-CF3F3A09B77D}";
// The per-user record. Its uninstaller may start only with the token of the user's own
// unelevated shell; under Wine the shell runs elevated, as everything does, so it never starts.
const std::u16string kUserRecord = u"AutoCADWebLauncher";
const std::u16string kElevatedShell =
    u"此产品按用户安装，而桌面（资源管理器）以管理员权限运行，卸载程序无法以普通权限启动，"
    u"已拒绝启动";

std::u16string PackageCache() {
    return JoinPath(Env(u"ProgramData"), u"Package Cache");
}

std::u16string UninstallerLogPath() {
    return JoinPath(PackageCache(), u"test-uninstaller.log");
}

// The test uninstaller's log, "command line<TAB>-> exit code" a line, as "command => code".
std::multiset<std::u16string> UninstallerRuns() {
    std::multiset<std::u16string> runs;
    for (const std::u16string& line : SplitLines(FromUtf8(ReadBytes(UninstallerLogPath())))) {
        const size_t tab = line.rfind(u"\t-> ");
        if (tab != std::u16string::npos) {
            runs.insert(line.substr(0, tab) + u" => " + line.substr(tab + 4));
        }
    }
    return runs;
}

// The files and registry branches that AutoCAD's residues live in, entry by entry.
using Snapshot = std::map<std::u16string, std::set<std::u16string>>;

Snapshot TakeSnapshot() {
    const std::u16string pf = Env(u"ProgramW6432");
    const std::u16string pf86 = Env(u"ProgramFiles(x86)");
    const std::u16string pd = Env(u"ProgramData");
    const std::u16string temp = Env(u"TEMP");
    const std::u16string folders[] = {
        pf + u"\\Autodesk",
        pf86 + u"\\Autodesk",
        pf86 + u"\\Common Files\\Autodesk Shared",
        pd + u"\\Autodesk",
        ShellFolder(CSIDL_LOCAL_APPDATA) + u"\\Autodesk",
        ShellFolder(CSIDL_APPDATA) + u"\\Autodesk",
        temp + u"\\Autodesk_ODIS_Cache",
        temp + u"\\AutoCAD 2024 Install.log",
        temp + u"\\acad_2024_crash.dmp",
        temp + u"\\my_acad_notes.txt",
    };
    Snapshot snapshot;
    for (const std::u16string& folder : folders) {
        std::set<std::u16string> entries = ListTree(folder);
        if (PathExists(folder)) {
            entries.insert(u".");
        }
        snapshot[folder] = entries;
    }
    struct Branch {
        const char16_t* name;
        HKEY root;
        REGSAM view;
        std::u16string path;
    };
    const Branch branches[] = {
        {u"HKCU\\Software\\Autodesk", HKEY_CURRENT_USER, KEY_WOW64_64KEY, u"Software\\Autodesk"},
        {u"HKLM64\\Software\\Autodesk", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, u"Software\\Autodesk"},
        {u"HKLM32\\Software\\Autodesk", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, u"Software\\Autodesk"},
        {u"HKCU\\Uninstall", HKEY_CURRENT_USER, KEY_WOW64_64KEY, kUninstallList},
        {u"HKLM64\\Uninstall", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kUninstallList},
        {u"HKLM32\\Uninstall", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kUninstallList},
    };
    for (const Branch& branch : branches) {
        snapshot[branch.name] = ListKeys(branch.root, branch.view, branch.path);
    }
    return snapshot;
}

// "area | entry" for every entry of `from` that `to` lacks.
std::set<std::u16string> Missing(const Snapshot& from, const Snapshot& to) {
    std::set<std::u16string> missing;
    for (const auto& area : from) {
        const std::set<std::u16string>& other = to.at(area.first);
        for (const std::u16string& entry : area.second) {
            if (other.count(entry) == 0) {
                missing.insert(area.first + u" | " + entry);
            }
        }
    }
    return missing;
}

std::string Dump(const std::set<std::u16string>& lines) {
    std::string text;
    for (const std::u16string& line : lines) {
        text += U8(line) + "\n";
    }
    return text;
}

std::u16string LeafTitle(const TreeNode& leaf) {
    return leaf.text.substr(0, leaf.text.rfind(u"  ["));
}

bool IsSharedCategory(const std::u16string& category) {
    return category == u"共享组件" || category == u"共享安装组件" || category == u"共享许可组件";
}

// What the one-click run leaves alone: services, shared data, shared processes, the folder
// ORACLE_HOME names.
bool KeptByOneClick(const TreeNode& leaf) {
    const LeafKind kind = KindOf(leaf);
    return kind == LeafKind::Service || IsSharedCategory(leaf.category) ||
           (kind == LeafKind::Process && leaf.risk != u"安全项") ||
           leaf.category == u"环境变量目录";
}

// What becomes of a record when its turn comes.
enum class Fate { Runs, Gone, Refused };

// The record leaves' key names in the order they run, with their fate: gone when another leaf
// of the same key ran before it, the suite's uninstaller (which succeeds unless it is the
// failing record) took it along, or the test removed the per-user record; the per-user record
// refused otherwise.
std::vector<std::pair<std::u16string, Fate>> RecordRuns(const std::vector<TreeNode>& tree,
                                                        const std::u16string& failingRecord,
                                                        bool userRecordRemoved) {
    std::vector<std::pair<std::u16string, Fate>> runs;
    std::set<std::u16string> ran;
    for (const TreeNode& leaf : Leaves(tree)) {
        if (leaf.category != u"安装记录（高风险）") {
            continue;
        }
        const size_t end = leaf.location.rfind(u" [");
        const size_t start = leaf.location.rfind(u'\\', end) + 1;
        const std::u16string subkey = leaf.location.substr(start, end - start);
        const bool gone = !ran.insert(subkey).second ||
                          (subkey == kExpressToolsRecord && failingRecord != kAutoCadRecord) ||
                          (subkey == kUserRecord && userRecordRemoved);
        runs.emplace_back(subkey, gone                    ? Fate::Gone
                                  : subkey == kUserRecord ? Fate::Refused
                                                          : Fate::Runs);
    }
    return runs;
}

// The head of a one-click log: the product's own processes ended, then every uninstaller with
// its exit code (1603 for the record named `failingRecord`), the note that its record is gone,
// or why it was refused.
std::u16string ExpectedHead(const std::vector<TreeNode>& tree, const std::u16string& failingRecord,
                            bool userRecordRemoved) {
    std::u16string head;
    for (const TreeNode& leaf : Leaves(tree)) {
        if (leaf.category == u"正在占用" && leaf.risk == u"安全项") {
            head += u"[结束进程] " + LeafTitle(leaf) + u"：进程已结束\r\n";
        }
    }
    const auto runs = RecordRuns(tree, failingRecord, userRecordRemoved);
    size_t i = 0;
    for (const TreeNode& leaf : Leaves(tree)) {
        if (leaf.category != u"安装记录（高风险）") {
            continue;
        }
        const auto& run = runs[i++];
        const bool fails = run.first == failingRecord || run.second == Fate::Refused;
        head += (fails ? u"[卸载失败] " : u"[卸载成功] ") + LeafTitle(leaf) +
                (run.second == Fate::Gone ? u"：安装记录已被移除，无需再卸载"
                 : run.second == Fate::Refused
                     ? u"：" + kElevatedShell
                     : u"：退出代码 " + std::u16string(fails ? u"1603" : u"0")) +
                u"\r\n";
    }
    return head;
}

// The question before the run: the record leaves' titles, in the order they run.
std::u16string Confirmation(const std::vector<TreeNode>& tree) {
    std::u16string titles;
    size_t count = 0;
    for (const TreeNode& leaf : Leaves(tree)) {
        if (leaf.category == u"安装记录（高风险）") {
            titles += u"\r\n  " + LeafTitle(leaf);
            ++count;
        }
    }
    EXPECT_GT(count, 0u);
    return u"此操作只卸载检测到的 AutoCAD 产品，并清理其专属残留。\r\n不会自动删除标记为共享组件"
           u"或共享许可的数据。\r\n\r\n检测到 " +
           Number(count) + u" 个安装记录：" + titles + u"\r\n\r\n是否继续？";
}

std::map<std::u16string, std::optional<DWORD>> AutodeskServices() {
    return {{u"AdskLicensingService", ServiceState(u"AdskLicensingService")},
            {u"GenuineService", ServiceState(u"GenuineService")}};
}

// The seeded AutoCAD, with the program running and the uninstaller log emptied.
class OneClickE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lock_.held());
        seeded_ = std::make_unique<SeededProduct>(u"autocad");
        ASSERT_EQ(seeded_->run().failures, "");
        // The language pack came from Windows Installer, which recorded its own command.
        const std::vector<Fields> packages = seeded_->run().lines(u"package");
        ASSERT_EQ(packages.size(), 1u);
        ASSERT_EQ(U8(packages[0][4]), U8(u"MsiExec.exe /I" + kPackageCode));
        ASSERT_TRUE(KeyExists(
            {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, u"HKLM", kUninstallList + u"\\" + kPackageCode}));
        DeleteFileW(reinterpret_cast<const wchar_t*>(UninstallerLogPath().c_str()));
        for (const Fields& process : seeded_->run().lines(u"process")) {
            processes_[process[3]] = std::stoul(U8(process[2]));
        }
        ASSERT_EQ(processes_.size(), 3u);
    }

    void TearDown() override {
        DeleteFileW(reinterpret_cast<const wchar_t*>(UninstallerLogPath().c_str()));
    }

    // The test uninstaller runs the program should cause, "command => exit code": one per
    // record leaf that the seeder wrote (the package's record runs msiexec instead), with the
    // quiet command where the record has one. `failing` replaces one record's command.
    std::multiset<std::u16string> expectedRuns(const std::vector<TreeNode>& tree,
                                               const std::u16string& failingRecord,
                                               const std::u16string& failingCommand,
                                               bool userRecordRemoved) const {
        std::multiset<std::u16string> runs;
        for (const auto& run : RecordRuns(tree, failingRecord, userRecordRemoved)) {
            if (run.second != Fate::Runs) {
                continue; // not started: its record was already gone, or it was refused
            }
            for (const Fields& record : seeded_->run().lines(u"record")) {
                if (record[3] != run.first) {
                    continue;
                }
                if (run.first == failingRecord) {
                    runs.insert(failingCommand + u" => 1603");
                } else {
                    runs.insert((record[6].empty() ? record[7] : record[6]) + u" => 0");
                }
            }
        }
        return runs;
    }

    bool running(const char16_t* executable) const {
        return ProcessRunning(processes_.at(executable), executable);
    }

    SeedLock lock_;
    // What a run schedules for the next restart would otherwise reach later tests.
    ScopedPendingRenames pendingBefore_;
    std::unique_ptr<SeededProduct> seeded_;
    std::map<std::u16string, DWORD> processes_; // executable name -> process id
};

TEST_F(OneClickE2eTest, FailingUninstallerStopsTheRunAndNothingIsRemoved) {
    // The main product's uninstaller now fails, as a real one does with 1603, and removes
    // nothing; the two other machine-wide uninstallers still run and succeed, and the per-user
    // one is refused: the shell runs elevated.
    const std::u16string uninstaller =
        JoinPath(JoinPath(PackageCache(), kAutoCadRecord), u"test-uninstaller.exe");
    const std::u16string failing =
        u"\"" + uninstaller + u"\" --exit-code 1603 --log \"" + UninstallerLogPath() + u"\"";
    ASSERT_TRUE(WriteStringValue(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY,
                                 kUninstallList + u"\\" + kAutoCadRecord, L"QuietUninstallString",
                                 failing));
    RunOutputs outputs;
    AppDriver app;
    ASSERT_EQ(app.start(), "");
    std::u16string last;
    app.press(kScanButton);
    ASSERT_TRUE(app.waitForStatus(
        [](const std::u16string& text) { return StartsWith(text, u"扫描完成，共发现 "); },
        kScanTimeoutMs, &last))
        << U8(last);
    const std::vector<TreeNode> tree = app.readTree(true);
    ASSERT_FALSE(tree.empty());
    const Snapshot before = TakeSnapshot();
    const auto services = AutodeskServices();

    app.press(kOneClickButton);
    std::optional<MessageBoxSeen> box = app.waitForMessageBox(kBoxTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(U8(box->title), "一键卸载并清理 AutoCAD");
    EXPECT_EQ(U8(box->text), U8(Confirmation(tree)));
    EXPECT_TRUE(box->hasYesNo);
    ASSERT_TRUE(app.answer(*box, IDYES));
    EXPECT_TRUE(app.waitForStatusText(u"正在卸载 AutoCAD，请勿关闭程序...", kBoxTimeoutMs, &last))
        << U8(last);
    box = app.waitForMessageBox(kRunTimeoutMs);
    ASSERT_TRUE(box.has_value()) << "status: " << U8(app.status());

    const std::vector<std::u16string> logs = outputs.newLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(U8(box->title), "卸载未完成");
    EXPECT_EQ(U8(box->text),
              U8(u"有 2 个 AutoCAD 产品卸载失败，未继续删除残留。\r\n\r\n日志：\r\n" + logs[0]));
    EXPECT_TRUE(box->hasOk);
    EXPECT_EQ(U8(app.status()), "AutoCAD 卸载未全部成功，已停止残留清理");
    EXPECT_EQ(app.progress(), 0);
    ASSERT_TRUE(app.answer(*box, IDOK));

    // The log: the product's own processes ended, every uninstaller with its exit code, then
    // the stop note.
    const RunLogFile log = ReadRunLog(logs[0]);
    ASSERT_EQ(log.problem, "");
    EXPECT_EQ(U8(log.title), "AutoCAD 一键卸载日志");
    EXPECT_TRUE(StartsWith(log.timeLine, u"时间：")) << U8(log.timeLine);
    EXPECT_EQ(U8(log.body),
              U8(ExpectedHead(tree, kAutoCadRecord, false) +
                 u"\r\n因卸载失败，为避免破坏仍有效的安装，本次未继续自动删除残留。"));

    // Each test uninstaller ran once per record with the command its record carries; the
    // per-user one never ran.
    const std::multiset<std::u16string> expected =
        expectedRuns(tree, kAutoCadRecord, failing, false);
    EXPECT_EQ(expected.size(), 3u);
    EXPECT_EQ(UninstallerRuns(), expected);
    // msiexec removed the package: its record and its file.
    EXPECT_FALSE(KeyExists(
        {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, u"HKLM", kUninstallList + u"\\" + kPackageCode}));

    // Nothing else changed: what is gone is exactly what the successful uninstallers took.
    const Snapshot after = TakeSnapshot();
    const std::u16string pf = Env(u"ProgramW6432") + u"\\Autodesk";
    const std::u16string pf86 = Env(u"ProgramFiles(x86)") + u"\\Autodesk";
    const std::set<std::u16string> takenByUninstallers = {
        u"HKLM64\\Uninstall | " + kPackageCode,
        u"HKLM32\\Uninstall | " + kFeedbackRecord,
        u"HKLM64\\Uninstall | " + kExpressToolsRecord,
        pf + u" | AutoCAD 2024\\zh-CN",
        pf + u" | AutoCAD 2024\\zh-CN\\acadres.txt",
        pf86 + u" | AutoCAD Performance Feedback Tool",
        pf86 + u" | AutoCAD Performance Feedback Tool\\1.3.10",
        pf86 + u" | AutoCAD Performance Feedback Tool\\1.3.10\\PFTool.dll",
    };
    EXPECT_EQ(Dump(Missing(before, after)), Dump(takenByUninstallers));
    EXPECT_EQ(Dump(Missing(after, before)), "");
    for (const auto& service : services) {
        EXPECT_EQ(ServiceState(service.first), service.second) << U8(service.first);
    }
    EXPECT_FALSE(running(u"acad.exe"));
    EXPECT_TRUE(running(u"AdskLicensingAgent.exe"));
    EXPECT_TRUE(running(u"AcEventSync.exe"));
    // No branch was exported: any backup folder of the run is empty.
    for (const std::u16string& folder : outputs.newBackupFolders()) {
        EXPECT_EQ(Dump(ListTree(folder)), "") << U8(folder);
    }
    // The tree is still the scan from before the run.
    const std::vector<TreeNode> treeAfter = app.readTree(false);
    ASSERT_EQ(treeAfter.size(), tree.size());
    for (size_t i = 0; i < tree.size(); ++i) {
        EXPECT_EQ(U8(treeAfter[i].text), U8(tree[i].text));
        EXPECT_EQ(treeAfter[i].stateImage, tree[i].stateImage) << U8(tree[i].text);
    }
    EXPECT_EQ(app.stop(), 0u);
}

// A copy of the program in a download folder, with an msiexec.exe and a cmd.exe planted
// beside it.
class DownloadFolder {
public:
    DownloadFolder() : folder_(JoinPath(Env(u"TEMP"), u"tidewell-download")) {
        CreateDirectoryW(AsWide(folder_), nullptr);
        copied_ = CopyFileW(AsWide(ProgramUnderTest()), AsWide(program()), FALSE);
        for (const char16_t* name : {u"msiexec.exe", u"cmd.exe"}) {
            copied_ = copied_ && CopyFileW(AsWide(BuildPath(TIDEWELL_PLANTED_MSIEXEC_PATH)),
                                           AsWide(JoinPath(folder_, name)), FALSE);
        }
    }
    ~DownloadFolder() { RemoveTree(folder_); }
    DownloadFolder(const DownloadFolder&) = delete;
    DownloadFolder& operator=(const DownloadFolder&) = delete;

    bool copied() const { return copied_; }
    std::u16string program() const { return JoinPath(folder_, u"tidewell.exe"); }
    bool plantedRan(const std::u16string& name) const {
        return PathExists(JoinPath(folder_, name + u".ran"));
    }

private:
    std::u16string folder_;
    bool copied_ = false;
};

TEST_F(OneClickE2eTest, UninstallsWithMsiexecThenCleansOnlyExclusiveResidues) {
    RunOutputs outputs;
    DownloadFolder download;
    ASSERT_TRUE(download.copied());
    // The feedback tool's uninstaller runs through cmd named without a folder.
    std::u16string feedbackCommand;
    for (const Fields& record : seeded_->run().lines(u"record")) {
        if (record[3] == kFeedbackRecord) {
            feedbackCommand = record[7];
        }
    }
    ASSERT_FALSE(feedbackCommand.empty());
    ASSERT_TRUE(WriteStringValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY,
                                 kUninstallList + u"\\" + kFeedbackRecord, L"UninstallString",
                                 u"cmd /c \"" + feedbackCommand + u"\""));
    AppDriver app;
    ASSERT_EQ(app.start(30000, download.program()), "");
    const auto services = AutodeskServices();
    ASSERT_EQ(services.at(u"AdskLicensingService"), std::optional<DWORD>(SERVICE_RUNNING));

    // Without a scan the button scans first; the tree is there while the question is asked.
    app.press(kOneClickButton);
    std::optional<MessageBoxSeen> box = app.waitForMessageBox(kScanTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(U8(box->title), "一键卸载并清理 AutoCAD");
    const std::vector<TreeNode> tree = app.readTree(true);
    ASSERT_FALSE(tree.empty());
    EXPECT_EQ(U8(box->text), U8(Confirmation(tree)));
    const std::vector<TreeNode> scanned = Leaves(tree);
    EXPECT_EQ(U8(tree[0].text), U8(u"AutoCAD 扫描结果（" + Number(scanned.size()) + u" 个项目）"));
    // The per-user record is one key in both views: one leaf, as the 32-bit view found it.
    std::vector<std::u16string> webLauncher;
    for (const TreeNode& leaf : scanned) {
        if (leaf.location.find(u"\\AutoCADWebLauncher [") != std::u16string::npos) {
            webLauncher.push_back(leaf.location);
        }
    }
    EXPECT_EQ(webLauncher, (std::vector<std::u16string>{u"HKCU\\" + kUninstallList +
                                                        u"\\AutoCADWebLauncher [32位]"}));
    std::vector<TreeNode> kept;
    for (const TreeNode& leaf : scanned) {
        if (KeptByOneClick(leaf)) {
            kept.push_back(leaf);
        }
    }

    // Under Wine the per-user record would be refused (the shell runs elevated): it goes
    // before its turn, and counts as done.
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, AsWide(kUninstallList + u"\\" + kUserRecord)),
              ERROR_SUCCESS);
    ASSERT_TRUE(app.answer(*box, IDYES));
    box = app.waitForMessageBox(kRunTimeoutMs);
    ASSERT_TRUE(box.has_value()) << "status: " << U8(app.status());
    const std::u16string summary = app.status();
    const std::vector<std::u16string> logs = outputs.newLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(U8(box->title), "操作完成");
    EXPECT_EQ(app.progress(), 100);
    const MessageBoxSeen finalBox = *box;
    ASSERT_TRUE(app.answer(*box, IDOK));

    // Every uninstaller ran once, silently, and succeeded, the suite's work done by the copy it
    // handed it to before the run went on; the add-on's record went with the suite, so its
    // uninstaller never started. msiexec removed the package.
    const std::multiset<std::u16string> expected = expectedRuns(tree, {}, {}, true);
    EXPECT_EQ(expected.size(), 2u);
    EXPECT_EQ(UninstallerRuns(), expected);
    // The system's msiexec and cmd did it, not those beside the program.
    EXPECT_FALSE(download.plantedRan(u"msiexec.exe"));
    EXPECT_FALSE(download.plantedRan(u"cmd.exe"));
    // With /I instead of /X Windows Installer would repair the package, and without /qn it
    // would wait for someone at its window: the record is gone only after a silent removal.
    EXPECT_FALSE(KeyExists(
        {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, u"HKLM", kUninstallList + u"\\" + kPackageCode}));
    EXPECT_FALSE(PathExists(Env(u"ProgramW6432") + u"\\Autodesk\\AutoCAD 2024\\zh-CN"));

    // The log: ended processes, uninstallers, then one entry per cleaned item and the backup.
    const RunLogFile log = ReadRunLog(logs[0]);
    ASSERT_EQ(log.problem, "");
    EXPECT_EQ(U8(log.title), "AutoCAD 一键卸载并清理日志");
    const std::u16string expectedHead = ExpectedHead(tree, {}, true);
    ASSERT_TRUE(StartsWith(log.body, expectedHead)) << U8(log.body);
    std::vector<LogEntry> entries;
    std::u16string backupFolder;
    std::string problem;
    ASSERT_TRUE(
        ParseCleanEntries(log.body.substr(expectedHead.size()), entries, backupFolder, problem))
        << problem << "\n"
        << U8(log.body);
    ASSERT_FALSE(entries.empty());
    // The seeder's AcEventSync.exe, named like no product process, keeps running from inside
    // the AutoCAD 2024 folder. Wine keeps no owner or access list on a folder, so ordinary users
    // count as able to change it: the running program is not registered for the next restart
    // and the folder stays with it, a failure that names it.
    const std::u16string heldFolder = Env(u"ProgramW6432") + u"\\Autodesk\\AutoCAD 2024";
    const std::vector<std::u16string> pending = ScopedPendingRenames::strings();
    const auto scheduled = [&](const std::u16string& path) {
        for (const std::u16string& entry : pending) {
            if (StartsWith(entry, u"\\??\\" + path + u"\\") || entry == u"\\??\\" + path) {
                return true;
            }
        }
        return false;
    };
    size_t succeeded = 0;
    size_t cleaned = 0;
    bool restart = false;
    std::set<std::u16string> waitingForRestart;
    std::map<std::u16string, int> exportsExpected;
    std::multiset<std::u16string> leftInLog;
    for (const LogEntry& entry : entries) {
        SCOPED_TRACE(U8(entry.location));
        // What the run leaves follows what it cleaned, each with its reason.
        if (entry.outcome == u"保留") {
            EXPECT_FALSE(entry.message.empty());
            leftInLog.insert(entry.location);
            continue;
        }
        ++cleaned;
        if (entry.location == heldFolder) {
            EXPECT_EQ(U8(entry.outcome), "清理失败");
            EXPECT_EQ(U8(entry.message),
                      U8(u"部分内容无法删除：文件正在使用，且所在目录允许普通用户修改，"
                         u"为安全起见未登记重启后删除：" +
                         heldFolder + u"\\AcEventSync.exe"));
            EXPECT_FALSE(scheduled(heldFolder));
            continue;
        }
        EXPECT_EQ(U8(entry.outcome), "清理成功") << U8(entry.message);
        succeeded += entry.outcome == u"清理成功" ? 1 : 0;
        const std::optional<RegistryPlace> place = ParseRegistryLocation(entry.location);
        if (place && entry.message == u"注册表已备份并删除") {
            ++exportsExpected[u"[" + place->exportName() + u"]"];
        }
        if (entry.message == u"部分内容将在重启后删除" || entry.message == u"文件将在重启后删除") {
            restart = true;
            waitingForRestart.insert(entry.location);
            EXPECT_TRUE(scheduled(entry.location));
        } else if (place) {
            EXPECT_FALSE(KeyExists(*place));
        } else if (entry.location.size() > 1 && entry.location[1] == u':') {
            EXPECT_FALSE(PathExists(entry.location));
        }
    }
    EXPECT_EQ(U8(summary), U8(u"一键卸载并清理完成：清理成功 " + Number(succeeded) + u"，失败 " +
                              Number(cleaned - succeeded)));
    EXPECT_EQ(leftInLog, LeafLocations(kept));
    EXPECT_EQ(U8(finalBox.text),
              U8(summary + (restart ? u"\r\n部分操作需要重启 Windows 后完成。" : u"") +
                 u"\r\n\r\n日志已保存到桌面：\r\n" + logs[0]));
    EXPECT_EQ(Dump(waitingForRestart), "");
    EXPECT_EQ(Dump(ListTree(heldFolder)), "AcEventSync.exe\n");
    ASSERT_FALSE(backupFolder.empty());
    std::map<std::u16string, int> exportsFound;
    for (const std::u16string& name : ListNames(backupFolder, u"*.reg")) {
        const RegExport file = ReadRegExport(JoinPath(backupFolder, name));
        EXPECT_TRUE(file.hasBom) << U8(name);
        EXPECT_EQ(U8(file.header), "Windows Registry Editor Version 5.00");
        ++exportsFound[file.keyLine];
    }
    EXPECT_FALSE(exportsExpected.empty());
    EXPECT_EQ(exportsFound, exportsExpected);

    // Exclusive residues are gone; services, shared data and the shared process are not.
    for (const TreeNode& leaf : scanned) {
        if (KeptByOneClick(leaf)) {
            EXPECT_TRUE(ResidueExists(leaf)) << "removed: " << U8(leaf.location);
        } else if (leaf.location != heldFolder) {
            EXPECT_FALSE(ResidueExists(leaf)) << "left: " << U8(leaf.location);
        }
    }
    for (const auto& service : services) {
        EXPECT_EQ(ServiceState(service.first), service.second) << U8(service.first);
    }
    EXPECT_FALSE(running(u"acad.exe"));
    EXPECT_TRUE(running(u"AdskLicensingAgent.exe"));
    EXPECT_TRUE(running(u"AcEventSync.exe")); // named like no product process

    // The tree shows the scan after the removal: only what the run keeps.
    const std::vector<TreeNode> after = app.readTree(true);
    std::multiset<std::u16string> expectedLeft = LeafLocations(kept);
    expectedLeft.insert(heldFolder);
    EXPECT_EQ(LeafLocations(after), expectedLeft) << TreeDump(after);
    EXPECT_EQ(app.stop(), 0u);
}

// Oracle's Inventory, which every Oracle home on the machine shares, lies inside the program
// folder the run removes: the folder's other contents go, the inventory stays with its files
// and the log names it as kept.
TEST(OneClickOracleE2eTest, TheSharedInventoryInsideTheProgramFolderStays) {
    SeedLock lock;
    ASSERT_TRUE(lock.held());
    ScopedPendingRenames pendingBefore;
    SeededProduct seeded(u"oracle");
    ASSERT_EQ(seeded.run().failures, "");
    // The client's record has no command of its own; with the database's test uninstaller every
    // uninstaller succeeds and the run goes on to the clean.
    const std::u16string client = kUninstallList + u"\\OraClient19Home1_32bit";
    const std::u16string uninstaller =
        JoinPath(JoinPath(PackageCache(), u"OraDB19Home1"), u"test-uninstaller.exe");
    ASSERT_TRUE(WriteStringValue(
        HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, client, L"QuietUninstallString",
        u"\"" + uninstaller + u"\" --exit-code 0 --remove-key \"HKLM32\\" + client + u"\""));
    const std::u16string oracle = Env(u"ProgramW6432") + u"\\Oracle";
    const std::u16string inventory = oracle + u"\\Inventory";
    const std::u16string other = oracle + u"\\readme.txt";
    ASSERT_TRUE(win32::UniqueFile(CreateFileW(reinterpret_cast<const wchar_t*>(other.c_str()),
                                              GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                              FILE_ATTRIBUTE_NORMAL, nullptr))
                    .valid())
        << GetLastError();
    const std::set<std::u16string> inventoryFiles = ListTree(inventory);
    ASSERT_TRUE(inventoryFiles.count(u"ContentsXML\\inventory.xml")) << Dump(inventoryFiles);
    // Under Wine the desktop runs elevated, so the per-user SQL Developer record would be
    // refused and the run would stop before the clean: it goes first.
    ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, AsWide(kUninstallList + u"\\SQL Developer 23.1")),
              ERROR_SUCCESS);

    RunOutputs outputs;
    AppDriver app;
    ASSERT_EQ(app.start(), "");
    ASSERT_TRUE(app.selectProductTab(2));
    app.press(kOneClickButton);
    std::optional<MessageBoxSeen> box = app.waitForMessageBox(kScanTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(U8(box->title), "一键卸载并清理 Oracle");
    ASSERT_TRUE(app.answer(*box, IDYES));
    box = app.waitForMessageBox(kRunTimeoutMs);
    ASSERT_TRUE(box.has_value()) << "status: " << U8(app.status());
    EXPECT_EQ(U8(box->title), "操作完成") << U8(box->text);
    ASSERT_TRUE(app.answer(*box, IDOK));

    EXPECT_FALSE(PathExists(other));
    EXPECT_EQ(Dump(ListTree(inventory)), Dump(inventoryFiles));
    const std::vector<std::u16string> logs = outputs.newLogs();
    ASSERT_EQ(logs.size(), 1u);
    const RunLogFile log = ReadRunLog(logs[0]);
    EXPECT_NE(log.body.find(u"  " + oracle + u"\r\n  目录内容已删除，保留未清理的项目：" +
                            inventory + u"\r\n"),
              std::u16string::npos)
        << U8(log.body);
    EXPECT_EQ(app.stop(), 0u);
}

// Oracle products that stay in use: a database home inside Program Files\Oracle whose service
// runs from it, a client home elsewhere that ORACLE_HOME names, Java inside ProgramData\Oracle.
// The run uninstalls VirtualBox (a title the Oracle rule takes), leaves the three and says why.
TEST(OneClickOracleE2eTest, HomesInUseAndTheirServiceStay) {
    SeedLock lock;
    ASSERT_TRUE(lock.held());
    ScopedPendingRenames pendingBefore;
    SeededProduct seeded(u"oracle-in-use");
    ASSERT_EQ(seeded.run().failures, "");
    const std::vector<Fields> environment = seeded.run().lines(u"environment");
    ASSERT_EQ(environment.size(), 1u);
    const std::u16string clientHome = environment[0][3];
    // The program inherits the test's environment, not the user's stored one.
    prefix::ScopedVariable oracleHome(u"ORACLE_HOME", clientHome);
    const std::u16string oracle = Env(u"ProgramW6432") + u"\\Oracle";
    const std::u16string dbHome = oracle + u"\\dbhome_2";
    const std::u16string java = Env(u"ProgramData") + u"\\Oracle\\Java";
    const std::set<std::u16string> dbFiles = ListTree(dbHome);
    const std::set<std::u16string> clientFiles = ListTree(clientHome);
    const std::set<std::u16string> javaFiles = ListTree(java);
    ASSERT_TRUE(dbFiles.count(u"bin\\ORACLE.EXE")) << Dump(dbFiles);
    ASSERT_FALSE(clientFiles.empty());
    ASSERT_EQ(ServiceState(u"OracleServiceXE"), std::optional<DWORD>(SERVICE_RUNNING));
    const std::u16string serviceNote =
        u"目录中有已注册服务“OracleServiceXE”的程序；服务不会被删除，删除其程序会使服务无法启动，"
        u"因此默认不选。";

    RunOutputs outputs;
    AppDriver app;
    ASSERT_EQ(app.start(), "");
    ASSERT_TRUE(app.selectProductTab(2));
    app.press(kOneClickButton);
    std::optional<MessageBoxSeen> box = app.waitForMessageBox(kScanTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(U8(box->title), "一键卸载并清理 Oracle");
    EXPECT_NE(box->text.find(u"\r\n  Oracle VM VirtualBox 7.0.14\r\n"), std::u16string::npos)
        << U8(box->text);
    // The scan already holds the home's folder back: unchecked, high risk, naming the service.
    const std::vector<TreeNode> tree = app.readTree(true);
    bool seen = false;
    for (const TreeNode& leaf : Leaves(tree)) {
        if (leaf.location == oracle) {
            seen = true;
            EXPECT_FALSE(leaf.checked());
            EXPECT_EQ(U8(leaf.risk), "高风险");
            EXPECT_NE(leaf.note.find(serviceNote), std::u16string::npos) << U8(leaf.note);
        }
    }
    EXPECT_TRUE(seen) << TreeDump(tree);
    ASSERT_TRUE(app.answer(*box, IDYES));
    box = app.waitForMessageBox(kRunTimeoutMs);
    ASSERT_TRUE(box.has_value()) << "status: " << U8(app.status());
    EXPECT_EQ(U8(box->title), "操作完成") << U8(box->text);
    ASSERT_TRUE(app.answer(*box, IDOK));

    // VirtualBox is gone; both homes and Java stay file for file; the service still runs.
    EXPECT_FALSE(PathExists(oracle + u"\\VirtualBox"));
    EXPECT_FALSE(PathExists(Env(u"ProgramData") + u"\\Oracle\\odp.net"));
    EXPECT_EQ(Dump(ListTree(dbHome)), Dump(dbFiles));
    EXPECT_EQ(Dump(ListTree(clientHome)), Dump(clientFiles));
    EXPECT_EQ(Dump(ListTree(java)), Dump(javaFiles));
    EXPECT_EQ(ServiceState(u"OracleServiceXE"), std::optional<DWORD>(SERVICE_RUNNING));

    // The log says what was left and why.
    const std::vector<std::u16string> logs = outputs.newLogs();
    ASSERT_EQ(logs.size(), 1u);
    const RunLogFile log = ReadRunLog(logs[0]);
    EXPECT_EQ(U8(log.title), "Oracle 一键卸载并清理日志");
    for (const std::u16string& entry : std::vector<std::u16string>{
             u"[保留] Oracle\r\n  " + oracle + u"\r\n  " + serviceNote + u"\r\n",
             u"[保留] client_1\r\n  " + clientHome +
                 u"\r\n  ORACLE_HOME 指向的目录，其他程序可能仍在使用\r\n",
             u"[保留] Java\r\n  " + java + u"\r\n  共享数据，其他产品可能使用\r\n",
             u"[保留] OracleServiceXE\r\n  OracleServiceXE\r\n  "
             u"服务只停止、不删除，一键卸载不处理服务\r\n",
         }) {
        EXPECT_NE(log.body.find(entry), std::u16string::npos) << U8(entry) << "\n" << U8(log.body);
    }
    EXPECT_EQ(app.stop(), 0u);
}

} // namespace
} // namespace tidewell::e2e
