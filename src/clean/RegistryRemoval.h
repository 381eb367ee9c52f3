#pragma once

#include "catalogue/ResidueItem.h"
#include "clean/ActionResult.h"

#include <string>

namespace tidewell {

// The nine characters a file name cannot hold become '_'; the result is cut to 70 code units.
// Nothing is trimmed.
std::u16string SanitizeFileName(const std::u16string& text);

// The export command for System32\reg.exe, each piece in double quotes, ending in /y and the
// view switch.
std::u16string RegistryExportCommand(const std::u16string& windowsDirectory,
                                     const ResidueItem& item, const std::u16string& backupFile);

// Exports the item's branch into the run's backup folder with reg.exe and, only when the export
// ended with exit code 0 within 20 seconds and its file is there, deletes it in the item's own
// view. A branch that no longer opens is success without an export; a name taken in the folder
// gets " (2)", " (3)" ...; a title that would name a device (CON, NUL.x, COM1 ...) gets a
// leading '_'.
ActionResult BackupAndDeleteRegistryKey(Platform& platform, const std::u16string& backupFolder,
                                        const ResidueItem& item);

} // namespace tidewell
