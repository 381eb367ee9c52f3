#pragma once

#include "catalogue/ResidueItem.h"

#include <string>

namespace tidewell {

// Whether an install record's title names the product: the record is uninstalled by the
// one-click run. Plug-ins that merely mention the product are not.
bool isProductInstallRecord(const ResidueItem& item, ProductKind product);

// The command actually run for an uninstall command line: an MSI command is turned into a
// silent removal (/X, /qn unless a quiet switch is there, /norestart unless a restart option is
// named); anything else is run exactly as recorded.
std::u16string BuildSilentUninstallCommand(const std::u16string& command);

// The command with a first token that names msiexec without a folder (with or without ".exe",
// quoted or not) replaced by the Windows folder's System32\msiexec.exe, quoted; the rest stays
// as it is. Left unchanged when the Windows folder is not known.
std::u16string WithSystemMsiexec(const std::u16string& command,
                                 const std::u16string& windowsDirectory);

} // namespace tidewell
