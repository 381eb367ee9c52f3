// The protected-location guard and the patient uninstaller wait, on the real system.
#include "RemovalWin32Support.h"
#include "clean/FileRemoval.h"
#include "clean/ProtectedLocations.h"
#include "platform/win32/Win32Platform.h"
#include "support/ChildProcess.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace tidewell {
namespace {

using removaltest::Exists;
using removaltest::MakeFile;

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
