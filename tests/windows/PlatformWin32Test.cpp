#include "RemovalWin32Support.h"
#include "platform/SystemCodes.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Platform.h"
#include "support/ProgramPath.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

// What the contract cannot check on the in-memory machine: real processes, children, services,
// system texts and the message box styles.
namespace tidewell {
namespace {

using removaltest::Started;
using win32::UniqueService;

TEST(PlatformWin32Test, ProcessSnapshotListsThisProcess) {
    Win32Platform platform;
    const ProcessListing listing = platform.listProcesses();
    ASSERT_EQ(listing.error, codes::kSuccess);
    const auto self =
        std::find_if(listing.processes.begin(), listing.processes.end(),
                     [](const ProcessEntry& entry) { return entry.id == GetCurrentProcessId(); });
    ASSERT_NE(self, listing.processes.end());
    const std::u16string own = removaltest::OwnExecutable();
    EXPECT_EQ(ToLower(self->executableName), ToLower(own.substr(own.rfind(u'\\') + 1)));
    EXPECT_EQ(self->executableName.find(u'\\'), std::u16string::npos);
}

TEST(PlatformWin32Test, TerminatingAProcessThatIsNotThereFailsToOpenWith87) {
    Win32Platform platform;
    const ProcessListing listing = platform.listProcesses();
    uint32_t highest = 0;
    for (const auto& entry : listing.processes) {
        highest = std::max(highest, entry.id);
    }
    for (uint32_t id : {0u, highest + 4000}) {
        const TerminateAttempt attempt = platform.terminateProcess(id, 0);
        EXPECT_EQ(attempt.openError, codes::kInvalidParameter) << id;
        EXPECT_EQ(attempt.terminateError, 0u);
    }
}

TEST(PlatformWin32Test, HiddenChildrenReportTheirExitCodes) {
    Win32Platform platform;
    const struct {
        const char16_t* commandLine;
        bool keepPainting;
        uint32_t exitCode;
    } cases[] = {
        {u"cmd.exe /c exit 3010", false, 3010},
        {u"cmd.exe /c exit 0", true, 0},
        {u"cmd.exe /c exit -1073741510", false, 0xC000013Au},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(
            c.commandLine, c.commandLine + std::char_traits<char16_t>::length(c.commandLine)));
        Started child(platform, c.commandLine);
        ASSERT_EQ(child.error(), codes::kSuccess);
        const ChildWait wait = child.wait(30000, c.keepPainting);
        EXPECT_EQ(wait.end, WaitEnd::Exited);
        EXPECT_EQ(wait.exitCode, c.exitCode);
    }
}

TEST(PlatformWin32Test, MissingProgramsAndUnknownChildrenFail) {
    Win32Platform platform;
    const ChildStart start =
        platform.startHidden({}, u"tidewell-no-such-program.exe /x", ChildScope::Process);
    EXPECT_EQ(start.error, codes::kFileNotFound);

    const ChildWait wait = platform.waitForChild(12345, 0, false);
    EXPECT_EQ(wait.end, WaitEnd::Failed);
    EXPECT_EQ(wait.error, codes::kInvalidHandle);
}

// A console child that ends on its own about a second later. Children are left to end by
// themselves: under Wine a console child that is terminated can leave its hidden console host
// behind, holding the test program's output open (and ctest waiting on it).
constexpr char16_t kShortSleeper[] = u"ping.exe -n 2 127.0.0.1";

TEST(PlatformWin32Test, AChildThatOutlivesTheLimitTimesOut) {
    Win32Platform platform;
    for (bool keepPainting : {false, true}) {
        SCOPED_TRACE(keepPainting);
        Started child(platform, kShortSleeper);
        ASSERT_EQ(child.error(), codes::kSuccess);
        const ULONGLONG before = GetTickCount64();
        EXPECT_EQ(child.wait(200, keepPainting).end, WaitEnd::TimedOut);
        // The limit was waited out, not cut short (tick granularity allowed for).
        EXPECT_GE(GetTickCount64() - before, 180u);
        EXPECT_NE(child.id(), 0u);

        const ChildWait after = child.wait(20000, keepPainting);
        EXPECT_EQ(after.end, WaitEnd::Exited);
        EXPECT_EQ(after.exitCode, 0u);
    }
}

// A window that counts its paints, for the waits that keep the main window painted.
struct PaintCounter {
    static inline int paints = 0;
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_PAINT) {
            ++paints;
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
};

TEST(PlatformWin32Test, WaitingWithPaintingRepaintsAndLeavesInputQueued) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &PaintCounter::procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TidewellPaintCounter";
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"paint", WS_OVERLAPPEDWINDOW, 0, 0,
                                  200, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        GTEST_SKIP() << "no display for windows: " << GetLastError();
    }
    ShowWindow(window, SW_SHOWNOACTIVATE);
    constexpr UINT kQueuedInput = WM_APP + 7;

    Win32Platform platform;
    platform.setOwnerWindow(window);
    platform.repaintWindow(); // paints what showing the window invalidated
    for (bool keepPainting : {false, true}) {
        SCOPED_TRACE(keepPainting);
        PaintCounter::paints = 0;
        InvalidateRect(window, nullptr, TRUE);
        PostMessageW(window, kQueuedInput, 0, 0);
        Started child(platform, kShortSleeper);
        ASSERT_EQ(child.error(), codes::kSuccess);
        // A message sent from another thread is answered while the painting wait goes on.
        std::atomic<bool> waitDone{false};
        std::atomic<bool> answeredDuringWait{false};
        std::thread sender([&] {
            Sleep(50);
            DWORD_PTR result = 0;
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
            answeredDuringWait = !waitDone;
        });
        platform.resetQueueGap();
        EXPECT_EQ(child.wait(300, keepPainting).end, WaitEnd::TimedOut);
        waitDone = true;
        const uint64_t gap = platform.longestQueueGap();
        MSG sent;
        PeekMessageW(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        sender.join();
        EXPECT_EQ(answeredDuringWait, keepPainting);
        EXPECT_EQ(PaintCounter::paints > 0, keepPainting);
        if (keepPainting) {
            EXPECT_LE(gap, 100u);
        }
        MSG message;
        EXPECT_TRUE(PeekMessageW(&message, window, kQueuedInput, kQueuedInput, PM_REMOVE));
        EXPECT_EQ(child.wait(20000).end, WaitEnd::Exited);
    }
    DestroyWindow(window);
}

TEST(PlatformWin32Test, ServicesListWin32ServicesOnly) {
    Win32Platform platform;
    const ServiceListing listing = platform.listServices();
    ASSERT_EQ(listing.error, codes::kSuccess);
    auto listed = [&](const std::u16string& keyName) {
        return std::any_of(listing.services.begin(), listing.services.end(),
                           [&](const ServiceEntry& s) { return ToLower(s.keyName) == keyName; });
    };
    EXPECT_TRUE(listed(u"rpcss"));
    EXPECT_TRUE(listed(u"plugplay"));
    // Drivers are not Win32 services.
    EXPECT_FALSE(listed(u"mountmgr"));
    for (const auto& service : listing.services) {
        EXPECT_FALSE(service.keyName.empty());
        EXPECT_FALSE(service.displayName.empty());
        // Every service's configuration names its program; the system's run from its folder.
        EXPECT_FALSE(service.binaryPath.empty()) << ToUtf8(service.keyName);
        if (ToLower(service.keyName) == u"rpcss") {
            EXPECT_TRUE(PathIsAtOrBelow(ProgramPathOf(platform, service.binaryPath),
                                        platform.windowsDirectory()))
                << ToUtf8(service.binaryPath);
        }
    }
}

TEST(PlatformWin32Test, StoppingServices) {
    Win32Platform platform;
    const ServiceStopAttempt missing = platform.stopService(u"TidewellNoSuchService");
    EXPECT_EQ(missing.managerError, 0u);
    EXPECT_EQ(missing.serviceError, codes::kServiceDoesNotExist);
    EXPECT_FALSE(missing.stopSent);

    // A service that is not running gets no request.
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    ASSERT_TRUE(manager.valid());
    std::u16string stopped;
    for (const auto& service : platform.listServices().services) {
        UniqueService handle(
            OpenServiceW(manager.get(), win32::AsWide(service.keyName), SERVICE_QUERY_STATUS));
        SERVICE_STATUS status{};
        if (handle.valid() && QueryServiceStatus(handle.get(), &status) &&
            status.dwCurrentState == SERVICE_STOPPED) {
            stopped = service.keyName;
            break;
        }
    }
    ASSERT_FALSE(stopped.empty());
    const ServiceStopAttempt attempt = platform.stopService(stopped);
    EXPECT_EQ(attempt.serviceError, 0u);
    EXPECT_FALSE(attempt.stopSent);
    EXPECT_EQ(attempt.controlError, 0u);
}

TEST(PlatformWin32Test, SystemMessagesKeepTheirLineBreak) {
    Win32Platform platform;
    for (uint32_t code : {codes::kFileNotFound, codes::kAccessDenied, codes::kDirectoryNotEmpty}) {
        const std::optional<std::u16string> text = platform.systemMessage(code);
        ASSERT_TRUE(text.has_value()) << code;
        ASSERT_GT(text->size(), 2u);
        EXPECT_EQ(text->substr(text->size() - 2), u"\r\n") << code;
    }
    EXPECT_FALSE(platform.systemMessage(0x2FFFFFFF).has_value());
}

TEST(PlatformWin32Test, MessageBoxStyles) {
    const struct {
        UINT style;
        UINT expected;
    } cases[] = {
        {QuestionBoxStyle(NoticeIcon::Warning, false), 0x134},
        {QuestionBoxStyle(NoticeIcon::Warning, true), 0x34},
        {QuestionBoxStyle(NoticeIcon::Question, true), 0x24},
        {QuestionBoxStyle(NoticeIcon::Information, false), 0x144},
        {QuestionBoxStyle(NoticeIcon::Error, false), 0x114},
        {NoticeBoxStyle(NoticeIcon::Information), 0x40},
        {NoticeBoxStyle(NoticeIcon::Warning), 0x30},
        {NoticeBoxStyle(NoticeIcon::Error), 0x10},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].style, cases[i].expected) << i;
    }
}

TEST(PlatformWin32Test, SystemFactsOfThisMachine) {
    Win32Platform platform;
    EXPECT_TRUE(platform.runsOn64BitWindows());

    const LocalTime now = platform.localTime();
    SYSTEMTIME check{};
    GetLocalTime(&check);
    EXPECT_EQ(now.year, check.wYear);
    EXPECT_EQ(now.month, check.wMonth);
    EXPECT_EQ(now.day, check.wDay);

    // A drive root has no "." and ".." entries.
    const std::u16string windows = platform.windowsDirectory();
    ASSERT_GE(windows.size(), 3u);
    const DirectoryListing root = platform.listDirectory(windows.substr(0, 3));
    ASSERT_EQ(root.error, codes::kSuccess);
    ASSERT_FALSE(root.entries.empty());
    EXPECT_NE(root.entries[0].name, u".");
}

} // namespace
} // namespace tidewell
