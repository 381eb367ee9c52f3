// Processes, services, the child runner and the run log on the real system.
#include "RemovalWin32Support.h"
#include "clean/ProcessAndService.h"
#include "platform/SystemCodes.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Win32Platform.h"
#include "support/ChildProcess.h"
#include "support/RunLog.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <set>

namespace tidewell {
namespace {

using namespace removaltest;
using prefix::ShellFolder;
using win32::AsWide;
using win32::UniqueService;

// A program that runs until it is ended. A window program: Wine gives a console program started
// without a window a console host of its own, and one whose client is ended early can stay
// behind holding the test's output open.
constexpr char16_t kSleeper[] = u"notepad.exe";

ResidueItem ProcessItem(const std::u16string& executable, uint32_t id) {
    ResidueItem item;
    item.kind = ItemKind::Process;
    item.title = executable + u"（PID " + Decimal(id) + u"）";
    item.location = Decimal(id);
    return item;
}

std::u16string SnapshotName(Win32Platform& platform, uint32_t id) {
    for (const auto& process : platform.listProcesses().processes) {
        if (process.id == id) {
            return process.executableName;
        }
    }
    return {};
}

TEST(RemovalRunningWin32Test, RealProcessIsEndedOnlyWhileItRunsTheScannedProgram) {
    Win32Platform platform;
    Started child(platform, kSleeper);
    ASSERT_TRUE(child.ok());
    const std::u16string name = SnapshotName(platform, child.id());
    ASSERT_FALSE(name.empty());

    // The id now runs another program than the item names: left alone.
    const ActionResult reused = EndProcess(platform, ProcessItem(u"acad.exe", child.id()));
    EXPECT_TRUE(reused.success);
    EXPECT_EQ(reused.message, u"进程已退出");
    EXPECT_EQ(child.wait(0).end, WaitEnd::TimedOut);

    const ActionResult ended = EndProcess(platform, ProcessItem(name, child.id()));
    EXPECT_TRUE(ended.success);
    EXPECT_EQ(ended.message, u"进程已结束");
    const ChildWait gone = child.wait(5000);
    EXPECT_EQ(gone.end, WaitEnd::Exited);
    EXPECT_EQ(gone.exitCode, 0u);

    // A missing id, and an id that is not a number.
    uint32_t highest = 0;
    for (const auto& process : platform.listProcesses().processes) {
        highest = std::max(highest, process.id);
    }
    for (const ResidueItem& item :
         {ProcessItem(name, child.id()), ProcessItem(name, highest + 4000), ProcessItem(name, 0)}) {
        const ActionResult result = EndProcess(platform, item);
        EXPECT_TRUE(result.success) << Narrow(item.location);
        EXPECT_EQ(result.message, u"进程已退出") << Narrow(item.location);
    }
}

// A demand-start service of the test's own, run by one of Wine's service programs (on Windows,
// by whatever TIDEWELL_TEST_SERVICE_BINARY names), deleted again at the end.
class OwnService {
public:
    OwnService() {
        manager_.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        name_ = u"TidewellRemovalTest" + Decimal(GetCurrentProcessId());
        wchar_t binary[MAX_PATH] = {};
        if (GetEnvironmentVariableW(L"TIDEWELL_TEST_SERVICE_BINARY", binary, MAX_PATH) == 0) {
            GetSystemDirectoryW(binary, MAX_PATH);
            wcscat_s(binary, L"\\wuauserv.exe");
        }
        if (manager_.valid()) {
            service_.reset(CreateServiceW(manager_.get(), AsWide(name_), AsWide(name_),
                                          SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                          SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary,
                                          nullptr, nullptr, nullptr, nullptr, nullptr));
        }
    }
    ~OwnService() {
        if (service_.valid()) {
            SERVICE_STATUS status{};
            ControlService(service_.get(), SERVICE_CONTROL_STOP, &status);
            DeleteService(service_.get());
        }
    }
    bool valid() const { return service_.valid(); }
    const std::u16string& name() const { return name_; }
    DWORD state() const {
        SERVICE_STATUS status{};
        return QueryServiceStatus(service_.get(), &status) ? status.dwCurrentState : 0;
    }
    bool start() {
        return StartServiceW(service_.get(), 0, nullptr) &&
               WaitFor([&] { return state() == SERVICE_RUNNING; });
    }
    bool registered() const {
        UniqueService again(OpenServiceW(manager_.get(), AsWide(name_), SERVICE_QUERY_STATUS));
        return again.valid();
    }

private:
    UniqueService manager_;
    UniqueService service_;
    std::u16string name_;
};

TEST(RemovalRunningWin32Test, RealServiceIsStoppedAndStaysRegistered) {
    Win32Platform platform;
    OwnService service;
    ASSERT_TRUE(service.valid()) << GetLastError();
    ASSERT_TRUE(service.start());
    ResidueItem item;
    item.kind = ItemKind::Service;
    item.location = service.name();

    const ActionResult running = StopService(platform, item);
    EXPECT_TRUE(running.success) << Narrow(running.message);
    EXPECT_EQ(running.message, u"服务已停止（未删除服务）");
    EXPECT_TRUE(WaitFor([&] { return service.state() == SERVICE_STOPPED; }));
    EXPECT_TRUE(service.registered());

    const ActionResult again = StopService(platform, item);
    EXPECT_TRUE(again.success);
    EXPECT_EQ(again.message, u"服务已停止（未删除服务）");

    item.location = u"TidewellNoSuchService";
    const ActionResult missing = StopService(platform, item);
    EXPECT_FALSE(missing.success);
    EXPECT_EQ(missing.message, SystemErrorText(platform, codes::kServiceDoesNotExist));
    EXPECT_EQ(missing.message.find(u'\n'), std::u16string::npos);
}

TEST(RemovalRunningWin32Test, RunnerReportsExitCodesAndReasons) {
    Win32Platform platform;
    const struct {
        const char16_t* commandLine;
        uint32_t exitCode;
    } cases[] = {
        {u"cmd.exe /c exit 3010", 3010},
        {u"cmd.exe /c exit -1073741510", 0xC000013Au},
    };
    for (const auto& c : cases) {
        uint32_t exitCode = 1;
        const ChildRun run = RunProcessAndWait(platform, c.commandLine, exitCode, 30000);
        EXPECT_TRUE(run.ended) << run.error;
        EXPECT_EQ(exitCode, c.exitCode);
    }

    uint32_t exitCode = 77;
    const ChildRun missing =
        RunProcessAndWait(platform, u"C:\\tidewell-no-such-program.exe /x", exitCode, 30000);
    EXPECT_FALSE(missing.ended);
    EXPECT_EQ(missing.error, codes::kFileNotFound);
    EXPECT_EQ(exitCode, 77u);
}

TEST(RemovalRunningWin32Test, ChildThatOutlivesItsLimitTimesOutAndGoesOnRunning) {
    Win32Platform platform;
    auto sleeperIds = [&] {
        std::set<uint32_t> ids;
        for (const auto& process : platform.listProcesses().processes) {
            if (ToLower(process.executableName) == u"notepad.exe") {
                ids.insert(process.id);
            }
        }
        return ids;
    };
    const std::set<uint32_t> before = sleeperIds();
    uint32_t exitCode = 77;
    const ULONGLONG started = GetTickCount64();
    const ChildRun run = RunProcessAndWait(platform, kSleeper, exitCode, 300);
    EXPECT_GE(GetTickCount64() - started, 280u);
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(run.error, codes::kTimeout);
    EXPECT_EQ(exitCode, 77u);

    std::vector<uint32_t> outliving;
    for (uint32_t id : sleeperIds()) {
        if (before.count(id) == 0) {
            outliving.push_back(id);
        }
    }
    EXPECT_EQ(outliving.size(), 1u);
    for (uint32_t id : outliving) {
        EXPECT_EQ(platform.terminateProcess(id, 5000).openError, 0u);
    }
}

TEST(RemovalRunningWin32Test, LogOnTheDesktopAndBackupFolderUnderDocuments) {
    Win32Platform platform;
    SYSTEMTIME before{};
    GetLocalTime(&before);
    // Appended in two entries, each flushed, as a run writes it.
    RunLogFile log(platform, u"Oracle 残留清理日志");
    log.append(u"[成功] 甲\r\n");
    log.append(u"  乙");
    const std::u16string path = log.finish();
    SYSTEMTIME after{};
    GetLocalTime(&after);

    const std::u16string desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
    ASSERT_FALSE(desktop.empty());
    EXPECT_EQ(path.rfind(desktop + u"\\Tidewell日志_", 0), 0u) << Narrow(path);
    // The name and the time line come from one reading of the clock, between before and after.
    bool matched = false;
    for (const SYSTEMTIME& t : {before, after}) {
        const LocalTime time{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
        if (path != desktop + u"\\Tidewell日志_" + TimeStamp(time) + u".txt") {
            continue;
        }
        matched = true;
        const std::u16string expected = u"Oracle 残留清理日志\r\n时间：" + ToDecimal(t.wYear) +
                                        u"-" + ToDecimal(t.wMonth) + u"-" + ToDecimal(t.wDay) +
                                        u" " + ToDecimal(t.wHour) + u":" + ToDecimal(t.wMinute) +
                                        u":" + ToDecimal(t.wSecond) + u"\r\n\r\n[成功] 甲\r\n  乙";
        EXPECT_EQ(ReadBytes(path), "\xEF\xBB\xBF" + ToUtf8(expected));
    }
    EXPECT_TRUE(matched) << Narrow(path);
    DeleteFileW(AsWide(path));

    const std::u16string folder = CreateBackupFolder(platform);
    const std::u16string documents = ShellFolder(CSIDL_PERSONAL);
    ASSERT_FALSE(documents.empty());
    EXPECT_EQ(folder.rfind(documents + u"\\TidewellBackup\\", 0), 0u) << Narrow(folder);
    EXPECT_EQ(folder.size(), documents.size() + 15 + 16);
    const DWORD attributes = GetFileAttributesW(AsWide(folder));
    EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(RemovalRunningWin32Test, SystemErrorTextDropsTheLineBreak) {
    Win32Platform platform;
    const std::u16string denied = SystemErrorText(platform, codes::kAccessDenied);
    EXPECT_FALSE(denied.empty());
    EXPECT_NE(denied.back(), u'\n');
    EXPECT_NE(denied.back(), u'\r');
    EXPECT_EQ(SystemErrorText(platform, 0x2FFFFFFF), u"未知错误");
}

} // namespace
} // namespace tidewell
