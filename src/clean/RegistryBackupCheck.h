#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <string>

namespace tidewell {

struct BackupCheck {
    bool matches = false;
    uint32_t readError = 0; // non-zero: the branch itself could not be read (this code)
    std::u16string problem; // when it does not match: the log line that says why
};

// Compares a registry export with the branch it was made of, read through the platform in its
// own root and view: the same keys (names compared ignoring ASCII case), in each the same values
// with the same types and data. REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data compare as text, so
// a missing terminating zero in the stored data is no difference; every other type compares
// byte for byte. exportedName is the branch's name as the file's first section gives it
// (HKEY_LOCAL_MACHINE\Software\...).
BackupCheck CheckRegistryBackup(Platform& platform, const std::string& fileBytes, RegistryRoot root,
                                RegistryView view, const std::u16string& path,
                                const std::u16string& exportedName);

} // namespace tidewell
