// The scan with each platform call failing: it changes nothing, starts nothing, and whatever it
// still finds is something the scan of the healthy machine finds too.

#include "FaultInjectionHarness.h"

#include "catalogue/ScanCollector.h"

namespace tidewell::fault_test {
namespace {

class FaultInjectionScanTest : public ::testing::TestWithParam<ProductKind> {};

bool FileSystemKind(ItemKind kind) {
    return kind == ItemKind::Directory || kind == ItemKind::File;
}

TEST_P(FaultInjectionScanTest, FailingCallsOnlyHideResidues) {
    const ProductKind product = GetParam();
    std::set<std::u16string> healthy;
    {
        FaultMachine reference(product);
        reference.window.scan.runScan();
        for (const auto& item : reference.window.scan.items) {
            healthy.insert(dedupKey(*item));
        }
        ASSERT_GE(healthy.size(), 15u) << reference.machine.dump();
    }

    const Tally tally = ForEachFault(product, [&](FaultMachine& run, const FaultCase& fault,
                                                  const std::function<void()>& inject) {
        inject();
        run.window.scan.runScan();
        EXPECT_TRUE(run.machine.journal.empty()) << run.machine.dump();
        EXPECT_TRUE(run.machine.childCommandLines.empty());
        EXPECT_TRUE(run.machine.messages.empty());
        // Without its variables or folders the scan reads other bases (ProgramFiles for
        // ProgramW6432, say); otherwise a failure can only take items away.
        const bool basesMayMove =
            fault.call == FakeCall::EnvironmentVariable || fault.call == FakeCall::ShellFolder;
        for (const auto& item : run.window.scan.items) {
            if (!basesMayMove) {
                EXPECT_EQ(healthy.count(dedupKey(*item)), 1u) << ToUtf8(item->location);
            }
            if (FileSystemKind(item->kind)) {
                // Never a relative path nor a drive root.
                EXPECT_TRUE(item->location.size() > 3 && item->location[1] == u':' &&
                            item->location[2] == u'\\')
                    << ToUtf8(item->location);
            }
            if (item->kind == ItemKind::RegistryKey || item->kind == ItemKind::InstallRecord) {
                EXPECT_FALSE(item->registryPath.empty());
                EXPECT_NE(item->registryRoot, RegistryRoot::None);
            }
        }
    });
    // The calls that only cleaning makes (writing, appending, reading files and values) find
    // nothing to fail here.
    EXPECT_GT(tally.runsWithFaults, tally.runs / 4);
}

TIDEWELL_FAULT_PRODUCTS(FaultInjectionScanTest);

} // namespace
} // namespace tidewell::fault_test
