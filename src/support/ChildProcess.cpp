#include "support/ChildProcess.h"

#include "platform/SystemCodes.h"

namespace tidewell {

namespace {

// Starts the child and waits in slices of `slice`; after each slice that passes, keepWaiting
// (when given) decides whether to wait another one.
ChildRun Run(Platform& platform, const std::u16string& commandLine, ChildRights rights,
             ChildScope scope, uint32_t& exitCode, uint32_t slice, bool keepPainting,
             const std::function<bool(uint64_t waited)>& keepWaiting) {
    ChildRun run;
    const ChildStart start = rights == ChildRights::ShellUser
                                 ? platform.startHiddenAsShellUser(commandLine, scope)
                                 : platform.startHidden(commandLine, scope);
    if (start.error != codes::kSuccess) {
        run.error = start.error;
        run.noShellToken = start.noShellToken;
        return run;
    }
    for (;;) {
        const ChildWait wait = platform.waitForChild(start.child, slice, keepPainting);
        if (wait.end == WaitEnd::Exited) {
            exitCode = wait.exitCode;
            run.ended = true;
            break;
        }
        if (wait.end == WaitEnd::Failed) {
            run.error = wait.error;
            break;
        }
        run.waited += slice;
        if (!keepWaiting) {
            run.error = codes::kTimeout;
            break;
        }
        if (!keepWaiting(run.waited)) {
            run.error = codes::kTimeout;
            run.givenUp = true;
            break;
        }
    }
    // Closing our handles does not end the child: one that outlived the limit goes on alone.
    platform.releaseChild(start.child);
    return run;
}

} // namespace

ChildRun RunProcessAndWait(Platform& platform, const std::u16string& commandLine,
                           uint32_t& exitCode, uint32_t timeoutMilliseconds, bool keepPainting) {
    return Run(platform, commandLine, ChildRights::Program, ChildScope::Process, exitCode,
               timeoutMilliseconds, keepPainting, {});
}

ChildRun RunProcessAndWaitPatiently(Platform& platform, const std::u16string& commandLine,
                                    ChildRights rights, uint32_t& exitCode,
                                    uint32_t questionInterval,
                                    const std::function<bool(uint64_t waited)>& keepWaiting) {
    return Run(platform, commandLine, rights, ChildScope::ProcessTree, exitCode, questionInterval,
               true, keepWaiting);
}

} // namespace tidewell
