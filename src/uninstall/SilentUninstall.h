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

} // namespace tidewell
