// The clean-selected workflow, everything checked and confirmed, with each platform call
// failing in turn.

#include "FaultInjectionHarness.h"

#include "clean/CleanSelected.h"

namespace tidewell::fault_test {
namespace {

class FaultInjectionCleanTest : public ::testing::TestWithParam<ProductKind> {};

void CheckRun(FaultMachine& run, const FaultCase& fault) {
    const std::vector<ResidueItem>& processed = run.window.handedOut;
    ASSERT_GE(processed.size(), 10u);

    EXPECT_TRUE(EveryDeletionWasBackedUp(run)) << run.machine.dump();
    EXPECT_TRUE(EveryValueChangeWasBackedUp(run)) << run.machine.dump();
    EXPECT_TRUE(NothingOutsideTouched(run, processed, {}, fault.call == FakeCall::ShellFolder))
        << run.machine.dump();

    // The summary counts every item once, and so does the progress bar.
    ASSERT_EQ(run.machine.messages.size(), 2u);
    const FakePlatform::Message& done = run.machine.messages.back();
    EXPECT_FALSE(done.question);
    size_t succeeded = 0;
    size_t failed = 0;
    ASSERT_TRUE(SummaryNumbers(done.text, u"清理完成：成功 ", u"，失败 ", succeeded, failed))
        << ToUtf8(done.text);
    EXPECT_EQ(succeeded + failed, processed.size());
    EXPECT_EQ(run.window.progress.size(), processed.size());
    EXPECT_EQ(run.window.progress.back(), 100);
    ASSERT_FALSE(run.window.busyStates.empty());
    EXPECT_FALSE(run.window.busyStates.back().busy);
    EXPECT_EQ(run.window.busyStates.back().status, done.text.substr(0, done.text.find(u"\r\n")));

    // The log has one entry per item, and its marks agree with the summary.
    const std::optional<std::u16string> log = run.logText();
    if (!log) {
        EXPECT_EQ(fault.call, FakeCall::WriteFile) << "the log went missing";
        EXPECT_NE(done.text.find(u"清理日志：\r\n日志写入失败"), std::u16string::npos);
        return;
    }
    const std::vector<LogEntry> entries = LogEntries(*log, {u"[成功] ", u"[失败] "});
    EXPECT_TRUE(EachItemLogged(processed, entries)) << ToUtf8(*log);
    EXPECT_EQ(CountMark(entries, u"[成功] "), succeeded) << ToUtf8(*log);
    EXPECT_EQ(CountMark(entries, u"[失败] "), failed) << ToUtf8(*log);
    EXPECT_NE(done.text.find(kLogName), std::u16string::npos) << ToUtf8(done.text);
}

TEST_P(FaultInjectionCleanTest, EveryItemIsAccountedForAndNothingElseIsTouched) {
    const ProductKind product = GetParam();
    const Tally tally = ForEachFault(product, [](FaultMachine& run, const FaultCase& fault,
                                                 const std::function<void()>& inject) {
        run.scanFirst();
        run.window.isChecked = [](const ResidueItem&) { return true; };
        inject();
        run.machine.queueAnswers({true});
        CleanSelected(run.machine, run.window);
        CheckRun(run, fault);
    });
    EXPECT_GT(tally.runsWithFaults, tally.runs / 2);
    // The machine is seeded so that every call of the seam is made, failure paths included.
    EXPECT_EQ(tally.unreached(), "none");
}

TIDEWELL_FAULT_PRODUCTS(FaultInjectionCleanTest);

} // namespace
} // namespace tidewell::fault_test
