#include "clean/ProcessAndService.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

ResidueItem ProcessItem(const std::u16string& title, const std::u16string& location) {
    ResidueItem item;
    item.category = u"正在占用";
    item.kind = ItemKind::Process;
    item.title = title;
    item.location = location;
    return item;
}

ResidueItem ServiceItem(const std::u16string& keyName) {
    ResidueItem item;
    item.category = u"相关服务";
    item.kind = ItemKind::Service;
    item.title = u"Autodesk Desktop Licensing Service";
    item.location = keyName;
    return item;
}

// Remembers how termination was asked for, and can show a snapshot taken before the process
// went away on its own.
class WatchedMachine : public FakePlatform {
public:
    std::optional<ProcessListing> staleSnapshot;
    std::vector<std::pair<uint32_t, uint32_t>> terminations; // id, wait

    ProcessListing listProcesses() override {
        return staleSnapshot ? *staleSnapshot : FakePlatform::listProcesses();
    }
    TerminateAttempt terminateProcess(uint32_t id, uint32_t wait) override {
        terminations.emplace_back(id, wait);
        return FakePlatform::terminateProcess(id, wait);
    }
};

// Process 4312 runs `running`; the item names `exe` at `location`. Every termination asked for
// waits five seconds; only a process that still runs the scanned program is asked to end.
TEST(EndProcessTest, EveryRowOfTheResultTable) {
    const std::u16string ended = u"进程已结束";
    const std::u16string exited = u"进程已退出";
    const auto nothing = [](WatchedMachine&) {};
    struct Case {
        const char* name;
        std::u16string exe, running, location;
        std::function<void(WatchedMachine&)> prepare;
        bool success;
        std::u16string message;
        size_t terminations;
    };
    const Case cases[] = {
        {"running", u"acad.exe", u"acad.exe", u"4312", nothing, true, ended, 1},
        {"leading white space", u"acad.exe", u"acad.exe", u" \t4312", nothing, true, ended, 1},
        {"digits then text", u"acad.exe", u"acad.exe", u"4312x", nothing, true, ended, 1},
        {"already exited", u"acad.exe", u"acad.exe", u"5000", nothing, true, exited, 0},
        {"not a number", u"acad.exe", u"acad.exe", u"acad", nothing, true, exited, 0},
        {"empty", u"acad.exe", u"acad.exe", u"", nothing, true, exited, 0},
        {"id reused by another program", u"acad.exe", u"notepad.exe", u"4312", nothing, true,
         exited, 0},
        {"id reused, name with a suffix", u"acad.exe", u"acad.exe.bak", u"4312", nothing, true,
         exited, 0},
        {"file names ignore ASCII case", u"acad.exe", u"ACAD.EXE", u"4312", nothing, true, ended,
         1},
        {"another product's program", u"sldworks.exe", u"sldworks.exe", u"4312", nothing, true,
         ended, 1},
        {"open refused", u"acad.exe", u"acad.exe", u"4312",
         [](WatchedMachine& m) { m.protectProcess(4312, codes::kAccessDenied); }, false,
         u"Access is denied.", 1},
        {"open refused with a code the system has no text for", u"acad.exe", u"acad.exe", u"4312",
         [](WatchedMachine& m) { m.protectProcess(4312, 4242); }, false, u"未知错误", 1},
        {"termination refused", u"acad.exe", u"acad.exe", u"4312",
         [](WatchedMachine& m) { m.failCall(FakeCall::TerminateProcess, codes::kAccessDenied); },
         false, u"Access is denied.", 1},
        {"gone between snapshot and opening", u"acad.exe", u"acad.exe", u"5000",
         [](WatchedMachine& m) {
             m.staleSnapshot = ProcessListing{0, {{4312, u"acad.exe"}, {5000, u"acad.exe"}}};
         },
         true, exited, 1},
        {"snapshot unreadable: nothing is ended", u"acad.exe", u"acad.exe", u"4312",
         [](WatchedMachine& m) { m.failCall(FakeCall::ListProcesses, codes::kAccessDenied); },
         false, u"Access is denied.", 0},
    };
    for (const Case& c : cases) {
        WatchedMachine machine;
        machine.addProcess(4, u"System");
        machine.addProcess(4312, c.running);
        c.prepare(machine);
        const ActionResult result =
            EndProcess(machine, ProcessItem(c.exe + u"（PID 4312）", c.location));
        EXPECT_EQ(result.success, c.success) << c.name << "\n" << machine.dump();
        EXPECT_EQ(result.message, c.message) << c.name << ": " << ToUtf8(result.message);
        EXPECT_FALSE(result.rebootPending) << c.name;
        EXPECT_EQ(machine.processRunning(4312), result.message != ended) << c.name;
        EXPECT_TRUE(machine.processRunning(4)) << c.name;
        ASSERT_EQ(machine.terminations.size(), c.terminations) << c.name;
        for (const auto& termination : machine.terminations) {
            EXPECT_EQ(termination, std::make_pair(ParseProcessId(c.location), 5000u)) << c.name;
        }
    }
}

TEST(EndProcessTest, ProcessIdParsing) {
    const std::pair<std::u16string, uint32_t> cases[] = {
        {u"4312", 4312},
        {u"  4312", 4312},
        {u"\r\n\t\v\f7", 7},
        {u"12abc", 12},
        {u"", 0},
        {u"abc", 0},
        {u"-5", 0},
        {u"+5", 0},
        {u"4294967295", 4294967295u},
        {u"99999999999", 4294967295u},
        {u"１２", 0}, // full-width digits are not digits
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseProcessId(c.first), c.second) << ToUtf8(c.first);
    }
}

TEST(StopServiceTest, EveryRowOfTheResultTable) {
    const std::u16string stopped = u"服务已停止（未删除服务）";
    struct Case {
        const char* name;
        std::u16string keyName;
        std::function<void(FakePlatform&)> prepare;
        bool success;
        std::u16string message;
        uint32_t stateAfter;
        bool stoppedNow; // a stop went through: the journal shows it
    };
    const Case cases[] = {
        {"manager refused", u"AdskLicensing",
         [](FakePlatform& m) { m.failCall(FakeCall::OpenServiceManager, codes::kAccessDenied); },
         false, u"Access is denied.", codes::kServiceRunning, false},
        {"no such service", u"NoSuchService", [](FakePlatform&) {}, false,
         u"The specified service does not exist as an installed service.", codes::kServiceRunning,
         false},
        {"already stopped", u"OracleVssWriter", [](FakePlatform&) {}, true, stopped,
         codes::kServiceStopped, false},
        {"running, stop accepted", u"AdskLicensing", [](FakePlatform&) {}, true, stopped,
         codes::kServiceStopped, true},
        {"key name letter case", u"adsklicensing", [](FakePlatform&) {}, true, stopped,
         codes::kServiceStopped, true},
        {"stop refused: dependants running", u"AdskLicensing",
         [](FakePlatform& m) {
             m.failCall(FakeCall::StopService, codes::kDependentServicesRunning);
         },
         false,
         u"A stop control has been sent to a service that other running services are dependent "
         u"on.",
         codes::kServiceRunning, false},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        machine.addService(u"AdskLicensing", u"Autodesk Desktop Licensing Service",
                           codes::kServiceRunning);
        machine.addService(u"OracleVssWriter", u"Oracle VSS Writer", codes::kServiceStopped);
        c.prepare(machine);
        const ActionResult result = StopService(machine, ServiceItem(c.keyName));
        EXPECT_EQ(result.success, c.success) << c.name << "\n" << machine.dump();
        EXPECT_EQ(result.message, c.message) << c.name << ": " << ToUtf8(result.message);
        EXPECT_FALSE(result.rebootPending);
        const std::u16string serviceTouched =
            c.keyName == u"OracleVssWriter" ? u"OracleVssWriter" : u"AdskLicensing";
        // Stopped, never deleted: the registration stays.
        EXPECT_EQ(machine.serviceState(serviceTouched), c.stateAfter) << c.name;
        const bool stoppedNow = !machine.journal.empty();
        EXPECT_EQ(stoppedNow, c.stoppedNow) << c.name;
    }
}

// A service whose status cannot be read gets no request, and counts as stopped.
class StatusUnreadable : public FakePlatform {
public:
    ServiceStopAttempt stopService(const std::u16string&) override { return {}; }
};

TEST(StopServiceTest, UnreadableStatusCountsAsStopped) {
    StatusUnreadable machine;
    const ActionResult result = StopService(machine, ServiceItem(u"AdskLicensing"));
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.message, u"服务已停止（未删除服务）");
}

} // namespace
} // namespace tidewell
