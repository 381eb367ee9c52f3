#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tidewell {

// How a child run ended. There is no thread last-error on the seam, so the reason travels here.
struct ChildRun {
    bool ended = false;   // started and ended within the limit; the exit code was stored
    uint32_t error = 0;   // when not ended: the start's code, codes::kTimeout, or the wait's code
    bool givenUp = false; // the user stopped waiting; the child may still be running
    uint64_t waited = 0;  // milliseconds waited in slices that ran out
    bool noShellToken = false; // not started: the user's shell token could not be had
};

// Whose rights a child runs with.
enum class ChildRights { Program, ShellUser };

// Starts the command line without a console window, waits up to timeoutMilliseconds
// (codes::kInfinite: no limit) and stores the child's exit code in exitCode, which keeps the
// caller's preset value on every other path. A child still running at the limit is left running.
// keepPainting lets the main window repaint during the wait (uninstallers run for minutes).
ChildRun RunProcessAndWait(Platform& platform, const std::u16string& commandLine,
                           uint32_t& exitCode, uint32_t timeoutMilliseconds,
                           bool keepPainting = false);

// Waits for a child and every process it starts without a time limit (an uninstaller's work
// may go on in a copy of itself after it exited), but after every questionInterval of waiting asks
// keepWaiting(milliseconds waited so far); when it answers false the wait is given up and the
// child left running. The main window keeps repainting meanwhile.
ChildRun RunProcessAndWaitPatiently(Platform& platform, const std::u16string& commandLine,
                                    ChildRights rights, uint32_t& exitCode,
                                    uint32_t questionInterval,
                                    const std::function<bool(uint64_t waited)>& keepWaiting);

} // namespace tidewell
