#pragma once

#include "contract/MachinePreparer.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

// The checks that every Platform passes, instantiated once per machine:
//   INSTANTIATE_TEST_SUITE_P(Fake, PlatformContract, testing::Values(FakeContractMachine()),
//                            ContractMachineNamer());
namespace tidewell {

class PlatformContract : public testing::TestWithParam<ContractMachine> {
protected:
    void SetUp() override;
    void TearDown() override;

    Platform& platform() { return preparer->platform(); }
    std::u16string scratch(const std::u16string& relative) const;
    std::u16string scratchKey(const std::u16string& relative) const; // Software\<run>\relative

    std::unique_ptr<MachinePreparer> preparer;
    std::u16string folder;
    std::u16string keyName;
};

inline void PrintTo(const ContractMachine& machine, std::ostream* out) {
    *out << machine.name;
}

struct ContractMachineNamer {
    std::string operator()(const testing::TestParamInfo<ContractMachine>& info) const {
        return info.param.name;
    }
};

} // namespace tidewell
