// Registry branches exported with the real reg.exe and deleted in their own view.
#include "RemovalWin32Support.h"
#include "clean/CleanItem.h"
#include "clean/RegistryRemoval.h"
#include "platform/SystemCodes.h"
#include "platform/win32/Win32Platform.h"
#include "support/ChildProcess.h"
#include "support/RunLog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>

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
        // The 32-bit copy is named where it is stored, so that the file restores into its view.
        const std::u16string stored =
            c.view == RegistryView::Bits64
                ? path
                : u"Software\\WOW6432Node" + path.substr(std::u16string(u"Software").size());
        EXPECT_NE(text.find(u"[HKEY_LOCAL_MACHINE\\" + stored + u"]\r\n"), std::u16string::npos)
            << Narrow(text);
        EXPECT_NE(text.find(u"[HKEY_LOCAL_MACHINE\\" + stored + u"\\Sub]\r\n"),
                  std::u16string::npos);
        if (c.view == RegistryView::Bits64) {
            // The other view's copy is a branch of its own and survives.
            EXPECT_TRUE(
                KeyExists(RegistryRoot::LocalMachine, RegistryView::Bits32, path + u"\\Sub"));
        }
    }
    // A plain "reg import" of the 32-bit copy's file, as from a command prompt, brings it back
    // in the 32-bit view and leaves the 64-bit one alone.
    uint32_t exitCode = 1;
    ASSERT_TRUE(RunProcessAndWait(platform,
                                  u"cmd.exe /c reg import \"" + backupFolder + u"\\" +
                                      cases[1].title + u".reg\"",
                                  exitCode, 20000)
                    .ended);
    EXPECT_EQ(exitCode, 0u);
    EXPECT_TRUE(KeyExists(RegistryRoot::LocalMachine, RegistryView::Bits32, path + u"\\Sub"));
    EXPECT_FALSE(KeyExists(RegistryRoot::LocalMachine, RegistryView::Bits64, path));
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

// --- The restore proof: a corpus cleaned through the program and restored from its note ------

using Branch = std::map<std::u16string, std::vector<NamedValue>>; // relative key -> values

// Everything below the key, read through the platform.
void ReadBranch(Platform& platform, RegistryRoot root, RegistryView view,
                const std::u16string& path, const std::u16string& relative, Branch& branch) {
    branch[relative] = platform.listValues(root, view, path).values;
    for (const std::u16string& name : platform.listSubkeys(root, view, path).names) {
        ReadBranch(platform, root, view, path + u"\\" + name, relative + u"\\" + name, branch);
    }
}

std::vector<uint8_t> Units(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

void SetValue(const Key& key, const std::u16string& name, DWORD type,
              const std::vector<uint8_t>& data) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(key.root, AsWide(key.path), 0, nullptr, 0, KEY_ALL_ACCESS | key.view,
                              nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(handle, AsWide(name), 0, type, data.empty() ? nullptr : data.data(),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

// Every value type and every awkward name, as a product leaves them.
void FillWithEveryType(const Key& key, uint8_t seed) {
    std::vector<uint8_t> big(64 * 1024);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 31 + seed);
    }
    SetValue(key, u"", REG_SZ, Units(std::u16string(u"默认\0", 3)));
    SetValue(key, u"Text", REG_SZ, Units(u"C:\\Program Files\\Autodesk" + std::u16string(1, 0)));
    SetValue(key, u"Expand", REG_EXPAND_SZ, Units(u"%ProgramFiles%\\x" + std::u16string(1, 0)));
    SetValue(key, u"Multi", REG_MULTI_SZ, Units(std::u16string(u"a\0\0b c\0\0", 8)));
    SetValue(key, u"Empty binary", REG_BINARY, {});
    SetValue(key, u"Big binary", REG_BINARY, big);
    SetValue(key, u"Number", REG_DWORD, {seed, 0x34, 0x56, 0x78});
    SetValue(key, u"Wide number", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, seed});
    SetValue(key, u"None", REG_NONE, {seed, 0});
    SetValue(key, u"say \"hi\" \\ a=b  中文", REG_SZ, Units(std::u16string(u"\"q\" \\ =\0", 8)));
}

TEST_F(RemovalRegistryWin32Test, EveryBackupRestoresItsBranchFromTheRestoreNote) {
    struct Corpus {
        const char* name;
        RegistryRoot root;
        RegistryView view;
        std::u16string path;
        std::function<void(const Key&)> fill;
        bool wineKeepsIt; // false: Wine's export loses data, so the deletion must be refused
    };
    const auto deep = [](const Key& key) {
        std::u16string path = key.path;
        for (int level = 1; level <= 10; ++level) {
            path += u"\\Level " + Decimal(level);
            SetValue({key.root, key.view, path}, u"Depth", REG_DWORD,
                     {static_cast<uint8_t>(level), 0, 0, 0});
        }
    };
    const auto many = [](const Key& key) {
        for (int i = 0; i < 1000; ++i) {
            SetValue(key, u"Value " + Decimal(i), i % 2 ? REG_SZ : REG_DWORD,
                     i % 2 ? Units(u"text " + Decimal(i) + std::u16string(1, u'\0'))
                           : std::vector<uint8_t>{static_cast<uint8_t>(i), 1, 0, 0});
        }
    };
    const Corpus corpus[] = {
        {"every type, 64-bit view", RegistryRoot::LocalMachine, RegistryView::Bits64,
         path + u"\\Types", [](const Key& k) { FillWithEveryType(k, 64); }, true},
        {"every type, 32-bit view", RegistryRoot::LocalMachine, RegistryView::Bits32,
         path + u"\\Types", [](const Key& k) { FillWithEveryType(k, 32); }, true},
        {"every type, user branch", RegistryRoot::CurrentUser, RegistryView::Bits64,
         path + u"\\Types", [](const Key& k) { FillWithEveryType(k, 7); }, true},
        {"ten levels deep, 32-bit view", RegistryRoot::LocalMachine, RegistryView::Bits32,
         path + u"\\Deep", deep, true},
        {"1,000 values, 64-bit view", RegistryRoot::LocalMachine, RegistryView::Bits64,
         path + u"\\Many", many, true},
        {"REG_SZ without its zero", RegistryRoot::LocalMachine, RegistryView::Bits64,
         path + u"\\Bare",
         [](const Key& k) { SetValue(k, u"Bare", REG_SZ, Units(u"no terminator")); }, false},
    };
    std::map<std::u16string, Branch> before;
    size_t values = 0;
    size_t bytes = 0;
    std::vector<RestoreEntry> restores;
    for (const Corpus& c : corpus) {
        const Key key = At(c.root, c.view, c.path);
        c.fill(key);
        Branch& branch = before[rootPrefix(c.root) + c.path + viewSuffix(c.view)];
        ReadBranch(platform, c.root, c.view, c.path, u"", branch);
        for (const auto& entry : branch) {
            values += entry.second.size();
            for (const NamedValue& value : entry.second) {
                bytes += value.data.size();
            }
        }
        ResidueItem item = Item(c.root, c.view, c.path,
                                u"还原 " + Decimal(GetTickCount64()) + u" " + FromUtf8(c.name));
        item.location = rootPrefix(c.root) + c.path + viewSuffix(c.view);
        const ActionResult result = CleanItem(platform, backupFolder, item);
        NoteRestore(platform, backupFolder, item, result, restores);
        EXPECT_EQ(result.success, c.wineKeepsIt) << c.name << ": " << Narrow(result.message);
        EXPECT_EQ(KeyExists(c.root, c.view, c.path), !c.wineKeepsIt) << c.name;
        if (!c.wineKeepsIt) {
            EXPECT_EQ(result.message.rfind(u"注册表备份与注册表内容不一致，已取消删除：", 0), 0u)
                << Narrow(result.message);
        }
    }
    std::printf(
        "corpus: %zu branches, %zu keys, %zu values, %zu bytes of data\n", std::size(corpus),
        [&] {
            size_t keys = 0;
            for (const auto& b : before)
                keys += b.second.size();
            return keys;
        }(),
        values, bytes);

    // The note's commands, as a user pastes them into an administrator's command prompt: the
    // one of this program's bitness, then the other one (a 32-bit file manager or script host
    // opens SysWOW64\cmd.exe). Each must restore every branch where it was.
    const std::string note = ReadBytes(backupFolder + u"\\恢复说明.txt");
    ASSERT_EQ(note.substr(0, 3), "\xEF\xBB\xBF");
    std::vector<std::u16string> commands;
    for (size_t at = note.find("reg import "); at != std::string::npos;
         at = note.find("reg import ", at + 1)) {
        commands.push_back(FromUtf8(note.substr(at, note.find("\r\n", at) - at)));
    }
    EXPECT_EQ(commands.size(), restores.size());
    const std::u16string windows = platform.windowsDirectory();
    const bool process64 = sizeof(void*) == 8;
    std::vector<std::pair<const char*, std::u16string>> prompts = {
        {process64 ? "64-bit prompt" : "32-bit prompt", windows + u"\\System32\\cmd.exe"}};
    if (platform.runsOn64BitWindows()) {
        const std::u16string other =
            windows + (process64 ? u"\\SysWOW64\\cmd.exe" : u"\\Sysnative\\cmd.exe");
        if (process64 && RunningUnderWine() && !Exists(other)) {
            // A prefix on a machine that cannot run 32-bit programs has no 32-bit side.
            std::printf("no 32-bit command prompt in this prefix: restored from the 64-bit one\n");
        } else {
            prompts.emplace_back(process64 ? "32-bit prompt" : "64-bit prompt", other);
        }
    }
    for (const auto& prompt : prompts) {
        SCOPED_TRACE(prompt.first);
        for (const Corpus& c : corpus) {
            if (c.wineKeepsIt) {
                DeleteKey(At(c.root, c.view, c.path));
                ASSERT_FALSE(KeyExists(c.root, c.view, c.path)) << c.name;
            }
        }
        for (const std::u16string& command : commands) {
            uint32_t exitCode = 1;
            ASSERT_TRUE(RunProcessAndWait(platform, u"\"" + prompt.second + u"\" /c " + command,
                                          exitCode, 60000)
                            .ended);
            EXPECT_EQ(exitCode, 0u) << Narrow(command);
        }
        for (const Corpus& c : corpus) {
            Branch after;
            ReadBranch(platform, c.root, c.view, c.path, u"", after);
            const Branch& original = before[rootPrefix(c.root) + c.path + viewSuffix(c.view)];
            EXPECT_EQ(after.size(), original.size()) << c.name;
            for (const auto& entry : original) {
                const auto restored = after.find(entry.first);
                ASSERT_NE(restored, after.end()) << c.name << Narrow(entry.first);
                EXPECT_EQ(restored->second.size(), entry.second.size()) << c.name;
                for (const NamedValue& value : entry.second) {
                    const auto same =
                        std::find_if(restored->second.begin(), restored->second.end(),
                                     [&](const NamedValue& v) { return v.name == value.name; });
                    ASSERT_NE(same, restored->second.end()) << c.name << " " << Narrow(value.name);
                    EXPECT_EQ(same->type, value.type) << c.name << " " << Narrow(value.name);
                    EXPECT_EQ(same->data, value.data) << c.name << " " << Narrow(value.name);
                }
            }
        }
    }
}

} // namespace
} // namespace tidewell
