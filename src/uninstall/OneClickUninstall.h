#pragma once

#include "catalogue/ResidueItem.h"
#include "clean/WorkflowWindow.h"
#include "platform/Platform.h"

namespace tidewell {

// The one-click button: runs the silent uninstaller of every install record of the product,
// one after the other, and only when all of them succeed scans again and removes what is left,
// sparing services, shared components and shared processes.
void OneClickUninstall(Platform& platform, WorkflowWindow& window);

// Why the run leaves the item to the user, or empty when it removes it: services, shared data,
// processes that are not "安全项" (a service's or another user's), the entries of a TEMP that
// names a root or a system folder (they need not be temporary at all), the folder ORACLE_HOME
// names, the homes Oracle registered, the environment values and Path entries that still point
// at an existing folder (another program may use that Oracle client), folders and files still
// in use (a service's program, another product's installation).
std::u16string LeftByOneClickBecause(const ResidueItem& item);
bool LeftByOneClick(const ResidueItem& item);

} // namespace tidewell
