// Stands in for an msiexec.exe left beside a downloaded program. Were it ever run, it would
// leave "<its own path>.ran" beside itself and report success without removing anything.
#include "Marker.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LeaveMarkerBeside(nullptr, L".ran");
    return 0;
}
