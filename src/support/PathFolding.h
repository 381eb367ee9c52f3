#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <string>
#include <vector>

// Paths as Windows reads them, for comparing two spellings of one place: the protected-locations
// guard and the check that no link above an item leads elsewhere fold them the same way.
namespace tidewell {

// What makes a path local that does not look local: the names this machine answers to, and
// the Windows folder that its ADMIN$ share stands for.
struct LocalNames {
    std::vector<std::u16string> hosts; // folded; "localhost" and the loopback addresses aside
    std::u16string windows;            // the Windows folder as the system gives it
};
LocalNames ReadLocalNames(Platform& platform);

// The path as Windows resolves it, folded: "c:\program files\oracle" or "\\server\share\x".
// "/" reads as "\", "." and ".." are resolved, trailing dots and blanks of each name dropped,
// the long-path and device forms taken off, and an administrative share of this machine
// ("\\localhost\C$", "\\127.0.0.1\C$", "\\<its own name>\ADMIN$") read as the folder it shares.
// Empty when the path is not absolute, names a stream (a ':' after the drive's own) or another
// share of this machine, whose folder only the server knows.
std::u16string CanonicalPath(const std::u16string& path, const LocalNames& local);

// Whether a path's parent folder is where its text says. A junction or link at any level above
// the path can make the same text reach another place.
enum class ParentRoute {
    AsWritten,   // the parent is where the text says (or the path has no parent to check)
    ThroughLink, // a link above the path leads elsewhere
    Missing,     // the parent does not exist: nothing is reached through it
    Unknown,     // the system could not tell where the parent is
};
struct ParentCheck {
    ParentRoute route = ParentRoute::AsWritten;
    uint32_t error = 0;     // Unknown: the system's code
    std::u16string reached; // AsWritten, ThroughLink: where the parent really is ("C:\...")
    std::u16string leaf;    // the path's last name
};
// Opens the parent and compares where the system says it is with the text, after the folding
// above with short (8.3) names spelled out.
ParentCheck CheckParentRoute(Platform& platform, const std::u16string& path,
                             const LocalNames& local);

} // namespace tidewell
