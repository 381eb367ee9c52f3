#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tidewell {

// Why the runner refused to start a command's program.
enum class ProgramRefusal {
    None,
    NotInSystemFolders, // named without a folder, and neither system folder holds it
    RelativePath,       // named with a folder from no drive or share root: found from the
                        // current folder
};

// A command line with its program settled before anything starts.
struct ResolvedCommand {
    ProgramRefusal refusal = ProgramRefusal::None;
    std::u16string program;     // the command's first token, as written
    std::u16string application; // the full path to start; empty: as the system finds it
    std::u16string commandLine; // expanded, a bare name spelled as that full path, quoted
};

// Environment variables in the command (%ProgramData%) are expanded first. Windows looks for
// a program named without a folder in the starting program's own folder and
// the current folder before System32: a cmd.exe lying beside this program in a download folder
// would run as administrator. So a bare name (".exe" added when it has no extension) is looked
// for in the system folder and then the Windows folder only, and a relative path is refused.
ResolvedCommand ResolveCommandProgram(Platform& platform, const std::u16string& commandLine);

// How a child run ended. There is no thread last-error on the seam, so the reason travels here.
struct ChildRun {
    bool ended = false;   // started and ended within the limit; the exit code was stored
    uint32_t error = 0;   // when not ended: the start's code, codes::kTimeout, or the wait's code
    bool givenUp = false; // the user stopped waiting; the child may still be running
    uint64_t waited = 0;  // milliseconds waited in slices that ran out
    // Not started: the user's shell token was not to be had or not to be used.
    ShellTokenProblem shellToken = ShellTokenProblem::None;
    ProgramRefusal refusal = ProgramRefusal::None; // not started: the program was refused
    std::u16string program;                        // the refused program, as the command names it
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
