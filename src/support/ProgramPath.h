#pragma once

#include "platform/Platform.h"

#include <string>

// Where a command line's program lies: a service's binary path, an uninstall command, an icon.
namespace tidewell {

// The full path of the program a command line starts, as the service manager and the system
// read it: a quoted path up to its closing quote; an unquoted one up to the first blank that
// follows ".exe", else up to the first blank; "%NAME%" references expanded from this program's
// environment; the kernel's forms "\??\C:\...", "\\?\C:\..." and "\SystemRoot\..." (and a path
// that starts "System32\", taken from the Windows folder) spelled as ordinary paths; short (8.3)
// names spelled out. Empty when the text names no absolute path (a bare "msiexec.exe").
std::u16string ProgramPathOf(Platform& platform, const std::u16string& commandLine);

// A path as the tree removal compares paths: ASCII letters folded, "/" read as "\", trailing
// separators dropped.
std::u16string ComparablePath(const std::u16string& path);

// Whether path is folder itself or lies inside it, by whole names, both compared as above.
bool PathIsAtOrBelow(const std::u16string& path, const std::u16string& folder);
// The same for paths already made comparable.
bool ComparableIsAtOrBelow(const std::u16string& path, const std::u16string& folder);

// The folder that holds the path's last name; empty when there is none.
std::u16string ParentFolder(const std::u16string& path);

} // namespace tidewell
