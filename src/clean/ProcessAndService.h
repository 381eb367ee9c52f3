#pragma once

#include "catalogue/ResidueItem.h"
#include "clean/ActionResult.h"

namespace tidewell {

// Ends the process whose id the item's location holds, with exit code 0. The id is used only
// while it still belongs to the executable the scan saw (the title's name before "（PID "):
// otherwise the scanned process is gone and whatever holds the id now is left alone.
ActionResult EndProcess(Platform& platform, const ResidueItem& item);

// Sends one stop request to the service whose key name the item's location holds. The service
// stays registered; an already stopped service is success.
ActionResult StopService(Platform& platform, const ResidueItem& item);

// The leading decimal digits of the text after leading white space; 0 when there are none.
uint32_t ParseProcessId(const std::u16string& text);

} // namespace tidewell
