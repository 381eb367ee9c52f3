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
        platform, command, ChildRights::Program, exitCode, platform.uninstallerQuestionInterval(),
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

// Here the shell is the virtual desktop's explorer, which runs elevated like everything under
// Wine: its token is not used and nothing starts.
TEST(PatientWaitWin32Test, APerUserUninstallerIsRefusedTheElevatedShellsToken) {
    Win32Platform platform;
    uint32_t exitCode = 1;
    const ChildRun run =
        RunProcessAndWaitPatiently(platform, u"cmd /c exit 9", ChildRights::ShellUser, exitCode,
                                   30000, [](uint64_t) { return false; });
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(run.shellToken, ShellTokenProblem::Elevated) << run.error;
    EXPECT_EQ(exitCode, 1u);
}

constexpr wchar_t kHandOffVariable[] = L"TIDEWELL_HAND_OFF";

std::u16string HandOffCommand() {
    return u"\"" + removaltest::OwnExecutable() +
           u"\" --gtest_filter=ChildHandOff.HandsItsWorkToACopy";
}

// Runs only as the child of the test below, the way setup engines do: the first process starts
// a copy of itself and exits at once with 7; the copy works for two seconds, then leaves the
// file named after "copy:".
TEST(ChildHandOff, HandsItsWorkToACopy) {
    wchar_t value[MAX_PATH] = {};
    if (GetEnvironmentVariableW(kHandOffVariable, value, MAX_PATH) == 0) {
        GTEST_SKIP() << "runs only as the uninstaller of the patient wait's test";
    }
    const std::wstring task = value;
    if (task.rfind(L"first:", 0) == 0) {
        SetEnvironmentVariableW(kHandOffVariable, (L"copy:" + task.substr(6)).c_str());
        std::u16string command = HandOffCommand();
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(CreateProcessW(nullptr, win32::AsWritableWide(command), nullptr, nullptr, FALSE,
                                   CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info));
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        ExitProcess(7);
    }
    Sleep(2000);
    MakeFile(win32::FromWide(task.c_str() + 5, task.size() - 5));
    ExitProcess(0);
}

// Refuses what a system refuses to a program that already runs in a job: a job of the child's
// own (Windows 7 does not nest jobs), and, when the job forbids it, breaking away from it.
class JobBound : public Win32Platform {
public:
    explicit JobBound(bool breakawayAllowed) : breakawayAllowed_(breakawayAllowed) {}
    int assignments = 0;
    int breakaways = 0;

protected:
    BOOL assignToJob(HANDLE job, HANDLE process) override {
        // A process that broke away is in no job: it may go into one.
        if (++assignments > 1 && breakawayAllowed_) {
            return Win32Platform::assignToJob(job, process);
        }
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    BOOL createChildProcess(const std::u16string& application, std::u16string& commandLine,
                            HANDLE token, DWORD flags, PROCESS_INFORMATION& info) override {
        if ((flags & CREATE_BREAKAWAY_FROM_JOB) != 0) {
            ++breakaways;
            if (!breakawayAllowed_) {
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            }
        }
        return Win32Platform::createChildProcess(application, commandLine, token, flags, info);
    }

private:
    bool breakawayAllowed_;
};

TEST(PatientWaitWin32Test, AnUninstallerThatHandsItsWorkToACopyIsWaitedForUntilTheCopyEnds) {
    const std::u16string done =
        u"C:\\tidewell-hand-off-" + removaltest::Decimal(GetCurrentProcessId()) + u".done";
    {
        Win32Platform platform;
        SetEnvironmentVariableW(kHandOffVariable, win32::AsWide(u"first:" + done));
        // The registry export's plain wait ends with the started process.
        uint32_t exitCode = 1;
        ASSERT_TRUE(RunProcessAndWait(platform, HandOffCommand(), exitCode, 30000).ended);
        EXPECT_EQ(exitCode, 7u);
        EXPECT_FALSE(Exists(done));
        ASSERT_TRUE(removaltest::WaitFor([&] { return Exists(done); }, 30000));
        DeleteFileW(win32::AsWide(done));
    }

    // An uninstaller's lasts until the copy has ended; its exit code is still the first's. So
    // it does in a job of its own, after breaking away from a job that would not nest, and
    // followed by its parent ids when it may not break away either.
    Win32Platform own;
    JobBound breakingAway(true);
    JobBound bound(false);
    for (Win32Platform* platform :
         {&own, static_cast<Win32Platform*>(&breakingAway), static_cast<Win32Platform*>(&bound)}) {
        SetEnvironmentVariableW(kHandOffVariable, win32::AsWide(u"first:" + done));
        uint32_t exitCode = 1;
        const ChildRun run =
            RunProcessAndWaitPatiently(*platform, HandOffCommand(), ChildRights::Program, exitCode,
                                       60000, [](uint64_t) { return false; });
        SetEnvironmentVariableW(kHandOffVariable, nullptr);
        EXPECT_TRUE(run.ended) << run.error;
        EXPECT_EQ(exitCode, 7u);
        EXPECT_TRUE(Exists(done));
        DeleteFileW(win32::AsWide(done));
    }
    EXPECT_EQ(breakingAway.assignments, 2);
    EXPECT_EQ(breakingAway.breakaways, 1);
    EXPECT_EQ(bound.assignments, 1);
    EXPECT_EQ(bound.breakaways, 1);
}

} // namespace
} // namespace tidewell
