#include "platform/fake/FakePlatform.h"

#include "platform/SystemCodes.h"
#include "platform/fake/FakeInternal.h"
#include "support/Text.h"

namespace tidewell {

namespace {

// A span of a child's life that never ends.
constexpr uint64_t kNever = UINT64_MAX;

} // namespace

void FakePlatform::onChild(
    std::function<FakeChildBehaviour(const std::u16string& commandLine)> handler) {
    childHandler_ = std::move(handler);
}

// --- Platform: child processes -------------------------------------------------------------------

ChildStart FakePlatform::startHidden(const std::u16string& application,
                                     const std::u16string& commandLine, ChildScope scope) {
    return start(application, commandLine, scope, false);
}

ChildStart FakePlatform::startAsShellUser(const std::u16string& application,
                                          const std::u16string& commandLine, ChildScope scope) {
    ChildStart refused;
    refused.shellToken = ShellTokenProblem::Unavailable;
    if (const uint32_t error = injected(FakeCall::ShellToken, commandLine)) {
        refused.error = error;
        return refused;
    }
    switch (shell) {
    case FakeShell::OwnUser:
        return start(application, commandLine, scope, true);
    case FakeShell::None:
        refused.error = codes::kInvalidWindowHandle;
        break;
    case FakeShell::OtherUser:
        refused.error = codes::kAccessDenied;
        refused.shellToken = ShellTokenProblem::OtherUser;
        break;
    case FakeShell::Elevated:
        refused.error = codes::kAccessDenied;
        refused.shellToken = ShellTokenProblem::Elevated;
        break;
    }
    return refused;
}

ChildStart FakePlatform::start(const std::u16string& application, const std::u16string& commandLine,
                               ChildScope scope, bool asShellUser) {
    ChildStart start;
    ChildTracking tracking = ChildTracking::None;
    if (scope == ChildScope::ProcessTree) {
        tracking = jobs == FakeJobs::Nested              ? ChildTracking::Job
                   : jobs == FakeJobs::AssignmentRefused ? ChildTracking::BreakawayAndJob
                                                         : ChildTracking::Descendants;
    }
    childCommandLines.push_back(commandLine);
    childStarts.push_back({commandLine, scope, asShellUser, application, tracking});
    start.error = injected(FakeCall::StartHidden, commandLine);
    if (start.error != 0) {
        return start;
    }
    // An application name is taken as it is: it must name a file.
    if (!application.empty() && (!exists(application) || isDirectory(application))) {
        start.error = codes::kFileNotFound;
        return start;
    }
    FakeChildBehaviour behaviour = childHandler_(commandLine);
    if (behaviour.startError != 0) {
        start.error = behaviour.startError;
        return start;
    }
    start.child = nextChild_++;
    Child& child = children_[start.child];
    const auto span = [](uint32_t milliseconds) {
        return milliseconds == codes::kInfinite ? kNever : uint64_t{milliseconds};
    };
    child.scope = scope;
    child.processLeft = span(behaviour.runMilliseconds);
    // Whichever way the tree is followed, it is waited for to its end.
    child.treeLeft = child.processLeft == kNever || span(behaviour.handOffMilliseconds) == kNever
                         ? kNever
                         : child.processLeft + behaviour.handOffMilliseconds;
    child.behaviour = std::move(behaviour);
    record(u"startHidden " + commandLine);
    return start;
}

ChildWait FakePlatform::waitForChild(ChildId id, uint32_t timeoutMilliseconds, bool) {
    ChildWait wait;
    auto found = children_.find(id);
    if (found == children_.end()) {
        wait.error = codes::kInvalidHandle;
        return wait;
    }
    if (const uint32_t error = injected(FakeCall::WaitForChild, ToDecimal(id))) {
        wait.error = error;
        return wait;
    }
    Child& child = found->second;
    // A plain wait ends with the started process, while a copy it handed its work to goes on.
    const uint64_t left =
        child.scope == ChildScope::ProcessTree ? child.treeLeft : child.processLeft;
    const auto pass = [&child](uint64_t milliseconds) {
        for (uint64_t* span : {&child.processLeft, &child.treeLeft}) {
            if (*span != kNever) {
                *span -= std::min(*span, milliseconds);
            }
        }
    };
    if (left != kNever &&
        (timeoutMilliseconds == codes::kInfinite || left <= timeoutMilliseconds)) {
        elapsedMilliseconds += left;
        pass(left);
        if (!child.ended && child.treeLeft == 0) {
            if (child.behaviour.sideEffect) {
                child.behaviour.sideEffect();
            }
            child.ended = true;
        }
        wait.end = WaitEnd::Exited;
        wait.exitCode = child.behaviour.exitCode;
        return wait;
    }
    if (timeoutMilliseconds == codes::kInfinite) {
        // A child that never ends, waited for without limit: a real wait would never return.
        wait.error = codes::kInvalidHandle;
        return wait;
    }
    elapsedMilliseconds += timeoutMilliseconds;
    pass(timeoutMilliseconds);
    wait.end = WaitEnd::TimedOut;
    return wait;
}

void FakePlatform::releaseChild(ChildId id) {
    children_.erase(id);
}

} // namespace tidewell
