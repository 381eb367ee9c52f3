#pragma once

#include "catalogue/ResidueItem.h"
#include "clean/ActionResult.h"

#include <string>

namespace tidewell {

// Removes one item with the operation for its kind; registry items are exported into
// backupFolder first. A kind outside the known ones fails with "未知类型".
ActionResult CleanItem(Platform& platform, const std::u16string& backupFolder,
                       const ResidueItem& item);

// The log entry of one cleaned item: the mark for its outcome and its title, then its location
// and the result's message on lines of their own, indented by two blanks.
std::u16string CleanLogEntry(const ResidueItem& item, const ActionResult& result,
                             const std::u16string& successMark, const std::u16string& failureMark);

} // namespace tidewell
