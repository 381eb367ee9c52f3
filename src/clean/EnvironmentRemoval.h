#pragma once

#include "catalogue/ResidueItem.h"
#include "clean/ActionResult.h"

#include <string>

namespace tidewell {

// How long each running window is given to take note of a changed environment.
constexpr uint32_t kEnvironmentAnnounceMilliseconds = 5000;

// Removes an environment value, or one entry of Path, never without a backup: the value as
// stored is written into a .reg file of the run's backup folder, read back and compared with
// the registry; only then is the value deleted, or Path written again without the entry and
// with every other unit as it was. Running programs are then told. A value or entry that is no
// longer there is success; a backup that fails or does not match cancels the change.
ActionResult BackupAndRemoveEnvironmentValue(Platform& platform, const std::u16string& backupFolder,
                                             const ResidueItem& item);

} // namespace tidewell
