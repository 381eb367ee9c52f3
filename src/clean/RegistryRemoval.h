#pragma once

#include "catalogue/ResidueItem.h"
#include "clean/ActionResult.h"

#include <string>

namespace tidewell {

// The nine characters a file name cannot hold become '_'; the result is cut to 70 code units.
// Nothing is trimmed.
std::u16string SanitizeFileName(const std::u16string& text);

// A free file name in the backup folder for the backup of the item titled so: the sanitized title
// and ".reg", " (2)", " (3)" ... before it when taken, a leading '_' where it would name a device.
std::u16string BackupFilePath(Platform& platform, const std::u16string& backupFolder,
                              const std::u16string& title);

// The key as reg.exe is told to export it. On 64-bit Windows a 32-bit-view branch under
// HKLM\Software is named where it is stored, Software\WOW6432Node\..., in the 64-bit view: the
// file then names that key, and importing it in the 64-bit view (double-click, or "reg import
// ... /reg:64" from either command prompt) restores the branch into its own view instead of
// over a 64-bit branch of the same name.
struct ExportedKey {
    std::u16string rootName; // HKCU or HKLM
    std::u16string path;
    std::u16string viewSwitch; // /reg:64 or /reg:32; none on 32-bit Windows
};
ExportedKey ExportedKeyOf(const ResidueItem& item, bool on64BitWindows);

// The export command for System32\reg.exe, each piece in double quotes, ending in /y and the
// view switch when there is one.
std::u16string RegistryExportCommand(const std::u16string& windowsDirectory, const ExportedKey& key,
                                     const std::u16string& backupFile);

// Exports the item's branch into the run's backup folder with reg.exe and, only when the export
// ended with exit code 0 within 20 seconds and its file holds exactly what the branch holds,
// deletes it in the item's own view; the result then names the file (backupFile). A branch that no
// longer opens is success without an export; a name taken in the folder gets " (2)", " (3)" ...; a
// title that would name a device (CON, NUL.x, COM1 ...) gets a leading '_'.
ActionResult BackupAndDeleteRegistryKey(Platform& platform, const std::u16string& backupFolder,
                                        const ResidueItem& item);

} // namespace tidewell
