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
// export's wait ends with the process, an uninstaller's only when the copy has ended too, also
// when this program's own job keeps the child out of a job of its own (Windows 7), or keeps it
// from breaking away as well: its descendants are then followed.
TEST(ChildProcessTest, AnUninstallerIsWaitedForUntilTheCopyItStartedHasEnded) {
    const struct {
        FakeJobs jobs;
        ChildTracking tracking;
    } cases[] = {
        {FakeJobs::Nested, ChildTracking::Job},
        {FakeJobs::AssignmentRefused, ChildTracking::BreakawayAndJob},
        {FakeJobs::BreakawayRefused, ChildTracking::Descendants},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.jobs));
        FakePlatform machine;
        machine.jobs = c.jobs;
        bool workDone = false;
        machine.onChild([&](const std::u16string&) {
            FakeChildBehaviour setup = Child(3010, 100);
            setup.handOffMilliseconds = 45 * 60000;
            setup.sideEffect = [&] { workDone = true; };
            return setup;
        });
        uint32_t exitCode = 1;
        EXPECT_TRUE(RunProcessAndWait(machine, u"C:\\Tools\\reg.exe", exitCode, 20000).ended);
        EXPECT_EQ(machine.elapsedMilliseconds, 100u);
        EXPECT_FALSE(workDone);

        machine.elapsedMilliseconds = 0;
        exitCode = 1;
        int questions = 0;
        const ChildRun run = RunProcessAndWaitPatiently(machine, u"C:\\Tools\\setup.exe",
                                                        ChildRights::Program, exitCode, 30 * 60000,
                                                        [&](uint64_t) { return ++questions > 0; });
        EXPECT_TRUE(run.ended);
        EXPECT_TRUE(workDone);
        EXPECT_EQ(exitCode, 3010u) << "the exit code is the started process's";
        EXPECT_EQ(questions, 1) << "the time limit counts the copy's time too";
        EXPECT_EQ(machine.elapsedMilliseconds, 45 * 60000u + 100);
        ASSERT_EQ(machine.childStarts.size(), 2u);
        EXPECT_EQ(machine.childStarts[0].scope, ChildScope::Process);
        EXPECT_EQ(machine.childStarts[0].tracking, ChildTracking::None);
        EXPECT_EQ(machine.childStarts[1].scope, ChildScope::ProcessTree);
        EXPECT_EQ(machine.childStarts[1].tracking, c.tracking);
    }
}

// A program named without a folder is the system's: looked for in the system folder, then the
// Windows folder, never beside this program or in the current folder. A relative path is
// refused; a full path is left to the system.
TEST(ChildProcessTest, ABareProgramIsTheSystemsOwn) {
    FakePlatform machine;
    machine.setWindowsDirectory(u"C:\\Windows");
    for (const char16_t* file : {u"System32\\msiexec.exe", u"System32\\cmd.exe",
                                 u"System32\\rundll32.exe", u"regedit.exe"}) {
        machine.addFile(JoinPath(u"C:\\Windows", file));
    }
    machine.addDirectory(u"C:\\Windows\\System32\\Tasks.exe");
    machine.setEnvironment(u"ProgramData", u"C:\\ProgramData");
    machine.setEnvironment(u"ComSpec", u"C:\\Windows\\System32\\cmd.exe");
    const std::u16string msiexec = u"C:\\Windows\\System32\\msiexec.exe";
    const std::u16string cmd = u"C:\\Windows\\System32\\cmd.exe";
    const auto none = ProgramRefusal::None;
    const struct {
        const char16_t* command;
        ProgramRefusal refusal;
        std::u16string program;
        std::u16string application; // empty: started as written
        std::u16string run;
    } cases[] = {
        {u"MsiExec.exe /X{A} /qn", none, u"MsiExec.exe", msiexec,
         u"\"" + msiexec + u"\" /X{A} /qn"},
        {u"msiexec /x{A}", none, u"msiexec", msiexec, u"\"" + msiexec + u"\" /x{A}"},
        {u"\"MSIEXEC.EXE\" /x {A}", none, u"MSIEXEC.EXE", msiexec, u"\"" + msiexec + u"\" /x {A}"},
        {u"\"msiexec\"/x{A}", none, u"msiexec", msiexec, u"\"" + msiexec + u"\"/x{A}"},
        {u"  msiexec\t/x{A}", none, u"msiexec", msiexec, u"\"" + msiexec + u"\"\t/x{A}"},
        {u"msiexec", none, u"msiexec", msiexec, u"\"" + msiexec + u"\""},
        {u"cmd /c \"C:\\x\\u.exe\" -q", none, u"cmd", cmd,
         u"\"" + cmd + u"\" /c \"C:\\x\\u.exe\" -q"},
        {u"RunDll32 \"C:\\x\\a.dll\",Remove", none, u"RunDll32",
         u"C:\\Windows\\System32\\rundll32.exe",
         u"\"C:\\Windows\\System32\\rundll32.exe\" \"C:\\x\\a.dll\",Remove"},
        {u"regedit /s x.reg", none, u"regedit", u"C:\\Windows\\regedit.exe",
         u"\"C:\\Windows\\regedit.exe\" /s x.reg"},
        // Neither system folder holds it: whatever lies beside this program is not run.
        {u"wscript remove.vbs", ProgramRefusal::NotInSystemFolders, u"wscript", u"", u""},
        {u"setup.exe msiexec", ProgramRefusal::NotInSystemFolders, u"setup.exe", u"", u""},
        {u"Tasks /x", ProgramRefusal::NotInSystemFolders, u"Tasks", u"", u""},
        {u"\"msiexec /x{A}", ProgramRefusal::RelativePath, u"msiexec /x{A}", u"", u""},
        // A folder from a root: the system's own rules find it.
        {u"\"C:\\Tools\\msiexec.exe\" /x{A}", none, u"C:\\Tools\\msiexec.exe", u"",
         u"\"C:\\Tools\\msiexec.exe\" /x{A}"},
        {u"C:\\Program Files\\X\\u.exe /S", none, u"C:\\Program", u"",
         u"C:\\Program Files\\X\\u.exe /S"},
        {u"\\\\server\\share\\u.exe", none, u"\\\\server\\share\\u.exe", u"",
         u"\\\\server\\share\\u.exe"},
        // From the current folder.
        {u".\\cmd.exe /c x", ProgramRefusal::RelativePath, u".\\cmd.exe", u"", u""},
        {u"Tools\\u.exe", ProgramRefusal::RelativePath, u"Tools\\u.exe", u"", u""},
        {u"C:cmd.exe", ProgramRefusal::RelativePath, u"C:cmd.exe", u"", u""},
        {u"", none, u"", u"", u""},
        // A REG_EXPAND_SZ command: its variables are the system's to fill in.
        {u"%ProgramData%\\Package Cache\\u.exe /x %1 50%", none, u"C:\\ProgramData\\Package", u"",
         u"C:\\ProgramData\\Package Cache\\u.exe /x %1 50%"},
        {u"%Nowhere%\\u.exe", ProgramRefusal::RelativePath, u"%Nowhere%\\u.exe", u"", u""},
        {u"%ComSpec% /c x", none, u"C:\\Windows\\System32\\cmd.exe", u"",
         u"C:\\Windows\\System32\\cmd.exe /c x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.command));
        const ResolvedCommand resolved = ResolveCommandProgram(machine, c.command);
        EXPECT_EQ(resolved.refusal, c.refusal);
        EXPECT_EQ(ToUtf8(resolved.program), ToUtf8(c.program));
        EXPECT_EQ(ToUtf8(resolved.application), ToUtf8(c.application));
        if (c.refusal == none) {
            EXPECT_EQ(ToUtf8(resolved.commandLine), ToUtf8(c.run.empty() ? c.command : c.run));
        }
    }

    // A 32-bit program on 64-bit Windows sees SysWOW64 as its system folder.
    machine.setSystemDirectory(u"C:\\Windows\\SysWOW64");
    machine.addFile(u"C:\\Windows\\SysWOW64\\cmd.exe");
    EXPECT_EQ(ResolveCommandProgram(machine, u"cmd /c x").application,
              u"C:\\Windows\\SysWOW64\\cmd.exe");
    EXPECT_EQ(ResolveCommandProgram(machine, u"msiexec").refusal,
              ProgramRefusal::NotInSystemFolders);

    // The runner starts what it resolved, by its full path, and nothing it refused.
    machine.onChild([](const std::u16string&) { return Child(0, 10); });
    uint32_t exitCode = 1;
    const ChildRun refused = RunProcessAndWait(machine, u"wscript remove.vbs", exitCode, 20000);
    EXPECT_FALSE(refused.ended);
    EXPECT_EQ(refused.refusal, ProgramRefusal::NotInSystemFolders);
    EXPECT_EQ(refused.program, u"wscript");
    EXPECT_TRUE(machine.childStarts.empty());
    EXPECT_TRUE(RunProcessAndWait(machine, u"cmd /c x", exitCode, 20000).ended);
    ASSERT_EQ(machine.childStarts.size(), 1u);
    EXPECT_EQ(machine.childStarts[0].application, u"C:\\Windows\\SysWOW64\\cmd.exe");
    EXPECT_EQ(machine.childStarts[0].commandLine, u"\"C:\\Windows\\SysWOW64\\cmd.exe\" /c x");
}

TEST(ChildProcessTest, PassesLimitAndPaintingToTheWait) {
    WaitWatcher machine;
    machine.onChild([](const std::u16string&) { return Child(0, 10); });
    uint32_t exitCode = 1;
    RunProcessAndWait(machine, u"C:\\a.exe", exitCode, 20000);
    RunProcessAndWait(machine, u"C:\\b.exe", exitCode, codes::kInfinite, true);
    const std::vector<std::pair<uint32_t, bool>> expected = {{20000u, false},
                                                             {codes::kInfinite, true}};
    EXPECT_EQ(machine.waits, expected);
}

} // namespace
} // namespace tidewell
