#include "clean/RegistryRemoval.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeRegExport.h"
#include "support/RegFile.h"
#include "support/Text.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

const std::u16string kBackup = u"D:\\B";
const std::u16string kTool = u"C:\\Windows\\System32\\reg.exe";
const std::u16string kBackupFailed = u"注册表备份失败，已取消删除";
const std::u16string kDeleted = u"注册表已备份并删除";
const std::u16string kGone = u"注册表项已不存在";

ResidueItem RegistryItem(RegistryRoot root, RegistryView view, const std::u16string& path,
                         const std::u16string& title) {
    ResidueItem item;
    item.kind = ItemKind::RegistryKey;
    item.registryRoot = root;
    item.registryView = view;
    item.registryPath = path;
    item.title = title;
    item.location = rootPrefix(root) + path;
    return item;
}

// reg.exe in place, acting on the machine, and the run's backup folder made.
void Equip(FakePlatform& machine) {
    machine.addFile(kTool);
    machine.addDirectory(kBackup);
    machine.onChild(FakeRegExport(machine));
}

// Replaces the export by a child that ends with `exitCode` after `runMilliseconds`.
void ExportBehaves(FakePlatform& machine, uint32_t exitCode, uint32_t runMilliseconds) {
    machine.onChild([=](const std::u16string&) {
        FakeChildBehaviour behaviour;
        behaviour.exitCode = exitCode;
        behaviour.runMilliseconds = runMilliseconds;
        return behaviour;
    });
}

// The real export, taking `runMilliseconds`.
void ExportTakes(FakePlatform& machine, uint32_t runMilliseconds) {
    machine.onChild([&machine, runMilliseconds](const std::u16string& line) {
        FakeChildBehaviour behaviour = FakeRegExport(machine)(line);
        behaviour.runMilliseconds = runMilliseconds;
        return behaviour;
    });
}

bool DeletedAnything(const FakePlatform& machine) {
    for (const auto& entry : machine.journal) {
        if (entry.rfind(u"deleteTree", 0) == 0) {
            return true;
        }
    }
    return false;
}

class RegistryRemovalTest : public ::testing::Test {
protected:
    RegistryRemovalTest() { Equip(machine); }
    FakePlatform machine;
};

TEST_F(RegistryRemovalTest, SanitizeFileName) {
    const std::u16string seventy(70, u'x');
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"<>:\"/\\|?*", u"_________"},
        {u"a:b/c", u"a_b_c"},
        {u"Oracle 系统注册表 [32位]", u"Oracle 系统注册表 [32位]"},
        {u"全角：／＊ stay", u"全角：／＊ stay"},
        {u"tab\there\x01", u"tab\there\x01"},
        {u" trailing. ", u" trailing. "},
        {seventy, seventy},
        {std::u16string(100, u'y'), std::u16string(70, u'y')},
        {std::u16string(80, u'*'), std::u16string(70, u'_')},
        {std::u16string(69, u'z') + u"  ", std::u16string(69, u'z') + u" "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SanitizeFileName(c.first), c.second) << ToUtf8(c.first);
    }
}

TEST_F(RegistryRemovalTest, ExportCommandPieces) {
    struct Case {
        RegistryRoot root;
        RegistryView view;
        std::u16string windows;
        std::u16string title;
        std::u16string expected;
    };
    const Case cases[] = {
        {RegistryRoot::CurrentUser, RegistryView::Bits64, u"C:\\Windows", u"AutoCAD 用户注册表",
         u"\"C:\\Windows\\System32\\reg.exe\" export \"HKCU\\Software\\Autodesk\" "
         u"\"D:\\B\\AutoCAD 用户注册表.reg\" /y /reg:64"},
        {RegistryRoot::None, RegistryView::None, u"C:\\WINNT\\", u"a:b/c",
         u"\"C:\\WINNT\\System32\\reg.exe\" export \"HKLM\\Software\\WOW6432Node\\Autodesk\" "
         u"\"D:\\B\\a_b_c.reg\" /y /reg:64"},
        {RegistryRoot::LocalMachine, static_cast<RegistryView>(0x300), u"", u"x",
         u"\"System32\\reg.exe\" export \"HKLM\\Software\\WOW6432Node\\Autodesk\" "
         u"\"D:\\B\\x.reg\" /y /reg:64"},
        {RegistryRoot::LocalMachine, RegistryView::Bits64, u"C:\\Windows",
         std::u16string(100, u'n'),
         u"\"C:\\Windows\\System32\\reg.exe\" export \"HKLM\\Software\\Autodesk\" \"D:\\B\\" +
             std::u16string(70, u'n') + u".reg\" /y /reg:64"},
    };
    for (const Case& c : cases) {
        const ResidueItem item = RegistryItem(c.root, c.view, u"Software\\Autodesk", c.title);
        EXPECT_EQ(RegistryExportCommand(c.windows, ExportedKeyOf(item, true),
                                        JoinPath(kBackup, SanitizeFileName(c.title) + u".reg")),
                  c.expected);
    }

    // On 64-bit Windows a 32-bit-view branch of HKLM\Software is exported where it is stored.
    const struct {
        RegistryRoot root;
        RegistryView view;
        std::u16string path;
        bool on64Bit;
        std::u16string exported;
        std::u16string viewSwitch;
    } keys[] = {
        {RegistryRoot::LocalMachine, RegistryView::Bits32, u"Software\\Oracle", true,
         u"Software\\WOW6432Node\\Oracle", u"/reg:64"},
        // 32-bit Windows has one view, and its reg.exe no view switch.
        {RegistryRoot::LocalMachine, RegistryView::Bits32, u"SOFTWARE\\Oracle", false,
         u"SOFTWARE\\Oracle", u""},
        {RegistryRoot::CurrentUser, RegistryView::Bits64, u"Software\\Oracle", false,
         u"Software\\Oracle", u""},
        {RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\Oracle", true,
         u"Software\\Oracle", u"/reg:64"},
        {RegistryRoot::CurrentUser, RegistryView::Bits32, u"Software\\Oracle", true,
         u"Software\\Oracle", u"/reg:32"},
        {RegistryRoot::LocalMachine, RegistryView::Bits32, u"software\\Wow6432Node\\Oracle", true,
         u"software\\Wow6432Node\\Oracle", u"/reg:32"},
        {RegistryRoot::LocalMachine, RegistryView::Bits32, u"System\\Oracle", true,
         u"System\\Oracle", u"/reg:32"},
        {RegistryRoot::LocalMachine, RegistryView::Bits32, u"Software\\Wow6432NodeX", true,
         u"Software\\WOW6432Node\\Wow6432NodeX", u"/reg:64"},
    };
    for (const auto& c : keys) {
        const ExportedKey key =
            ExportedKeyOf(RegistryItem(c.root, c.view, c.path, u"t"), c.on64Bit);
        EXPECT_EQ(key.path, c.exported) << ToUtf8(c.path);
        EXPECT_EQ(key.viewSwitch, c.viewSwitch) << ToUtf8(c.path);
    }

    // The tool path comes from the system; an unreadable Windows directory leaves it relative,
    // and a relative path is not started: it would be found from the current folder.
    machine.addKey(RegistryRoot::CurrentUser, RegistryView::Bits64, u"Software\\Autodesk");
    machine.failCall(FakeCall::WindowsDirectory, codes::kAccessDenied);
    const ActionResult result = BackupAndDeleteRegistryKey(
        machine, kBackup,
        RegistryItem(RegistryRoot::CurrentUser, RegistryView::Bits64, u"Software\\Autodesk", u"x"));
    EXPECT_TRUE(machine.childCommandLines.empty());
    EXPECT_EQ(result.message, kBackupFailed);
    EXPECT_TRUE(
        machine.keyExists(RegistryRoot::CurrentUser, RegistryView::Bits64, u"Software\\Autodesk"));
}

TEST_F(RegistryRemovalTest, ExportsThenDeletesInItsOwnViewOnly) {
    for (RegistryView view : {RegistryView::Bits64, RegistryView::Bits32}) {
        machine.addKey(RegistryRoot::LocalMachine, view, u"Software\\Autodesk\\AutoCAD\\R24.3");
        machine.setStringValue(RegistryRoot::LocalMachine, view, u"Software\\Autodesk", u"Path",
                               u"C:\\x");
    }
    const ResidueItem item = RegistryItem(RegistryRoot::LocalMachine, RegistryView::Bits64,
                                          u"Software\\Autodesk", u"AutoCAD 系统注册表 [64位]");

    const ActionResult result = BackupAndDeleteRegistryKey(machine, kBackup, item);

    EXPECT_TRUE(result.success) << machine.dump();
    EXPECT_EQ(result.message, kDeleted);
    EXPECT_FALSE(result.rebootPending);
    EXPECT_FALSE(
        machine.keyExists(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\Autodesk"));
    EXPECT_TRUE(machine.keyExists(RegistryRoot::LocalMachine, RegistryView::Bits32,
                                  u"Software\\Autodesk\\AutoCAD\\R24.3"));
    const std::u16string file = u"D:\\B\\AutoCAD 系统注册表 [64位].reg";
    EXPECT_EQ(machine.fileContents(file),
              FormatRegFile({{u"HKEY_LOCAL_MACHINE\\Software\\Autodesk",
                              {{u"Path", codes::kRegSz, {'C', 0, ':', 0, '\\', 0, 'x', 0, 0, 0}}}},
                             {u"HKEY_LOCAL_MACHINE\\Software\\Autodesk\\AutoCAD", {}},
                             {u"HKEY_LOCAL_MACHINE\\Software\\Autodesk\\AutoCAD\\R24.3", {}}}));
    // The backup is written before anything is deleted.
    const std::vector<std::u16string> expected = {u"startHidden " + machine.childCommandLines.at(0),
                                                  u"writeFile " + file,
                                                  u"deleteTree HKLM\\Software\\Autodesk [64位]"};
    EXPECT_EQ(machine.journal, expected);

    // The 32-bit copy is a branch of its own, with a file of its own that names it where it is
    // stored.
    const ActionResult second = BackupAndDeleteRegistryKey(
        machine, kBackup,
        RegistryItem(RegistryRoot::LocalMachine, RegistryView::Bits32, u"Software\\Autodesk",
                     u"AutoCAD 系统注册表 [32位]"));
    EXPECT_EQ(second.message, kDeleted);
    EXPECT_FALSE(
        machine.keyExists(RegistryRoot::LocalMachine, RegistryView::Bits32, u"Software\\Autodesk"));
    EXPECT_TRUE(machine.exists(u"D:\\B\\AutoCAD 系统注册表 [32位].reg"));
    ASSERT_EQ(machine.childCommandLines.size(), 2u);
    EXPECT_EQ(
        machine.childCommandLines[1],
        u"\"C:\\Windows\\System32\\reg.exe\" export \"HKLM\\Software\\WOW6432Node\\Autodesk\" "
        u"\"D:\\B\\AutoCAD 系统注册表 [32位].reg\" /y /reg:64");
    EXPECT_EQ(second.backupFile, u"D:\\B\\AutoCAD 系统注册表 [32位].reg");
}

// Without a finished export nothing is deleted; with one, the backup stays whatever follows.
TEST(RegistryBackupTest, EveryRowOfTheResultTable) {
    struct Case {
        const char* name;
        std::function<void(FakePlatform&)> prepare;
        bool success;
        std::u16string message;
    };
    const Case cases[] = {
        {"deleted", [](FakePlatform&) {}, true, kDeleted},
        {"export takes the whole 20000 ms limit", [](FakePlatform& m) { ExportTakes(m, 20000); },
         true, kDeleted},
        {"export exits 1", [](FakePlatform& m) { ExportBehaves(m, 1, 100); }, false, kBackupFailed},
        {"export exits 3010", [](FakePlatform& m) { ExportBehaves(m, 3010, 100); }, false,
         kBackupFailed},
        {"export exits 0 but leaves no file", [](FakePlatform& m) { ExportBehaves(m, 0, 100); },
         false, kBackupFailed},
        {"export outlives 20000 ms", [](FakePlatform& m) { ExportTakes(m, 20001); }, false,
         kBackupFailed},
        {"export hangs", [](FakePlatform& m) { ExportBehaves(m, 0, codes::kInfinite); }, false,
         kBackupFailed},
        {"export tool cannot start",
         [](FakePlatform& m) { m.failCall(FakeCall::StartHidden, codes::kFileNotFound); }, false,
         kBackupFailed},
        {"reg.exe not on disk", [](FakePlatform& m) { m.deleteFile(kTool); }, false, kBackupFailed},
        {"wait fails", [](FakePlatform& m) { m.failCall(FakeCall::WaitForChild, 6); }, false,
         kBackupFailed},
        {"backup folder could not be created", [](FakePlatform& m) { m.removeDirectory(kBackup); },
         false, kBackupFailed},
        {"removed by someone else after the export",
         [](FakePlatform& m) {
             m.onChild([&m](const std::u16string& line) {
                 FakeChildBehaviour behaviour = FakeRegExport(m)(line);
                 auto write = behaviour.sideEffect;
                 behaviour.sideEffect = [&m, write] {
                     write();
                     m.deleteTree(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software",
                                  u"Oracle");
                 };
                 return behaviour;
             });
         },
         true, kGone},
        {"deletion refused",
         [](FakePlatform& m) { m.failCall(FakeCall::DeleteTree, codes::kAccessDenied); }, false,
         u"Access is denied."},
        {"deletion refused with a code the system has no text for",
         [](FakePlatform& m) { m.failCall(FakeCall::DeleteTree, 4242); }, false, u"未知错误"},
        {"opening for a look refused: goes on",
         [](FakePlatform& m) { m.failCall(FakeCall::OpenKeyForRead, codes::kAccessDenied); }, true,
         kDeleted},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        Equip(machine);
        machine.addKey(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\Oracle\\KEY");
        c.prepare(machine);
        const ActionResult result = BackupAndDeleteRegistryKey(
            machine, kBackup,
            RegistryItem(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\Oracle",
                         u"Oracle"));
        EXPECT_EQ(result.success, c.success) << c.name << "\n" << machine.dump();
        EXPECT_EQ(result.message, c.message) << c.name << ": " << ToUtf8(result.message);
        EXPECT_FALSE(result.rebootPending) << c.name;
        EXPECT_EQ(machine.childCommandLines.size(), 1u) << c.name;
        EXPECT_EQ(machine.keyExists(RegistryRoot::LocalMachine, RegistryView::Bits64,
                                    u"Software\\Oracle"),
                  !c.success)
            << c.name;
        if (c.message == kBackupFailed) {
            EXPECT_FALSE(DeletedAnything(machine)) << c.name << "\n" << machine.dump();
        } else {
            EXPECT_TRUE(machine.exists(u"D:\\B\\Oracle.reg")) << c.name;
        }
    }
}

TEST_F(RegistryRemovalTest, BranchSharedByBothViewsIsReportedGoneTheSecondTime) {
    machine.addKey(RegistryRoot::CurrentUser, RegistryView::Bits64, u"Software\\Oracle");
    const ActionResult first =
        BackupAndDeleteRegistryKey(machine, kBackup,
                                   RegistryItem(RegistryRoot::CurrentUser, RegistryView::Bits64,
                                                u"Software\\Oracle", u"Oracle 用户注册表 [64位]"));
    const ActionResult second =
        BackupAndDeleteRegistryKey(machine, kBackup,
                                   RegistryItem(RegistryRoot::CurrentUser, RegistryView::Bits32,
                                                u"Software\\Oracle", u"Oracle 用户注册表 [32位]"));
    EXPECT_EQ(first.message, kDeleted);
    EXPECT_TRUE(second.success);
    EXPECT_EQ(second.message, kGone);
    // No export was tried for the branch that is gone.
    EXPECT_EQ(machine.childCommandLines.size(), 1u);
}

TEST_F(RegistryRemovalTest, PathWithoutBackslashIsALeafOfTheRoot) {
    machine.addKey(RegistryRoot::CurrentUser, RegistryView::Bits64, u"Foo\\Bar");
    const ActionResult result = BackupAndDeleteRegistryKey(
        machine, kBackup,
        RegistryItem(RegistryRoot::CurrentUser, RegistryView::Bits64, u"Foo", u"Foo"));
    EXPECT_EQ(result.message, kDeleted) << machine.dump();
    EXPECT_EQ(machine.journal.back(), u"deleteTree HKCU\\Foo [64位]");
    EXPECT_FALSE(machine.keyExists(RegistryRoot::CurrentUser, RegistryView::Bits64, u"Foo"));
}

TEST_F(RegistryRemovalTest, UnsafePathsAreRefusedWithoutExport) {
    struct Case {
        const char* name;
        std::u16string folder;
        std::u16string path;
    };
    const Case cases[] = {
        {"quote in the key", kBackup, u"Software\\Odd\" \"C:\\x"},
        {"quote in the backup folder", u"D:\\B\"", u"Software\\Plain"},
        {"trailing backslash", kBackup, u"Software\\Plain\\"},
    };
    for (const Case& c : cases) {
        machine.addKey(RegistryRoot::LocalMachine, RegistryView::Bits64, c.path);
        machine.addDirectory(c.folder);
        const size_t startsBefore = machine.childCommandLines.size();
        const ActionResult result = BackupAndDeleteRegistryKey(
            machine, c.folder,
            RegistryItem(RegistryRoot::LocalMachine, RegistryView::Bits64, c.path, u"t"));
        EXPECT_FALSE(result.success) << c.name;
        EXPECT_EQ(result.message, kBackupFailed) << c.name;
        EXPECT_EQ(machine.childCommandLines.size(), startsBefore) << c.name;
        EXPECT_FALSE(DeletedAnything(machine)) << c.name;
    }
}

// Backup files are named after the item's title: characters a file name cannot hold become
// '_', a title taken earlier in the run gets the next free number, and a name that would go to a
// device (CON.reg, nul.x.reg: reg.exe would still exit 0) gets a leading '_'.
TEST_F(RegistryRemovalTest, BackupFileNames) {
    machine.addFile(u"D:\\B\\Oracle Client 19c (2).reg"); // taken by an earlier item of the run
    std::vector<std::pair<std::u16string, std::u16string>> cases = {
        {u"say \"hi\"", u"say _hi_.reg"},
        {u"Oracle Client 19c", u"Oracle Client 19c.reg"},
        {u"Oracle Client 19c", u"Oracle Client 19c (3).reg"},
        {u"Oracle Client 19c", u"Oracle Client 19c (4).reg"}};
    const std::pair<std::u16string, std::u16string> devices[] = {
        {u"CON", u"_CON.reg"},         {u"nul", u"_nul.reg"},    {u"Aux.x", u"_Aux.x.reg"},
        {u"PRN  .y", u"_PRN  .y.reg"}, {u"com1", u"_com1.reg"},  {u"LPT9", u"_LPT9.reg"},
        {u"CONOUT$", u"_CONOUT$.reg"}, {u"COM10", u"COM10.reg"}, {u"LPT0", u"LPT0.reg"},
        {u"CONSOLE", u"CONSOLE.reg"},  {u"x.CON", u"x.CON.reg"}, {u" NUL", u" NUL.reg"},
    };
    cases.insert(cases.end(), std::begin(devices), std::end(devices));
    int number = 0;
    for (const auto& c : cases) {
        const std::u16string path = u"Software\\Item" + ToDecimal(++number);
        machine.addKey(RegistryRoot::LocalMachine, RegistryView::Bits64, path);
        const ActionResult result = BackupAndDeleteRegistryKey(
            machine, kBackup,
            RegistryItem(RegistryRoot::LocalMachine, RegistryView::Bits64, path, c.first));
        EXPECT_EQ(result.message, kDeleted) << ToUtf8(c.first);
        EXPECT_TRUE(machine.fileContents(JoinPath(kBackup, c.second)).value_or("").size() > 2)
            << ToUtf8(c.second) << "\n"
            << machine.dump();
    }
}

TEST(FakeRegExportTest, ActsAsTheExportTool) {
    const std::pair<std::u16string, std::vector<std::u16string>> splits[] = {
        {u"\"C:\\Program Files\\x.exe\" a \"b c\" d",
         {u"C:\\Program Files\\x.exe", u"a", u"b c", u"d"}},
        {u"x.exe \"a\\\"b\" c\\\\\"d e\"", {u"x.exe", u"a\"b", u"c\\d e"}},
        {u"x.exe \"HKLM\\Soft\\\" \"D:\\f.reg\"", {u"x.exe", u"HKLM\\Soft\" D:\\f.reg"}},
    };
    for (const auto& c : splits) {
        EXPECT_EQ(SplitCommandLine(c.first), c.second) << ToUtf8(c.first);
    }

    FakePlatform machine;
    machine.addFile(kTool);
    machine.addDirectory(kBackup);
    machine.addFile(u"D:\\B\\old.reg", "old");
    machine.addKey(RegistryRoot::LocalMachine, RegistryView::Bits32, u"Software\\Oracle");
    const FakeChildHandler handler = FakeRegExport(machine);
    struct Case {
        std::u16string arguments;
        uint32_t exitCode;
        uint32_t runMilliseconds;
    };
    const Case cases[] = {
        {u"export HKLM\\Software\\Oracle D:\\B\\o.reg /y /reg:32", 0, 150},
        {u"export HKLM\\Software\\Oracle D:\\B\\o.reg /y /reg:64", 1, 150},
        {u"export HKCU\\Software\\Oracle D:\\B\\o.reg /y /reg:32", 1, 150},
        {u"export HKLM\\Software\\Oracle D:\\Nowhere\\o.reg /y /reg:32", 1, 150},
        {u"export HKLM\\Software\\Oracle D:\\B\\old.reg /reg:32", 0, codes::kInfinite},
        {u"query HKLM\\Software\\Oracle", 1, 150},
    };
    for (const Case& c : cases) {
        const FakeChildBehaviour behaviour = handler(u"\"" + kTool + u"\" " + c.arguments);
        EXPECT_EQ(behaviour.startError, 0u) << ToUtf8(c.arguments);
        EXPECT_EQ(behaviour.exitCode, c.exitCode) << ToUtf8(c.arguments);
        EXPECT_EQ(behaviour.runMilliseconds, c.runMilliseconds) << ToUtf8(c.arguments);
        EXPECT_EQ(static_cast<bool>(behaviour.sideEffect),
                  c.exitCode == 0 && c.runMilliseconds != codes::kInfinite);
    }
    EXPECT_EQ(handler(u"\"C:\\Windows\\System32\\notepad.exe\"").startError, codes::kFileNotFound);
    EXPECT_EQ(handler(u"\"C:\\Elsewhere\\reg.exe\" export HKLM\\Software\\Oracle D:\\B\\o.reg")
                  .startError,
              codes::kFileNotFound);
}

} // namespace
} // namespace tidewell

namespace tidewell {
namespace {

std::string Utf16File(const std::u16string& text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

TEST(RegFileTest, ValueFormsContinuationsEscapesAndMalformedLines) {
    const std::u16string head =
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n";
    struct Case {
        std::u16string line; // after the section line
        size_t errorLine;    // 0: parses
        std::u16string name; // of the one value
        uint32_t type;
        std::vector<uint8_t> data;
    };
    const Case cases[] = {
        {u"@=\"x\"", 0, u"", 1, {'x', 0, 0, 0}},
        {u"\"a\\\\b\\\"c=\"=\"C:\\\\\\\"\"",
         0,
         u"a\\b\"c=",
         1,
         {'C', 0, ':', 0, '\\', 0, '"', 0, 0, 0}},
        {u"\"n\"=\"l1\\nl2\\r\"",
         0,
         u"n",
         1,
         {'l', 0, '1', 0, '\n', 0, 'l', 0, '2', 0, '\r', 0, 0, 0}},
        {u"\"中 文\"=\"\"", 0, u"中 文", 1, {0, 0}},
        {u"\"d\"=dword:0000ABcd", 0, u"d", 4, {0xcd, 0xab, 0, 0}},
        {u"\"b\"=hex:", 0, u"b", 3, {}},
        {u"\"b\"=hex:00,ff,\\\r\n  10", 0, u"b", 3, {0, 0xff, 0x10}},
        {u"\"m\"=hex(7):61,00,00,00,\\\r\n  00,00", 0, u"m", 7, {0x61, 0, 0, 0, 0, 0}},
        {u"\"q\"=hex(b):01,02,03,04,05,06,07,08", 0, u"q", 11, {1, 2, 3, 4, 5, 6, 7, 8}},
        {u"\"z\"=hex(0):", 0, u"z", 0, {}},
        {u"\"x\"=hex(ffff0001):aa", 0, u"x", 0xffff0001, {0xaa}},
        {u"\"s\"=\"open", 4, u"", 0, {}},
        {u"\"s\"=\"a\\tb\"", 4, u"", 0, {}},
        {u"\"s\"=\"a\" ", 4, u"", 0, {}},
        {u"\"d\"=dword:123", 4, u"", 0, {}},
        {u"\"b\"=hex:0g", 4, u"", 0, {}},
        {u"\"b\"=hex:00,,01", 4, u"", 0, {}},
        {u"\"b\"=hex:00,\\", 4, u"", 0, {}},
        {u"\"b\"=hex():00", 4, u"", 0, {}},
        {u"\"r\"=-", 4, u"", 0, {}},
        {u"\"\"=\"default?\"", 4, u"", 0, {}},
        {u"name=\"x\"", 4, u"", 0, {}},
        {u"[-HKEY_CURRENT_USER\\A]", 4, u"", 0, {}},
        {u"[HKEY_CURRENT_USER\\B", 4, u"", 0, {}},
    };
    for (const Case& c : cases) {
        const RegFile file = ParseRegFile(Utf16File(head + c.line + u"\r\n"));
        EXPECT_EQ(file.parsed, c.errorLine == 0) << ToUtf8(c.line);
        EXPECT_EQ(file.errorLine, c.errorLine) << ToUtf8(c.line);
        if (c.errorLine == 0 && file.keys.size() == 1 && file.keys[0].values.size() == 1) {
            const RegFileValue& value = file.keys[0].values[0];
            EXPECT_EQ(value.name, c.name) << ToUtf8(c.line);
            EXPECT_EQ(value.type, c.type) << ToUtf8(c.line);
            EXPECT_EQ(value.data, c.data) << ToUtf8(c.line);
        } else {
            EXPECT_NE(c.errorLine, 0u) << ToUtf8(c.line);
        }
    }
    // The encoding and the header line.
    EXPECT_EQ(ParseRegFile("").errorLine, 1u);
    EXPECT_EQ(ParseRegFile(Utf16File(u"Windows Registry Editor Version 5.00\r\n")).parsed, true);
    EXPECT_FALSE(ParseRegFile(Utf16File(u"REGEDIT4\r\n")).parsed);
    EXPECT_FALSE(ParseRegFile(Utf16File(u"Windows Registry Editor Version 5.00") + "x").parsed);
    EXPECT_EQ(
        ParseRegFile(Utf16File(u"Windows Registry Editor Version 5.00\r\n\"v\"=\"x\"")).errorLine,
        2u);
}

// The file reg.exe wrote is read back and compared with the branch before anything is deleted.
TEST(RegistryBackupTest, ABackupThatDiffersFromTheBranchCancelsTheDeletion) {
    const std::u16string mismatch = u"注册表备份与注册表内容不一致，已取消删除：";
    struct Case {
        const char* name;
        std::function<void(FakePlatform&)> prepare;  // the branch's content
        std::function<void(std::u16string&)> tamper; // what happens to the written file
        std::u16string message;
    };
    const auto replace = [](const std::u16string& from, const std::u16string& to) {
        return [from, to](std::u16string& text) { text.replace(text.find(from), from.size(), to); };
    };
    const auto value = [](std::u16string name, uint32_t type, std::vector<uint8_t> data) {
        return [=](FakePlatform& m) {
            m.setValue(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\Oracle\\KEY",
                       name, type, data);
        };
    };
    const Case cases[] = {
        {"every type as written",
         [](FakePlatform& m) {
             for (uint32_t type : {0u, 2u, 3u, 4u, 7u, 11u}) {
                 m.setValue(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\Oracle",
                            u"v" + ToDecimal(type), type, std::vector<uint8_t>(type * 40, 0x41));
             }
             m.setStringValue(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\Oracle",
                              u"", u"默认");
         },
         [](std::u16string&) {}, kDeleted},
        {"REG_SZ stored without its zero", value(u"s", 1, {'a', 0}), [](std::u16string&) {},
         kDeleted},
        {"REG_SZ that loses its last character", value(u"s", 1, {'a', 0, 'b', 0}),
         replace(u"\"ab\"", u"\"a\""),
         mismatch + u"值“s”与备份不同（HKEY_LOCAL_MACHINE\\Software\\Oracle\\KEY）"},
        {"REG_SZ with a zero inside", value(u"s", 1, {'a', 0, 0, 0, 'b', 0, 0, 0}),
         [](std::u16string&) {},
         mismatch + u"值“s”与备份不同（HKEY_LOCAL_MACHINE\\Software\\Oracle\\KEY）"},
        {"DWORD of other data", value(u"d", 4, {1, 0, 0, 0}),
         replace(u"dword:00000001", u"dword:00000002"),
         mismatch + u"值“d”与备份不同（HKEY_LOCAL_MACHINE\\Software\\Oracle\\KEY）"},
        {"type changed", value(u"d", 4, {1, 0, 0, 0}),
         replace(u"dword:00000001", u"hex:01,00,00,00"),
         mismatch + u"值“d”与备份不同（HKEY_LOCAL_MACHINE\\Software\\Oracle\\KEY）"},
        {"value left out", value(u"gone", 3, {1}), replace(u"\"gone\"=hex:01\r\n", u""),
         mismatch + u"备份中缺少值“gone”（HKEY_LOCAL_MACHINE\\Software\\Oracle\\KEY）"},
        {"value added", [](FakePlatform&) {},
         replace(u"[HKEY_LOCAL_MACHINE\\Software\\Oracle]\r\n",
                 u"[HKEY_LOCAL_MACHINE\\Software\\Oracle]\r\n@=\"x\"\r\n"),
         mismatch + u"备份中多出默认值（HKEY_LOCAL_MACHINE\\Software\\Oracle）"},
        {"subkey left out", [](FakePlatform&) {},
         replace(u"[HKEY_LOCAL_MACHINE\\Software\\Oracle\\KEY]", u""),
         mismatch + u"备份中缺少 HKEY_LOCAL_MACHINE\\Software\\Oracle\\KEY"},
        {"subkey added", [](FakePlatform&) {},
         [](std::u16string& t) { t += u"[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"; },
         mismatch + u"备份中多出 HKEY_LOCAL_MACHINE\\Software\\Other"},
        {"file that does not parse", [](FakePlatform&) {},
         replace(u"]\r\n\r\n[", u"]\r\nnonsense\r\n["),
         u"注册表备份文件无法解析，已取消删除：第 4 行"},
        {"branch that cannot be read",
         [](FakePlatform& m) { m.failCall(FakeCall::ListValues, codes::kAccessDenied, u"KEY"); },
         [](std::u16string&) {}, u"注册表备份无法核对，已取消删除：Access is denied."},
        {"file that cannot be read back",
         [](FakePlatform& m) { m.failCall(FakeCall::ReadFile, codes::kSharingViolation); },
         [](std::u16string&) {}, kBackupFailed},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        Equip(machine);
        machine.addKey(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\Oracle\\KEY");
        c.prepare(machine);
        machine.onChild([&machine, &c](const std::u16string& line) {
            FakeChildBehaviour behaviour = FakeRegExport(machine)(line);
            auto write = behaviour.sideEffect;
            behaviour.sideEffect = [&machine, &c, write] {
                write();
                const std::string bytes = machine.fileContents(u"D:\\B\\Oracle.reg").value();
                std::u16string text;
                for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
                    text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                                  (static_cast<uint8_t>(bytes[i + 1]) << 8));
                }
                c.tamper(text);
                machine.writeFile(u"D:\\B\\Oracle.reg", Utf16File(text));
            };
            return behaviour;
        });
        const ActionResult result = BackupAndDeleteRegistryKey(
            machine, kBackup,
            RegistryItem(RegistryRoot::LocalMachine, RegistryView::Bits64, u"Software\\Oracle",
                         u"Oracle"));
        EXPECT_EQ(result.message, c.message)
            << c.name << ": " << ToUtf8(result.message) << "\n"
            << machine.fileContents(u"D:\\B\\Oracle.reg").value_or("");
        EXPECT_EQ(result.success, c.message == kDeleted) << c.name;
        EXPECT_EQ(DeletedAnything(machine), c.message == kDeleted) << c.name;
        EXPECT_EQ(result.backupFile.empty(), c.message != kDeleted) << c.name;
    }
}

} // namespace
} // namespace tidewell
