#pragma once

#include "catalogue/ResidueItem.h"
#include "clean/ActionResult.h"
#include "support/RunLog.h"

#include <string>
#include <vector>

namespace tidewell {

// Removes one item with the operation for its kind; registry items are exported into
// backupFolder first. A kind outside the known ones fails with "未知类型". A folder removal
// leaves the kept locations below it alone. A file or folder that a link above it leads
// elsewhere fails with kThroughLinkMessage and is left alone.
extern const char16_t kThroughLinkMessage[];

ActionResult CleanItem(Platform& platform, const std::u16string& backupFolder,
                       const ResidueItem& item, const std::vector<std::u16string>& kept = {});

// The locations of the scan's folders and files that the run is not removing: no removal may
// take them with their parent.
std::vector<std::u16string> KeptLocations(const ItemList& items,
                                          const std::vector<ResidueItem*>& removing);

// The log entry of one cleaned item: the mark for its outcome and its title, then its location
// and the result's message on lines of their own, indented by two blanks.
std::u16string CleanLogEntry(const ResidueItem& item, const ActionResult& result,
                             const std::u16string& successMark, const std::u16string& failureMark);

// When the item's deletion went ahead on a registry export, adds it to the run's restores and
// writes the backup folder's restore note again, so that the note is there however the run ends.
void NoteRestore(Platform& platform, const std::u16string& backupFolder, const ResidueItem& item,
                 const ActionResult& result, std::vector<RestoreEntry>& restores);

} // namespace tidewell
