#include "support/RunLog.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

const std::u16string kDesktop = u"C:\\Users\\u\\Desktop";
const std::u16string kDocuments = u"C:\\Users\\u\\Documents";

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
