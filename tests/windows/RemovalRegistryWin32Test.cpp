// Registry branches exported with the real reg.exe and deleted in their own view.
#include "RemovalWin32Support.h"
#include "clean/RegistryRemoval.h"
#include "platform/SystemCodes.h"
#include "platform/win32/Win32Platform.h"
#include "support/RunLog.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace tidewell {
namespace {

using namespace removaltest;
using win32::AsWide;

Key At(RegistryRoot root, RegistryView view, const std::u16string& path) {
    return {root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
            static_cast<REGSAM>(view), path};
}

// The branch with one subkey, "Sub".
void MakeKey(RegistryRoot root, RegistryView view, const std::u16string& path) {
    ASSERT_EQ(CreateKey(At(root, view, path + u"\\Sub")), ERROR_SUCCESS);
}

bool KeyExists(RegistryRoot root, RegistryView view, const std::u16string& path) {
    return removaltest::KeyExists(At(root, view, path));
}

ResidueItem Item(RegistryRoot root, RegistryView view, const std::u16string& path,
                 const std::u16string& title) {
    ResidueItem item;
    item.kind = ItemKind::RegistryKey;
    item.registryRoot = root;
    item.registryView = view;
    item.registryPath = path;
    item.title = title;
    return item;
}

class RemovalRegistryWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        path = u"Software\\TidewellRemovalTest" + Decimal(GetCurrentProcessId()) + u"_" +
               Decimal(GetTickCount64());
        backupFolder = CreateBackupFolder(platform);
        ASSERT_TRUE(Exists(backupFolder)) << Narrow(backupFolder);
    }
    void TearDown() override {
        for (RegistryRoot root : {RegistryRoot::CurrentUser, RegistryRoot::LocalMachine}) {
            for (RegistryView view : {RegistryView::Bits64, RegistryView::Bits32}) {
                DeleteKey(At(root, view, path));
            }
        }
    }

    Win32Platform platform;
    std::u16string path;
    std::u16string backupFolder;
};

TEST_F(RemovalRegistryWin32Test, EachViewIsExportedAndDeletedOnItsOwn) {
    MakeKey(RegistryRoot::LocalMachine, RegistryView::Bits64, path);
    MakeKey(RegistryRoot::LocalMachine, RegistryView::Bits32, path);
    const std::u16string tag = Decimal(GetTickCount64());
    const struct {
        RegistryView view;
        std::u16string title;
    } cases[] = {
        {RegistryView::Bits64, u"Tidewell 系统注册表 [64位] " + tag},
        {RegistryView::Bits32, u"Tidewell 系统注册表 [32位] " + tag},
    };
    for (const auto& c : cases) {
        const ActionResult result = BackupAndDeleteRegistryKey(
            platform, backupFolder, Item(RegistryRoot::LocalMachine, c.view, path, c.title));
        EXPECT_TRUE(result.success) << Narrow(result.message);
        EXPECT_EQ(result.message, u"注册表已备份并删除");
        EXPECT_FALSE(KeyExists(RegistryRoot::LocalMachine, c.view, path));
        const std::u16string text = Utf16FileText(backupFolder + u"\\" + c.title + u".reg");
        EXPECT_EQ(text.rfind(u"Windows Registry Editor Version 5.00\r\n", 0), 0u) << Narrow(text);
        EXPECT_NE(text.find(u"[HKEY_LOCAL_MACHINE\\" + path + u"]\r\n"), std::u16string::npos)
            << Narrow(text);
        EXPECT_NE(text.find(u"[HKEY_LOCAL_MACHINE\\" + path + u"\\Sub]\r\n"), std::u16string::npos);
        if (c.view == RegistryView::Bits64) {
            // The other view's copy is a branch of its own and survives.
            EXPECT_TRUE(
                KeyExists(RegistryRoot::LocalMachine, RegistryView::Bits32, path + u"\\Sub"));
        }
    }
}

TEST_F(RemovalRegistryWin32Test, BranchSharedByBothViewsIsGoneTheSecondTime) {
    MakeKey(RegistryRoot::CurrentUser, RegistryView::Bits64, path);
    ASSERT_TRUE(KeyExists(RegistryRoot::CurrentUser, RegistryView::Bits32, path));
    const std::u16string tag = Decimal(GetTickCount64());
    const ActionResult first = BackupAndDeleteRegistryKey(
        platform, backupFolder,
        Item(RegistryRoot::CurrentUser, RegistryView::Bits64, path, u"用户 [64位] " + tag));
    const ActionResult second = BackupAndDeleteRegistryKey(
        platform, backupFolder,
        Item(RegistryRoot::CurrentUser, RegistryView::Bits32, path, u"用户 [32位] " + tag));
    EXPECT_EQ(first.message, u"注册表已备份并删除");
    EXPECT_TRUE(second.success);
    EXPECT_EQ(second.message, u"注册表项已不存在");
    EXPECT_TRUE(Exists(backupFolder + u"\\用户 [64位] " + tag + u".reg"));
    EXPECT_FALSE(Exists(backupFolder + u"\\用户 [32位] " + tag + u".reg"));
}

TEST_F(RemovalRegistryWin32Test, SameTitleKeepsEveryBackup) {
    const std::u16string title = u"Oracle Client " + Decimal(GetTickCount64());
    const std::u16string first = path + u"\\{A1}";
    const std::u16string second = path + u"\\{A2}";
    MakeKey(RegistryRoot::LocalMachine, RegistryView::Bits64, first);
    MakeKey(RegistryRoot::LocalMachine, RegistryView::Bits64, second);
    for (const auto& key : {first, second}) {
        EXPECT_EQ(BackupAndDeleteRegistryKey(
                      platform, backupFolder,
                      Item(RegistryRoot::LocalMachine, RegistryView::Bits64, key, title))
                      .message,
                  u"注册表已备份并删除");
    }
    EXPECT_NE(Utf16FileText(backupFolder + u"\\" + title + u".reg").find(first + u"]"),
              std::u16string::npos);
    EXPECT_NE(Utf16FileText(backupFolder + u"\\" + title + u" (2).reg").find(second + u"]"),
              std::u16string::npos);
}

TEST_F(RemovalRegistryWin32Test, TitleThatNamesADeviceStillGetsARealBackup) {
    MakeKey(RegistryRoot::LocalMachine, RegistryView::Bits64, path);
    const std::u16string tag = Decimal(GetTickCount64());
    const ActionResult result = BackupAndDeleteRegistryKey(
        platform, backupFolder,
        Item(RegistryRoot::LocalMachine, RegistryView::Bits64, path, u"NUL." + tag));
    EXPECT_EQ(result.message, u"注册表已备份并删除");
    EXPECT_NE(Utf16FileText(backupFolder + u"\\_NUL." + tag + u".reg")
                  .find(u"[HKEY_LOCAL_MACHINE\\" + path + u"\\Sub]\r\n"),
              std::u16string::npos);
}

TEST_F(RemovalRegistryWin32Test, FailedExportLeavesTheBranch) {
    MakeKey(RegistryRoot::LocalMachine, RegistryView::Bits64, path);
    // reg.exe cannot write into a folder that does not exist and exits with 1.
    const ActionResult result = BackupAndDeleteRegistryKey(
        platform, backupFolder + u"\\missing",
        Item(RegistryRoot::LocalMachine, RegistryView::Bits64, path, u"t"));
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message, u"注册表备份失败，已取消删除");
    EXPECT_TRUE(KeyExists(RegistryRoot::LocalMachine, RegistryView::Bits64, path + u"\\Sub"));
}

} // namespace
} // namespace tidewell
