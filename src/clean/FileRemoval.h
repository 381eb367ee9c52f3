#pragma once

#include "clean/ActionResult.h"

#include <string>
#include <vector>

namespace tidewell {

// Deletes one file after clearing read-only, hidden and system; what cannot be deleted now is
// registered for deletion at the next restart. A missing file is success.
ActionResult RemoveFile(Platform& platform, const std::u16string& path);

// Deletes a directory with everything below it, children before the directory that holds them,
// so restart registrations are made in an order Windows can carry out. Directory links inside
// are removed as links and never entered. A missing path or a plain file there is success.
// Kept locations (the scan's items that the run is not removing) met on the walk are left
// untouched with everything below them, and so are the folders that lead to them; the message
// then names them.
ActionResult RemoveDirectoryTree(Platform& platform, const std::u16string& path,
                                 const std::vector<std::u16string>& kept = {});

} // namespace tidewell
