// The one-click uninstall, confirmed, with uninstallers that succeed and take their records,
// while each platform call fails in turn.

#include "FaultInjectionHarness.h"

#include "support/ChildProcess.h"
#include "uninstall/OneClickUninstall.h"

namespace tidewell::fault_test {
namespace {

class FaultInjectionOneClickTest : public ::testing::TestWithParam<ProductKind> {};

// The log's lines that start with the mark, without it.
std::vector<std::u16string> Lines(const std::u16string& log, const std::u16string& mark) {
    std::vector<std::u16string> lines;
    for (const std::u16string& line : LogLines(log)) {
        if (line.compare(0, mark.size(), mark) == 0) {
            lines.push_back(line.substr(mark.size()));
        }
    }
    return lines;
}

// Each title has exactly one line among the lines, as "title：reason".
::testing::AssertionResult OneLineEach(const std::vector<ResidueItem>& items,
                                       std::vector<std::u16string> lines) {
    if (lines.size() != items.size()) {
        return ::testing::AssertionFailure()
               << lines.size() << " lines for " << items.size() << " items";
    }
    for (const auto& item : items) {
        const std::u16string head = item.title + u"：";
        auto line = std::find_if(lines.begin(), lines.end(), [&](const std::u16string& text) {
            return text.compare(0, head.size(), head) == 0;
        });
        if (line == lines.end()) {
            return ::testing::AssertionFailure() << "no line for " << ToUtf8(item.title);
        }
        lines.erase(line);
    }
    return ::testing::AssertionSuccess();
}

// What the run removes after the uninstallers: the new scan without what the run leaves to the
// user, and without the install records it did not run.
std::vector<ResidueItem> CleanListOf(const std::vector<ResidueItem>& scan,
                                     const std::vector<ResidueItem>& ran) {
    std::vector<ResidueItem> list;
    for (const auto& item : scan) {
        const bool notRun = item.kind == ItemKind::InstallRecord &&
                            std::none_of(ran.begin(), ran.end(), [&](const ResidueItem& record) {
                                return record.location == item.location;
                            });
        if (!LeftByOneClick(item) && !notRun) {
            list.push_back(item);
        }
    }
    return list;
}

struct Before {
    std::vector<ResidueItem> records;
    std::vector<ResidueItem> ownProcesses;
    std::vector<std::u16string> commands;
};

// Returns true when the run went on to remove residues.
bool CheckRun(FaultMachine& run, const FaultCase& fault, const Before& before) {
    const bool shellFault = fault.call == FakeCall::ShellFolder;
    EXPECT_TRUE(EveryDeletionWasBackedUp(run)) << run.machine.dump();
    EXPECT_TRUE(EveryValueChangeWasBackedUp(run)) << run.machine.dump();
    EXPECT_EQ(run.machine.messages.size(), 2u);
    const FakePlatform::Message& done = run.machine.messages.back();
    EXPECT_FALSE(done.question);
    const std::optional<std::u16string> log = run.logText();
    EXPECT_TRUE(log || fault.call == FakeCall::WriteFile) << "the log went missing";
    const std::u16string text = log.value_or(u"");

    if (done.title == u"卸载未完成") {
        // Nothing removed: only the product's processes ended, and the uninstallers ran.
        EXPECT_TRUE(NothingOutsideTouched(run, before.ownProcesses, before.commands, shellFault))
            << run.machine.dump();
        EXPECT_TRUE(run.window.shownScans.empty());
        EXPECT_TRUE(run.window.progress.empty());
        size_t failures = 0;
        EXPECT_TRUE(NumberAfter(done.text, u"有 ", failures)) << ToUtf8(done.text);
        EXPECT_GE(failures, 1u);
        if (log) {
            EXPECT_TRUE(OneLineEach(before.ownProcesses, Lines(text, u"[结束进程] ")))
                << ToUtf8(text);
            std::vector<std::u16string> uninstalls = Lines(text, u"[卸载成功] ");
            const std::vector<std::u16string> failed = Lines(text, u"[卸载失败] ");
            uninstalls.insert(uninstalls.end(), failed.begin(), failed.end());
            EXPECT_TRUE(OneLineEach(before.records, uninstalls)) << ToUtf8(text);
            EXPECT_EQ(failed.size(), failures) << ToUtf8(text);
            EXPECT_TRUE(Lines(text, u"[清理").empty()) << ToUtf8(text);
        }
        return false;
    }

    // Every uninstall succeeded: the scan after them decides what is removed.
    EXPECT_EQ(done.title, u"操作完成");
    EXPECT_EQ(run.window.shownScans.size(), 2u);
    if (run.window.shownScans.empty()) {
        return false;
    }
    const std::vector<ResidueItem> cleanList =
        CleanListOf(run.window.shownScans[0], before.records);
    std::vector<ResidueItem> processed = before.ownProcesses;
    processed.insert(processed.end(), cleanList.begin(), cleanList.end());
    EXPECT_TRUE(NothingOutsideTouched(run, processed, before.commands, shellFault))
        << run.machine.dump();

    size_t succeeded = 0;
    size_t failed = 0;
    EXPECT_TRUE(
        SummaryNumbers(done.text, u"一键卸载并清理完成：清理成功 ", u"，失败 ", succeeded, failed))
        << ToUtf8(done.text);
    EXPECT_EQ(succeeded + failed, cleanList.size());
    EXPECT_EQ(run.window.progress.size(), cleanList.size());
    if (log) {
        EXPECT_TRUE(OneLineEach(before.ownProcesses, Lines(text, u"[结束进程] "))) << ToUtf8(text);
        EXPECT_TRUE(OneLineEach(before.records, Lines(text, u"[卸载成功] "))) << ToUtf8(text);
        EXPECT_TRUE(Lines(text, u"[卸载失败] ").empty()) << ToUtf8(text);
        const std::vector<LogEntry> entries = LogEntries(text, {u"[清理成功] ", u"[清理失败] "});
        EXPECT_TRUE(EachItemLogged(cleanList, entries)) << ToUtf8(text);
        EXPECT_EQ(CountMark(entries, u"[清理成功] "), succeeded) << ToUtf8(text);
        EXPECT_EQ(CountMark(entries, u"[清理失败] "), failed) << ToUtf8(text);
    }
    return true;
}

TEST_P(FaultInjectionOneClickTest, EveryItemIsAccountedForAndNothingElseIsTouched) {
    const ProductKind product = GetParam();
    int removalRuns = 0;
    const Tally tally = ForEachFault(product, [&](FaultMachine& run, const FaultCase& fault,
                                                  const std::function<void()>& inject) {
        run.scanFirst();
        Before before;
        for (const auto& item : run.window.scan.items) {
            if (item->kind == ItemKind::InstallRecord && isProductInstallRecord(*item, product)) {
                before.records.push_back(*item);
                before.commands.push_back(
                    ResolveCommandProgram(run.machine,
                                          BuildSilentUninstallCommand(item->uninstallCommand))
                        .commandLine);
            }
            if (item->kind == ItemKind::Process && item->risk == RiskLevel::Safe) {
                before.ownProcesses.push_back(*item);
            }
        }
        ASSERT_GE(before.records.size(), 2u);
        inject();
        run.machine.queueAnswers({true});
        OneClickUninstall(run.machine, run.window);
        removalRuns += CheckRun(run, fault, before) ? 1 : 0;
    });
    // Most faults leave the uninstallers alone, so most runs reach the removal.
    EXPECT_GT(removalRuns, tally.runs / 2);
    EXPECT_GT(tally.runsWithFaults, tally.runs / 2);
    // Every call is made but the one that stops services: the run never stops them.
    EXPECT_EQ(tally.unreached(), "StopService");
}

TIDEWELL_FAULT_PRODUCTS(FaultInjectionOneClickTest);

} // namespace
} // namespace tidewell::fault_test
