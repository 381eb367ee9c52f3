// Tells scripts/wine/exec.sh that Wine got as far as starting this program: before main, the
// file that TIDEWELL_START_MARKER names is created. A run that fails without it never reached
// the test code (Wine itself failed to start it), and exec.sh may start it once more.

#include <windows.h>

#include <cstdlib>

namespace {

[[maybe_unused]] const bool kStartMarked = [] {
    const wchar_t* marker = _wgetenv(L"TIDEWELL_START_MARKER");
    if (marker != nullptr && *marker != L'\0') {
        const HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }
    return true;
}();

} // namespace
