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

TEST(EndProcessTest, EveryRowOfTheResultTable) {
    const std::u16string title = u"acad.exe（PID 4312）";
    struct Case {
        const char* name;
        std::function<void(WatchedMachine&)> prepare;
        std::u16string location;
        bool success;
        std::u16string message;
        bool stillRunning;
    };
    const Case cases[] = {
        {"running", [](WatchedMachine&) {}, u"4312", true, u"进程已结束", false},
        {"leading white space", [](WatchedMachine&) {}, u" \t4312", true, u"进程已结束", false},
        {"digits then text", [](WatchedMachine&) {}, u"4312x", true, u"进程已结束", false},
        {"already exited", [](WatchedMachine&) {}, u"5000", true, u"进程已退出", true},
        {"not a number", [](WatchedMachine&) {}, u"acad", true, u"进程已退出", true},
        {"empty", [](WatchedMachine&) {}, u"", true, u"进程已退出", true},
        {"open refused", [](WatchedMachine& m) { m.protectProcess(4312, codes::kAccessDenied); },
         u"4312", false, u"Access is denied.", true},
        {"open refused with a code the system has no text for",
         [](WatchedMachine& m) { m.protectProcess(4312, 4242); }, u"4312", false, u"未知错误",
         true},
        {"termination refused",
         [](WatchedMachine& m) { m.failCall(FakeCall::TerminateProcess, codes::kAccessDenied); },
         u"4312", false, u"Access is denied.", true},
        {"gone between snapshot and opening",
         [](WatchedMachine& m) {
             m.staleSnapshot = ProcessListing{0, {{4312, u"acad.exe"}, {5000, u"acad.exe"}}};
         },
         u"5000", true, u"进程已退出", true},
    };
    for (const Case& c : cases) {
        WatchedMachine machine;
        machine.addProcess(4, u"System");
        machine.addProcess(4312, u"acad.exe");
        c.prepare(machine);
        const ActionResult result = EndProcess(machine, ProcessItem(title, c.location));
        EXPECT_EQ(result.success, c.success) << c.name << "\n" << machine.dump();
        EXPECT_EQ(result.message, c.message) << c.name << ": " << ToUtf8(result.message);
        EXPECT_FALSE(result.rebootPending) << c.name;
        EXPECT_EQ(machine.processRunning(4312), c.stillRunning) << c.name;
        EXPECT_TRUE(machine.processRunning(4)) << c.name;
    }
}

TEST(EndProcessTest, TerminatesWithAFiveSecondWait) {
    WatchedMachine machine;
    machine.addProcess(4312, u"acad.exe");
    EndProcess(machine, ProcessItem(u"acad.exe（PID 4312）", u"4312"));
    ASSERT_EQ(machine.terminations.size(), 1u);
    EXPECT_EQ(machine.terminations[0], std::make_pair(4312u, 5000u));
}

TEST(EndProcessTest, ReusedIdIsLeftAlone) {
    struct Case {
        std::u16string title;
        std::u16string runningName;
        bool terminated;
    };
    const Case cases[] = {
        {u"acad.exe（PID 4312）", u"notepad.exe", false},
        {u"acad.exe（PID 4312）", u"acad.exe.bak", false},
        {u"acad.exe（PID 4312）", u"ACAD.EXE", true}, // file names ignore ASCII case
        {u"sldworks.exe（PID 4312）", u"sldworks.exe", true},
    };
    for (const Case& c : cases) {
        WatchedMachine machine;
        machine.addProcess(4312, c.runningName);
        const ActionResult result = EndProcess(machine, ProcessItem(c.title, u"4312"));
        EXPECT_TRUE(result.success);
        EXPECT_EQ(result.message, c.terminated ? u"进程已结束" : u"进程已退出")
            << ToUtf8(c.runningName);
        EXPECT_EQ(machine.processRunning(4312), !c.terminated) << ToUtf8(c.runningName);
        EXPECT_EQ(machine.terminations.size(), c.terminated ? 1u : 0u);
    }
}

TEST(EndProcessTest, UnreadableSnapshotEndsNothing) {
    WatchedMachine machine;
    machine.addProcess(4312, u"acad.exe");
    machine.failCall(FakeCall::ListProcesses, codes::kAccessDenied);
    const ActionResult result = EndProcess(machine, ProcessItem(u"acad.exe（PID 4312）", u"4312"));
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message, u"Access is denied.");
    EXPECT_TRUE(machine.processRunning(4312));
    EXPECT_TRUE(machine.terminations.empty());
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
