// The protected-location guard and the patient uninstaller wait, on the real system.
#include "RemovalWin32Support.h"
#include "clean/FileRemoval.h"
#include "clean/ProtectedLocations.h"
#include "platform/win32/Win32Platform.h"
#include "support/ChildProcess.h"
#include "support/Environment.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace tidewell {
namespace {

using removaltest::Exists;
using removaltest::MakeFile;

std::u16string Upper(std::u16string text) {
    for (char16_t& unit : text) {
        if (unit >= u'a' && unit <= u'z') {
            unit = static_cast<char16_t>(unit - u'a' + u'A');
        }
    }
    return text;
}

std::u16string Slashed(std::u16string text) {
    for (char16_t& unit : text) {
        if (unit == u'\\') {
            unit = u'/';
        }
    }
    return text;
}

TEST(ProtectedLocationsWin32Test, EveryFolderOfThisMachineThatMattersIsRefused) {
    Win32Platform platform;
    std::vector<std::u16string> folders = {
        platform.windowsDirectory(),
        JoinPath(platform.windowsDirectory(), u"System32"),
        ReadEnvironmentVariable(platform, u"ProgramFiles"),
        ReadEnvironmentVariable(platform, u"ProgramFiles(x86)"),
        ReadEnvironmentVariable(platform, u"ProgramData"),
        ReadEnvironmentVariable(platform, u"USERPROFILE"),
        ReadEnvironmentVariable(platform, u"TEMP"),
        ShellFolderPath(platform, ShellFolder::Documents),
        ShellFolderPath(platform, ShellFolder::Desktop),
        ShellFolderPath(platform, ShellFolder::LocalAppData),
        ShellFolderPath(platform, ShellFolder::RoamingAppData),
        u"C:\\",
        u"C:\\users",
    };
    for (const auto& folder : folders) {
        ASSERT_FALSE(folder.empty());
        for (const auto& spelling :
             {folder, Upper(folder), Slashed(folder) + u"/", folder + u"."}) {
            EXPECT_TRUE(IsProtectedLocation(platform, spelling)) << ToUtf8(spelling);
        }
    }
    const std::u16string programFiles = ReadEnvironmentVariable(platform, u"ProgramFiles");
    EXPECT_FALSE(IsProtectedLocation(platform, JoinPath(programFiles, u"Oracle")));
    EXPECT_FALSE(IsProtectedLocation(
        platform, JoinPath(ReadEnvironmentVariable(platform, u"TEMP"), u"acad_install.log")));
}

TEST(ProtectedLocationsWin32Test, RemovingTheDriveRootTouchesNothing) {
    Win32Platform platform;
    const std::u16string sentinel = u"C:\\tidewell-guard-sentinel.txt";
    MakeFile(sentinel);
    const ActionResult result = RemoveDirectoryTree(platform, u"C:\\");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message, u"受保护的系统目录，已跳过");
    EXPECT_TRUE(Exists(sentinel));
    EXPECT_TRUE(Exists(platform.windowsDirectory()));
    DeleteFileW(L"C:\\tidewell-guard-sentinel.txt");
}

// Answers the keep-waiting questions itself and asks them after a short interval.
class QuickQuestions : public Win32Platform {
public:
    uint32_t uninstallerQuestionInterval() override { return 300; }
    bool askYesNo(const std::u16string&, const std::u16string&, NoticeIcon, bool) override {
        ++questions;
        return questions < 2; // wait once more, then give up
    }
    int questions = 0;
};

TEST(PatientWaitWin32Test, AnUninstallerThatNeverEndsIsGivenUpAndKeepsRunning) {
    QuickQuestions platform;
    // A ping of a few seconds stands in for an uninstaller that outlasts every question. It is
    // left to end on its own: killing a console child under Wine can leave its console host
    // holding the test's output open.
    const std::u16string command = u"ping.exe -n 4 127.0.0.1";
    uint32_t exitCode = 1;
    const ChildRun run = RunProcessAndWaitPatiently(
        platform, command, exitCode, platform.uninstallerQuestionInterval(),
        [&](uint64_t) { return platform.askYesNo({}, {}, NoticeIcon::Question, true); });

    EXPECT_FALSE(run.ended);
    EXPECT_TRUE(run.givenUp);
    EXPECT_EQ(platform.questions, 2);
    EXPECT_EQ(run.waited, 600u);
    EXPECT_EQ(exitCode, 1u);

    // The child was not terminated: it is still running, and ends by itself.
    auto pingRunning = [&] {
        for (const ProcessEntry& process : platform.listProcesses().processes) {
            if (ToLower(process.executableName) == u"ping.exe") {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(pingRunning());
    EXPECT_TRUE(removaltest::WaitFor([&] { return !pingRunning(); }, 30000));
}

} // namespace
} // namespace tidewell
