#pragma once

#include "platform/Platform.h"

#include <string>

namespace tidewell {

// Some residue locations come from the machine rather than the catalogue (ORACLE_HOME, TEMP,
// the base folders). A misconfigured one must not take the system or the user's data with it:
// drive roots, the Windows folder and everything in it, both program folders, ProgramData, the
// Users folder, the profile, Documents, Desktop, the application data folders and TEMP itself,
// and every ancestor of these, are never removed or entered: whatever StandingOf does not call
// ordinary. The folders come from the environment, the shell and the system's own record in the
// registry, so an emptied variable does not unprotect one. Paths compare as Windows reads them (CanonicalPath: ASCII case folded,
// "/" read as "\", "." and ".." resolved, trailing separators, dots and blanks ignored, this
// machine's administrative shares read as their folders) with short (8.3) names spelled out.
// Relative paths, streams ("C:\Windows::$INDEX_ALLOCATION") and other shares of this machine
// are refused outright.
bool IsProtectedLocation(Platform& platform, const std::u16string& path);

// What a refused item's log line says.
extern const char16_t kProtectedLocationMessage[];

} // namespace tidewell
