#pragma once

#include "clean/WorkflowWindow.h"
#include "platform/Platform.h"

namespace tidewell {

// The one-click button: runs the silent uninstaller of every install record of the product,
// one after the other, and only when all of them succeed scans again and removes what is left,
// sparing services, shared components and shared processes.
void OneClickUninstall(Platform& platform, WorkflowWindow& window);

} // namespace tidewell
