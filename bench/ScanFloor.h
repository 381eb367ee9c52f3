#pragma once

#include <cstddef>

namespace tidewell::bench {

// What the bare scan saw, to check that it did the same work as the real one.
struct FloorCounts {
    size_t processes = 0;
    size_t services = 0;
    size_t vendorEntries = 0; // entries listed in the five vendor folders
    size_t vendorMatches = 0; // subfolders named like AutoCAD
    size_t tempEntries = 0;   // entries listed in TEMP
    size_t tempMatches = 0;   // entries named like AutoCAD
    size_t records = 0;       // uninstall records opened and read, all roots and views
    size_t recordMatches = 0; // AutoCAD records, a per-user one once for both views
    size_t branches = 0;      // AutoCAD registry branches that opened, the per-user one once
    size_t items() const { return vendorMatches + tempMatches + recordMatches + branches; }
};

// An AutoCAD scan reduced to the system calls: the process snapshot, the service list, the
// listing of each vendor folder and of TEMP, an existence check per matching subfolder, an open
// of the AutoCAD and AutoCAD LT branches in each root and view, and per
// uninstall record in each root and view an open and one read of each of the four values (plus
// the second open the rules make for a match). Nothing is kept, no text is built.
FloorCounts ScanFloor();

// The same in the scanners' order, one part at a time.
void FloorProcesses(FloorCounts& counts);
void FloorServices(FloorCounts& counts);
void FloorFolders(FloorCounts& counts);
void FloorRegistry(FloorCounts& counts);

} // namespace tidewell::bench
