#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <string>

namespace tidewell {

// What every cleaning operation returns.
struct ActionResult {
    bool success = false;       // the item counts as cleaned; already gone counts too
    std::u16string message;     // one log line
    bool rebootPending = false; // something was registered for deletion at the next restart
    std::u16string backupFile;  // the checked registry export the deletion went ahead on
};

// The system's text for an error code without its trailing line breaks, or "未知错误".
std::u16string SystemErrorText(Platform& platform, uint32_t code);

} // namespace tidewell
