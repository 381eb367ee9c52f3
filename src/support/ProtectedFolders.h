#pragma once

#include "platform/Platform.h"

#include <string>

namespace tidewell {

// Where a place stands among the folders that a misconfigured location (ORACLE_HOME, TEMP, a
// base folder) must never take with it. The folders come from the environment, the shell and
// the system's own record in the registry, so an emptied variable does not unprotect one. Paths
// compare as CanonicalPath folds them, with short (8.3) names spelled out on either side.
// Ordered from the weakest to the strongest standing; a place that is several answers the
// strongest.
enum class FolderStanding {
    Ordinary,      // none of the below
    HoldsTemp,     // TEMP or TMP, or an ancestor of one
    InsideWindows, // below the Windows folder
    // The Windows folder, a program folder, ProgramData, the Users folder, a profile, Documents,
    // Desktop or an application data folder, or an ancestor of one
    SystemFolder,
    RootOrShare, // a drive root or a UNC share
    Unresolved,  // relative, a stream, or another share of this machine: CanonicalPath is empty
};
FolderStanding StandingOf(Platform& platform, const std::u16string& path);

} // namespace tidewell
