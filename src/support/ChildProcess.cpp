#include "support/ChildProcess.h"

#include "platform/SystemCodes.h"

namespace tidewell {

ChildRun RunProcessAndWait(Platform& platform, const std::u16string& commandLine,
                           uint32_t& exitCode, uint32_t timeoutMilliseconds, bool keepPainting) {
    ChildRun run;
    const ChildStart start = platform.startHidden(commandLine);
    if (start.error != codes::kSuccess) {
        run.error = start.error;
        return run;
    }
    const ChildWait wait = platform.waitForChild(start.child, timeoutMilliseconds, keepPainting);
    // Closing our handles does not end the child: one that outlived the limit goes on alone.
    platform.releaseChild(start.child);
    switch (wait.end) {
    case WaitEnd::Exited:
        exitCode = wait.exitCode;
        run.ended = true;
        break;
    case WaitEnd::TimedOut:
        run.error = codes::kTimeout;
        break;
    case WaitEnd::Failed:
        run.error = wait.error;
        break;
    }
    return run;
}

} // namespace tidewell
