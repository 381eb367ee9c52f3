#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tidewell {

// The text of a registry value as the install-record scanner reads it: empty unless the read
// succeeded (error 0) and the type is REG_SZ (1) or REG_EXPAND_SZ (2). The bytes are taken into
// a zero-filled buffer one UTF-16 unit longer than the data, and the text ends at the first zero
// unit, so data stored without a terminator or with an odd byte count still reads cleanly.
// REG_EXPAND_SZ data is returned as stored, without expanding references.
std::u16string DecodeRegistryText(uint32_t error, uint32_t type, const std::vector<uint8_t>& bytes);

} // namespace tidewell
