#include "support/RunLog.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

const std::u16string kDesktop = u"C:\\Users\\u\\Desktop";
const std::u16string kDocuments = u"C:\\Users\\u\\Documents";

std::u16string WriteRunLog(Platform& platform, const std::u16string& title,
                           const std::u16string& body) {
    RunLogFile log(platform, title);
    log.append(body);
    return log.finish();
}

TEST(RunLogTest, TimeStampsCarryLeadingZeros) {
    const std::pair<LocalTime, std::u16string> cases[] = {
        {{2025, 3, 7, 9, 17, 33}, u"20250307_091733"},
        {{2025, 3, 7, 9, 15, 2}, u"20250307_091502"},
        {{2024, 12, 31, 23, 59, 59}, u"20241231_235959"},
        {{2026, 1, 1, 0, 0, 0}, u"20260101_000000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TimeStamp(c.first), c.second);
    }
}

TEST(RunLogTest, BackupFolderUnderDocumentsOrElseRelative) {
    struct Case {
        const char* what;
        bool documents;
        bool creatable;
        std::u16string returned;
        std::u16string made; // empty: nothing may be made
    };
    const std::u16string stamped = u"TidewellBackup\\20250307_091502";
    const Case cases[] = {
        {"under Documents", true, true, kDocuments + u"\\" + stamped, kDocuments + u"\\" + stamped},
        {"returned even when it cannot be made", true, false, kDocuments + u"\\" + stamped, u""},
        {"without Documents: relative to the current folder", false, true, stamped,
         u"C:\\Work\\" + stamped},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.setLocalTime({2025, 3, 7, 9, 15, 2});
        machine.setCurrentDirectory(u"C:\\Work");
        machine.addDirectory(u"C:\\Work");
        machine.addDirectory(kDocuments);
        if (c.documents) {
            machine.setShellFolderPath(ShellFolder::Documents, kDocuments);
        }
        if (!c.creatable) {
            machine.failCall(FakeCall::CreateDirectory, codes::kAccessDenied);
        }
        EXPECT_EQ(CreateBackupFolder(machine), c.returned) << c.what;
        if (c.made.empty()) {
            EXPECT_TRUE(machine.journal.empty()) << c.what << "\n" << machine.dump();
        } else {
            EXPECT_TRUE(machine.isDirectory(c.made)) << c.what << "\n" << machine.dump();
            EXPECT_TRUE(machine.treeBelow(c.made).empty()) << c.what;
        }
    }
}

TEST(RunLogTest, LogBytesAreExact) {
    FakePlatform machine;
    machine.addDirectory(kDesktop);
    machine.setShellFolderPath(ShellFolder::Desktop, kDesktop);
    const std::u16string body = u"[成功] a\r\n  4312\r\n\r\nb";

    const std::u16string path = WriteRunLog(machine, u"AutoCAD 残留清理日志", body);

    EXPECT_EQ(path, u"C:\\Users\\u\\Desktop\\Tidewell日志_20250307_091733.txt");
    const std::string expected =
        "\xEF\xBB\xBF"
        "AutoCAD \xE6\xAE\x8B\xE7\x95\x99\xE6\xB8\x85\xE7\x90\x86\xE6\x97\xA5\xE5\xBF\x97\r\n"
        "\xE6\x97\xB6\xE9\x97\xB4\xEF\xBC\x9A" // 时间：
        "2025-3-7 9:17:33\r\n\r\n"
        "[\xE6\x88\x90\xE5\x8A\x9F] a\r\n  4312\r\n\r\nb";
    ASSERT_TRUE(machine.fileContents(path).has_value()) << machine.dump();
    EXPECT_EQ(*machine.fileContents(path), expected);
}

// Each entry is on the disk as soon as it is made; the finished file is the one-piece layout.
TEST(RunLogTest, EntriesReachTheFileAsTheyAreMade) {
    const std::string header = "\xEF\xBB\xBFT\r\n\xE6\x97\xB6\xE9\x97\xB4\xEF\xBC\x9A"
                               "2025-3-7 9:17:33\r\n\r\n";
    for (const bool appendFails : {false, true}) {
        FakePlatform machine;
        machine.addDirectory(kDesktop);
        machine.setShellFolderPath(ShellFolder::Desktop, kDesktop);
        const std::u16string path = kDesktop + u"\\Tidewell日志_20250307_091733.txt";
        RunLogFile log(machine, u"T");
        EXPECT_EQ(machine.fileContents(path).value_or("?"), header);
        log.append(u"[成功] 甲\r\n");
        if (appendFails) {
            machine.failCall(FakeCall::AppendFile, codes::kAccessDenied, {}, 1);
        }
        log.append(u"[失败] 乙\r\n");
        // A run cut off here leaves what it had done so far.
        const std::string first = header + "[\xE6\x88\x90\xE5\x8A\x9F] \xE7\x94\xB2\r\n";
        const std::string second = "[\xE5\xA4\xB1\xE8\xB4\xA5] \xE4\xB9\x99\r\n";
        EXPECT_EQ(machine.fileContents(path).value_or("?"), appendFails ? first : first + second);
        log.retitle(u"U");
        log.append(u"end");
        EXPECT_EQ(log.finish(), path);
        std::string finished = first + second + "end";
        finished.replace(3, 1, "U");
        EXPECT_EQ(machine.fileContents(path).value_or("?"), finished) << appendFails;
    }
}

// A log the disk would not take whole (full, or the file gone) is not offered as the run's log.
TEST(RunLogTest, ALogCutShortIsAFailedWrite) {
    for (const FakeCall failing : {FakeCall::AppendFile, FakeCall::WriteFile}) {
        FakePlatform machine;
        machine.addDirectory(kDesktop);
        machine.setShellFolderPath(ShellFolder::Desktop, kDesktop);
        RunLogFile log(machine, u"T");
        constexpr uint32_t kDiskFull = 112;
        machine.failCall(FakeCall::AppendFile, kDiskFull);
        machine.failCall(failing, kDiskFull, u"Tidewell日志");
        log.append(u"[成功] 甲\r\n");
        const std::u16string path = log.finish();
        EXPECT_EQ(LogPathOrFailure(path), failing == FakeCall::WriteFile
                                              ? u"日志写入失败"
                                              : kDesktop + u"\\Tidewell日志_20250307_091733.txt")
            << static_cast<int>(failing);
    }
}

TEST(RunLogTest, RestoreNoteBytes) {
    // On 64-bit Windows each command names the view its export was made in, so that it restores
    // the same branch from the 32-bit prompt too.
    for (const bool on64Bit : {true, false}) {
        SCOPED_TRACE(on64Bit);
        FakePlatform machine;
        machine.set64BitWindows(on64Bit);
        machine.addDirectory(u"D:\\B");
        EXPECT_EQ(WriteRestoreNote(machine, u"D:\\B",
                                   {{u"Oracle [32位]", u"HKLM\\Software\\Oracle [32位]",
                                     u"D:\\B\\Oracle [32位].reg"},
                                    {u"x", u"HKCU\\x", u"D:\\B\\x (2).reg"}}),
                  codes::kSuccess);
        const std::u16string view = on64Bit ? u" /reg:64" : u"";
        EXPECT_EQ(
            ToUtf8(u"请在以管理员身份运行的命令提示符中执行下列命令，恢复本次删除的注册表项。\r\n"
                   u"\r\nOracle [32位]\r\n位置：HKLM\\Software\\Oracle [32位]\r\n"
                   u"文件：Oracle [32位].reg\r\nreg import \"D:\\B\\Oracle [32位].reg\"" +
                   view +
                   u"\r\n\r\nx\r\n位置：HKCU\\x\r\n文件：x (2).reg\r\n"
                   u"reg import \"D:\\B\\x (2).reg\"" +
                   view + u"\r\n"),
            machine.fileContents(u"D:\\B\\恢复说明.txt").value_or("?").substr(3));
        EXPECT_EQ(machine.fileContents(u"D:\\B\\恢复说明.txt").value_or("?").substr(0, 3),
                  "\xEF\xBB\xBF");
    }
}

TEST(RunLogTest, EmptyBodyEndsWithTheTimeLineAndOneEmptyLine) {
    FakePlatform machine;
    machine.addDirectory(kDesktop);
    machine.setShellFolderPath(ShellFolder::Desktop, kDesktop);
    machine.setLocalTime({2025, 11, 30, 23, 5, 9});
    const std::u16string path = WriteRunLog(machine, u"T", u"");
    EXPECT_EQ(path, kDesktop + u"\\Tidewell日志_20251130_230509.txt");
    EXPECT_EQ(machine.fileContents(path).value_or(""),
              "\xEF\xBB\xBFT\r\n\xE6\x97\xB6\xE9\x97\xB4\xEF\xBC\x9A"
              "2025-11-30 23:5:9\r\n\r\n");
}

TEST(RunLogTest, NoFileMeansAnEmptyResult) {
    FakePlatform machine;
    machine.addDirectory(kDesktop);
    machine.setShellFolderPath(ShellFolder::Desktop, kDesktop);
    machine.failCall(FakeCall::WriteFile, codes::kAccessDenied);
    EXPECT_EQ(WriteRunLog(machine, u"T", u"body"), u"");
    EXPECT_TRUE(machine.treeBelow(kDesktop).empty()) << machine.dump();
}

TEST(RunLogTest, WithoutDesktopTheLogGoesToTheCurrentDirectory) {
    FakePlatform machine;
    machine.setCurrentDirectory(u"C:\\Work");
    machine.addDirectory(u"C:\\Work");
    EXPECT_EQ(WriteRunLog(machine, u"T", u"b"), u"Tidewell日志_20250307_091733.txt");
    EXPECT_TRUE(machine.exists(u"C:\\Work\\Tidewell日志_20250307_091733.txt")) << machine.dump();
}

} // namespace
} // namespace tidewell
