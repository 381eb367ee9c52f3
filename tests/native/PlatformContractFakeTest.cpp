#include "contract/PlatformContract.h"

namespace tidewell {
namespace {

// The platform contract on the in-memory machine; the Windows test program runs the same checks
// against the real system as well.
INSTANTIATE_TEST_SUITE_P(Machines, PlatformContract, testing::Values(FakeContractMachine()),
                         ContractMachineNamer());

} // namespace
} // namespace tidewell
