#pragma once

#include "catalogue/ResidueItem.h"
#include "catalogue/ScanSession.h"

#include <string>
#include <vector>

namespace tidewell {

// What the cleaning workflows need of the main window: the scan session it shows, the user's
// selection, and the controls that report progress. Message boxes, the cursor and repaints go
// through the platform.
class WorkflowWindow {
public:
    virtual ~WorkflowWindow() = default;

    virtual ScanSession& session() = 0;
    // The items of the checked leaves, in tree pre-order; they point into session().items.
    virtual std::vector<ResidueItem*> checkedItems() = 0;
    // Busy: the buttons and the tree disabled, the text in the status line, the wait cursor.
    // Idle: all enabled, the clean button only when there are items; the arrow cursor.
    virtual void setBusy(bool busy, const std::u16string& status) = 0;
    virtual void setProgress(int position) = 0;
};

} // namespace tidewell
