#include "support/ChildProcess.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

// Remembers how each wait was asked for.
class WaitWatcher : public FakePlatform {
public:
    std::vector<std::pair<uint32_t, bool>> waits; // limit, keepPainting
    ChildWait waitForChild(ChildId child, uint32_t limit, bool keepPainting) override {
        waits.emplace_back(limit, keepPainting);
        return FakePlatform::waitForChild(child, limit, keepPainting);
    }
};

FakeChildBehaviour Child(uint32_t exitCode, uint32_t runMilliseconds) {
    FakeChildBehaviour behaviour;
    behaviour.exitCode = exitCode;
    behaviour.runMilliseconds = runMilliseconds;
    return behaviour;
}

TEST(ChildProcessTest, EveryRowOfTheResultTable) {
    struct Case {
        const char* name;
        std::function<void(FakePlatform&)> prepare;
        uint32_t limit;
        bool ended;
        uint32_t exitCode; // what the caller's variable holds afterwards (preset 77)
        uint32_t error;
    };
    const Case cases[] = {
        {"program not found", [](FakePlatform&) {}, 20000, false, 77, codes::kFileNotFound},
        {"start refused",
         [](FakePlatform& m) {
             m.onChild([](const std::u16string&) { return Child(0, 10); });
             m.failCall(FakeCall::StartHidden, codes::kAccessDenied);
         },
         20000, false, 77, codes::kAccessDenied},
        {"exits 0", [](FakePlatform& m) { m.onChild([](auto&) { return Child(0, 10); }); }, 20000,
         true, 0, 0},
        {"exits 3010", [](FakePlatform& m) { m.onChild([](auto&) { return Child(3010, 10); }); },
         20000, true, 3010, 0},
        {"exit code with the high bit set",
         [](FakePlatform& m) { m.onChild([](auto&) { return Child(0x80070643u, 10); }); }, 20000,
         true, 0x80070643u, 0},
        {"ends exactly at the limit",
         [](FakePlatform& m) { m.onChild([](auto&) { return Child(5, 20000); }); }, 20000, true, 5,
         0},
        {"outlives the limit",
         [](FakePlatform& m) { m.onChild([](auto&) { return Child(0, 20001); }); }, 20000, false,
         77, codes::kTimeout},
        {"never ends",
         [](FakePlatform& m) { m.onChild([](auto&) { return Child(0, codes::kInfinite); }); },
         20000, false, 77, codes::kTimeout},
        {"no limit", [](FakePlatform& m) { m.onChild([](auto&) { return Child(1605, 3600000); }); },
         codes::kInfinite, true, 1605, 0},
        {"wait failed",
         [](FakePlatform& m) {
             m.onChild([](auto&) { return Child(0, 10); });
             m.failCall(FakeCall::WaitForChild, codes::kAccessDenied);
         },
         20000, false, 77, codes::kAccessDenied},
    };
    for (const Case& c : cases) {
        FakePlatform machine;
        c.prepare(machine);
        uint32_t exitCode = 77;
        const ChildRun run =
            RunProcessAndWait(machine, u"\"C:\\Tools\\setup.exe\" /x", exitCode, c.limit);
        EXPECT_EQ(run.ended, c.ended) << c.name;
        EXPECT_EQ(exitCode, c.exitCode) << c.name;
        if (!c.ended) {
            EXPECT_EQ(run.error, c.error) << c.name;
        }
        if (c.error == codes::kTimeout) {
            EXPECT_EQ(machine.elapsedMilliseconds, c.limit) << c.name << ": waited past the limit";
        }
        EXPECT_EQ(machine.childCommandLines,
                  std::vector<std::u16string>({u"\"C:\\Tools\\setup.exe\" /x"}))
            << c.name;
        // Whatever happened, no handle of the child is kept: a later wait finds nothing.
        EXPECT_EQ(machine.waitForChild(1, 0, false).error, codes::kInvalidHandle) << c.name;
    }
}

// A setup engine that hands its work to a copy of itself and exits at once: the registry
// export's wait ends with the process, an uninstaller's only when the copy has ended too.
TEST(ChildProcessTest, AnUninstallerIsWaitedForUntilTheCopyItStartedHasEnded) {
    FakePlatform machine;
    bool workDone = false;
    machine.onChild([&](const std::u16string&) {
        FakeChildBehaviour setup = Child(3010, 100);
        setup.handOffMilliseconds = 45 * 60000;
        setup.sideEffect = [&] { workDone = true; };
        return setup;
    });
    uint32_t exitCode = 1;
    EXPECT_TRUE(RunProcessAndWait(machine, u"reg.exe", exitCode, 20000).ended);
    EXPECT_EQ(machine.elapsedMilliseconds, 100u);
    EXPECT_FALSE(workDone);

    machine.elapsedMilliseconds = 0;
    exitCode = 1;
    int questions = 0;
    const ChildRun run =
        RunProcessAndWaitPatiently(machine, u"setup.exe", ChildRights::Program, exitCode,
                                   30 * 60000, [&](uint64_t) { return ++questions > 0; });
    EXPECT_TRUE(run.ended);
    EXPECT_TRUE(workDone);
    EXPECT_EQ(exitCode, 3010u) << "the exit code is the started process's";
    EXPECT_EQ(questions, 1) << "the time limit counts the copy's time too";
    EXPECT_EQ(machine.elapsedMilliseconds, 45 * 60000u + 100);
    ASSERT_EQ(machine.childStarts.size(), 2u);
    EXPECT_EQ(machine.childStarts[0].scope, ChildScope::Process);
    EXPECT_EQ(machine.childStarts[1].scope, ChildScope::ProcessTree);
}

TEST(ChildProcessTest, PassesLimitAndPaintingToTheWait) {
    WaitWatcher machine;
    machine.onChild([](const std::u16string&) { return Child(0, 10); });
    uint32_t exitCode = 1;
    RunProcessAndWait(machine, u"a.exe", exitCode, 20000);
    RunProcessAndWait(machine, u"b.exe", exitCode, codes::kInfinite, true);
    const std::vector<std::pair<uint32_t, bool>> expected = {{20000u, false},
                                                             {codes::kInfinite, true}};
    EXPECT_EQ(machine.waits, expected);
}

} // namespace
} // namespace tidewell
