#pragma once

#include "clean/WorkflowWindow.h"
#include "platform/Platform.h"

namespace tidewell {

// The clean button: after a confirmation, removes every checked item in tree order, logs each
// result, writes the run's log to the desktop, scans again and reports a summary.
void CleanSelected(Platform& platform, WorkflowWindow& window);

} // namespace tidewell
