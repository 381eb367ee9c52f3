#pragma once

#include "platform/ExtendedLengthPath.h"

#include <cstdint>
#include <string>

// What the files of the Win32 platform share among themselves.
namespace tidewell::win32 {

// Registry and environment values that change between the sizing call and the read are read
// again, a few times at most.
inline constexpr int kReadAttempts = 4;

// How often a long loop looks at the main window's queue: well under the 5 s after which
// Windows calls a window hung, and short enough that repainting keeps up with the status line.
inline constexpr uint64_t kQueueLookMilliseconds = 40;

// Every file call hands its path to the system in the form ExtendedLengthPath gives: plain as
// the caller wrote it where that reaches it, "\\?\..." where the path is too long for the call or
// names what a listing gave with a trailing dot or blank.
inline std::u16string SystemPath(const std::u16string& path) {
    return ExtendedLengthPath(path, kPlainPathLimit);
}

} // namespace tidewell::win32
