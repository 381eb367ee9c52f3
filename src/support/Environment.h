#pragma once

#include "platform/Platform.h"

#include <string>

// Folders and variables of the running system, read through the platform.
namespace tidewell {

// Creates the directory and any missing parents. True when it exists afterwards; a drive root
// such as "C:\" is never split further.
bool EnsureDirectory(Platform& platform, const std::u16string& path);

// The variable's value, or empty when it is not defined (or defined empty). Not expanded.
std::u16string ReadEnvironmentVariable(Platform& platform, const std::u16string& name);

// The special folder's current path, or empty when the shell cannot tell it.
std::u16string ShellFolderPath(Platform& platform, ShellFolder folder);

} // namespace tidewell
