// Clean selected, end to end: SolidWorks residues seeded in the prefix, the real program
// switched to the SolidWorks tab, scanned, its checks changed, and the clean run first refused,
// then confirmed. Afterwards every checked residue is gone from disk, registry and process
// list, every unchecked one is still there, each deleted branch has its .reg backup, the log
// on the desktop lists the run in tree order, and the tree shows a fresh scan.

#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace tidewell::e2e {
namespace {

constexpr DWORD kScanTimeoutMs = 60000;
constexpr DWORD kRunTimeoutMs = 180000;
constexpr DWORD kBoxTimeoutMs = 10000;

const TreeNode* FindCategory(const std::vector<TreeNode>& tree, const std::u16string& category) {
    for (const TreeNode& node : tree) {
        if (node.depth == 1 && node.category == category) {
            return &node;
        }
    }
    return nullptr;
}

const TreeNode* FindLeaf(const std::vector<TreeNode>& tree, const std::u16string& location) {
    for (const TreeNode& node : tree) {
        if (node.leaf && node.location == location) {
            return &node;
        }
    }
    return nullptr;
}

// The check states the tree must show after a node was set: its whole branch follows it, and
// every ancestor is checked exactly when all its children are, partly checked when some are.
void ApplyCheck(std::vector<TreeNode>& tree, size_t index, bool checked) {
    const int state = checked ? 2 : 1;
    tree[index].stateImage = state;
    for (size_t i = index + 1; i < tree.size() && tree[i].depth > tree[index].depth; ++i) {
        tree[i].stateImage = state;
    }
    for (size_t parent = tree[index].parent; parent != SIZE_MAX; parent = tree[parent].parent) {
        // Checked when every child is, partly checked (3) when some box below is marked.
        bool all = true;
        bool any = false;
        for (const TreeNode& node : tree) {
            if (node.parent == parent) {
                all = all && node.checked();
                any = any || node.stateImage != 1;
            }
        }
        tree[parent].stateImage = all ? 2 : any ? 3 : 1;
    }
}

size_t IndexOf(const std::vector<TreeNode>& tree, const TreeNode* node) {
    return static_cast<size_t>(node - tree.data());
}

TEST(CleanSelectedE2eTest, RemovesCheckedItemsWithBackupsLogAndFreshScan) {
    SeedLock lock;
    ASSERT_TRUE(lock.held());
    SeededProduct seeded(u"solidworks");
    ASSERT_EQ(seeded.run().failures, "");
    // The 32-bit copy of the 64-bit settings branch, so that one view can be cleaned while the
    // other is kept.
    const std::u16string setupKey = u"Software\\SolidWorks\\SOLIDWORKS 2023\\Setup";
    ASSERT_TRUE(WriteStringValue(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, setupKey,
                                 L"SolidWorks Folder", u"C:\\Program Files (x86)\\SOLIDWORKS"));
    RunOutputs outputs;

    AppDriver app;
    ASSERT_EQ(app.start(), "");
    std::u16string last;
    EXPECT_TRUE(app.waitForStatusText(u"就绪（程序以管理员权限运行）", kBoxTimeoutMs, &last))
        << U8(last);
    EXPECT_FALSE(app.enabled(kCleanButton));

    ASSERT_TRUE(app.selectProductTab(1));
    ASSERT_TRUE(
        app.waitForStatusText(u"已切换到 SolidWorks，请点击“搜索残留”", kBoxTimeoutMs, &last))
        << U8(last);
    EXPECT_EQ(U8(app.text(kOneClickButton)), "一键卸载并清理 SolidWorks");

    app.press(kScanButton);
    ASSERT_TRUE(app.waitForStatus(
        [](const std::u16string& text) { return StartsWith(text, u"扫描完成，共发现 "); },
        kScanTimeoutMs, &last))
        << U8(last);
    std::vector<TreeNode> tree = app.readTree(true);
    ASSERT_FALSE(tree.empty());
    const std::vector<TreeNode> scanned = Leaves(tree);
    EXPECT_EQ(U8(last), U8(u"扫描完成，共发现 " + Number(scanned.size()) + u" 项"));
    EXPECT_EQ(U8(tree[0].text),
              U8(u"SolidWorks 扫描结果（" + Number(scanned.size()) + u" 个项目）"))
        << TreeDump(tree);
    for (const TreeNode& leaf : scanned) {
        EXPECT_FALSE(leaf.location.empty()) << U8(leaf.text);
    }
    // Every running SLDWORKS.exe the seeder started is listed, pre-checked; the look-alike
    // sldProcMon.exe is not the product's.
    const std::vector<Fields> processes = seeded.run().lines(u"process");
    ASSERT_EQ(processes.size(), 3u);
    std::vector<Fields> lookAlikes;
    for (const Fields& process : processes) {
        const TreeNode* leaf = FindLeaf(tree, process[2]);
        if (process[3] == u"sldProcMon.exe") {
            EXPECT_EQ(leaf, nullptr);
            lookAlikes.push_back(process);
            continue;
        }
        ASSERT_NE(leaf, nullptr) << U8(process[3]) << " " << U8(process[2]) << "\n"
                                 << TreeDump(tree);
        EXPECT_EQ(U8(leaf->category), "正在占用");
        EXPECT_TRUE(leaf->checked());
    }
    ASSERT_EQ(lookAlikes.size(), 1u);

    // The person's choice: no temporary files; the whole user branch (one branch that both
    // views show); only the 64-bit copy of the system branch; the shared licence data and one
    // install record (high risk, unchecked by default).
    struct Change {
        const TreeNode* node;
        bool checked;
    };
    const Change changes[] = {
        {FindCategory(tree, u"临时文件"), false},
        {FindCategory(tree, u"SolidWorks 用户注册表"), true},
        {FindLeaf(tree, u"HKLM\\Software\\SolidWorks [64位]"), true},
        {FindLeaf(tree, u"C:\\ProgramData\\DassaultSystemes"), true},
        {FindLeaf(tree, u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                        u"{0F6C4E1A-2023-0000-8B7C-7D9A1B3C5E70} [32位]"),
         true},
    };
    ASSERT_NE(FindLeaf(tree, u"HKLM\\Software\\SolidWorks [32位]"), nullptr) << TreeDump(tree);
    for (const Change& change : changes) {
        ASSERT_NE(change.node, nullptr) << TreeDump(tree);
    }
    for (const Change& change : changes) {
        const size_t index = IndexOf(tree, change.node);
        ASSERT_TRUE(app.setChecked(tree[index].handle, change.checked));
        ApplyCheck(tree, index, change.checked);
        const std::u16string expected =
            u"已勾选 " + Number(CheckedCount(tree)) + u" / " + Number(scanned.size()) + u" 项";
        EXPECT_TRUE(app.waitForStatusText(expected, kBoxTimeoutMs, &last))
            << "after " << U8(tree[index].text) << ": expected " << U8(expected) << ", seen "
            << U8(last);
    }
    const std::vector<TreeNode> reread = app.readTree(false);
    ASSERT_EQ(reread.size(), tree.size());
    for (size_t i = 0; i < tree.size(); ++i) {
        EXPECT_EQ(reread[i].stateImage, tree[i].stateImage) << U8(tree[i].text) << "\n"
                                                            << TreeDump(reread);
    }

    std::vector<TreeNode> checked;
    std::vector<TreeNode> unchecked;
    size_t highRisk = 0;
    for (const TreeNode& leaf : Leaves(tree)) {
        (leaf.checked() ? checked : unchecked).push_back(leaf);
        highRisk += leaf.checked() && leaf.risk == u"高风险" ? 1 : 0;
    }
    ASSERT_FALSE(checked.empty());
    EXPECT_EQ(highRisk, 4u);
    std::u16string question =
        u"即将清理 " + Number(checked.size()) + u" 项。注册表会备份，但删除的文件不会备份。";
    if (highRisk > 0) {
        question += u"\r\n\r\n其中包含 " + Number(highRisk) +
                    u" 个高风险项，可能影响其他 Dassault Systèmes 软件。";
    }
    question += u"\r\n\r\n是否继续？";

    // Refused: nothing changes, not even a backup folder.
    const std::u16string statusBefore = app.status();
    app.press(kCleanButton);
    std::optional<MessageBoxSeen> box = app.waitForMessageBox(kBoxTimeoutMs);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(U8(box->title), "确认清理");
    EXPECT_EQ(U8(box->text), U8(question));
    EXPECT_TRUE(box->hasYesNo);
    ASSERT_TRUE(app.answer(*box, IDNO));
    EXPECT_EQ(U8(app.status()), U8(statusBefore));
    EXPECT_TRUE(outputs.newLogs().empty());
    EXPECT_TRUE(outputs.newBackupFolders().empty());
    for (const TreeNode& leaf : checked) {
        EXPECT_TRUE(ResidueExists(leaf)) << "gone after No: " << U8(leaf.location);
    }

    // What each checked branch holds, to find it again in its backup.
    std::map<std::u16string, std::set<std::u16string>> branches; // key line -> subkeys
    for (const TreeNode& leaf : checked) {
        if (KindOf(leaf) == LeafKind::Registry) {
            const RegistryPlace place = *ParseRegistryLocation(leaf.location);
            branches[u"[" + place.exportName() + u"]"] =
                ListKeys(place.root, place.view, place.path);
        }
    }

    // Confirmed.
    app.press(kCleanButton);
    box = app.waitForMessageBox(kBoxTimeoutMs);
    ASSERT_TRUE(box.has_value());
    ASSERT_EQ(U8(box->text), U8(question));
    ASSERT_TRUE(app.answer(*box, IDYES));
    std::optional<MessageBoxSeen> summaryBox = app.waitForMessageBox(kRunTimeoutMs);
    ASSERT_TRUE(summaryBox.has_value()) << "status: " << U8(app.status());
    const std::u16string summary = app.status();
    const std::vector<std::u16string> logs = outputs.newLogs();
    ASSERT_EQ(logs.size(), 1u);
    const std::vector<std::u16string> folders = outputs.newBackupFolders();
    ASSERT_EQ(folders.size(), 1u);

    // The log: header, one entry per checked leaf in tree order, the backup line.
    const RunLogFile log = ReadRunLog(logs[0]);
    ASSERT_EQ(log.problem, "") << U8(logs[0]);
    EXPECT_EQ(U8(log.title), "SolidWorks 残留清理日志");
    EXPECT_TRUE(StartsWith(log.timeLine, u"时间：")) << U8(log.timeLine);
    std::vector<LogEntry> entries;
    std::u16string backupFolder;
    std::string problem;
    ASSERT_TRUE(ParseCleanEntries(log.body, entries, backupFolder, problem)) << problem << "\n"
                                                                             << U8(log.body);
    EXPECT_EQ(U8(backupFolder), U8(folders[0]));
    ASSERT_EQ(entries.size(), checked.size()) << U8(log.body);

    size_t succeeded = 0;
    std::map<std::u16string, int> exportsExpected; // key line -> count
    std::vector<std::u16string> deletedKeys;
    for (size_t i = 0; i < entries.size(); ++i) {
        const LogEntry& entry = entries[i];
        const TreeNode& leaf = checked[i];
        SCOPED_TRACE(U8(leaf.location));
        EXPECT_EQ(U8(entry.location), U8(leaf.location));
        succeeded += entry.outcome == u"成功" ? 1 : 0;
        EXPECT_FALSE(ResidueExists(leaf));
        EXPECT_EQ(U8(entry.outcome), "成功") << U8(entry.message);
        EXPECT_NE(KindOf(leaf), LeafKind::Service) << "a service was checked";
        if (KindOf(leaf) == LeafKind::Registry) {
            const RegistryPlace place = *ParseRegistryLocation(leaf.location);
            // HKCU\Software is one branch in both views: when the second copy comes up there
            // is nothing left to export, and a branch that is gone counts as cleaned.
            const bool goneBefore = place.root == HKEY_CURRENT_USER &&
                                    std::find(deletedKeys.begin(), deletedKeys.end(),
                                              place.exportName()) != deletedKeys.end();
            EXPECT_EQ(U8(entry.message), goneBefore ? "注册表项已不存在" : "注册表已备份并删除");
            if (!goneBefore) {
                ++exportsExpected[u"[" + place.exportName() + u"]"];
                deletedKeys.push_back(place.exportName());
            }
        }
    }
    // Every other residue is still there, the look-alike process too.
    for (const TreeNode& leaf : unchecked) {
        EXPECT_TRUE(ResidueExists(leaf)) << "unchecked but gone: " << U8(leaf.location);
    }
    EXPECT_TRUE(KeyExists({HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, u"HKLM", setupKey}));
    for (const Fields& process : lookAlikes) {
        EXPECT_TRUE(ProcessRunning(std::stoul(U8(process[2])), process[3]));
    }

    // One backup per deleted branch, written by reg.exe: UTF-16LE, its header, the key.
    std::map<std::u16string, int> exportsFound;
    for (const std::u16string& name : ListNames(folders[0], u"*")) {
        SCOPED_TRACE(U8(name));
        if (name == u"恢复说明.txt") {
            continue; // the restore note, beside the exports
        }
        EXPECT_EQ(U8(name.substr(name.size() - 4)), ".reg");
        const RegExport file = ReadRegExport(JoinPath(folders[0], name));
        EXPECT_TRUE(file.hasBom);
        EXPECT_EQ(U8(file.header), "Windows Registry Editor Version 5.00");
        ++exportsFound[file.keyLine];
        // The whole branch is in it, every subkey under its full name.
        const std::u16string keyName = file.keyLine.substr(1, file.keyLine.size() - 2);
        for (const std::u16string& subkey : branches[file.keyLine]) {
            if (subkey != u".") {
                EXPECT_NE(file.text.find(u"\r\n[" + keyName + u"\\" + subkey + u"]\r\n"),
                          std::u16string::npos)
                    << U8(subkey) << "\n"
                    << U8(file.text);
            }
        }
    }
    EXPECT_EQ(exportsFound, exportsExpected);

    // Summary in the status line and in the box, which adds the log's path.
    const size_t failed = entries.size() - succeeded;
    EXPECT_EQ(U8(summary),
              U8(u"清理完成：成功 " + Number(succeeded) + u"，失败 " + Number(failed)));
    EXPECT_EQ(U8(summaryBox->title), "Tidewell");
    EXPECT_EQ(U8(summaryBox->text), U8(summary + u"\r\n\r\n清理日志：\r\n" + logs[0]));
    EXPECT_TRUE(summaryBox->hasOk);
    EXPECT_EQ(app.progress(), 100);
    ASSERT_TRUE(app.answer(*summaryBox, IDOK));

    // The fresh scan lists exactly what was left.
    const std::vector<TreeNode> after = app.readTree(true);
    ASSERT_FALSE(after.empty());
    const std::multiset<std::u16string> left = LeafLocations(after);
    EXPECT_EQ(left, LeafLocations(unchecked)) << TreeDump(after);
    EXPECT_EQ(U8(after[0].text), U8(u"SolidWorks 扫描结果（" + Number(left.size()) + u" 个项目）"));
    EXPECT_EQ(app.enabled(kCleanButton), !left.empty());

    EXPECT_EQ(app.stop(), 0u);
}

} // namespace
} // namespace tidewell::e2e
