#include "clean/ProcessAndService.h"

#include "platform/SystemCodes.h"
#include "support/Text.h"

#include <algorithm>

namespace tidewell {

namespace {

constexpr uint32_t kTerminateWaitMilliseconds = 5000;
const std::u16string kProcessGone = u"进程已退出";
const std::u16string kServiceStopped = u"服务已停止（未删除服务）";

bool IsWhiteSpace(char16_t unit) {
    return unit == u' ' || (unit >= u'\t' && unit <= u'\r');
}

// The executable name the scan put in front of "（PID n）".
std::u16string ScannedExecutable(const std::u16string& title) {
    const size_t marker = title.find(u"（PID ");
    return marker == std::u16string::npos ? title : title.substr(0, marker);
}

} // namespace

uint32_t ParseProcessId(const std::u16string& text) {
    size_t position = 0;
    while (position < text.size() && IsWhiteSpace(text[position])) {
        ++position;
    }
    uint64_t id = 0;
    for (; position < text.size() && text[position] >= u'0' && text[position] <= u'9'; ++position) {
        // Too many digits saturate, as the runtime's unsigned parse does.
        id = std::min<uint64_t>(id * 10 + (text[position] - u'0'), 0xFFFFFFFFu);
    }
    return static_cast<uint32_t>(id);
}

ActionResult EndProcess(Platform& platform, const ResidueItem& item) {
    const uint32_t id = ParseProcessId(item.location);

    // Ids are reused: make sure the id still runs the scanned executable before ending it.
    const ProcessListing listing = platform.listProcesses();
    if (listing.error != codes::kSuccess) {
        return {false, SystemErrorText(platform, listing.error), false};
    }
    const std::u16string expected = ToLower(ScannedExecutable(item.title));
    bool sameProcess = false;
    for (const ProcessEntry& process : listing.processes) {
        if (process.id == id && ToLower(process.executableName) == expected) {
            sameProcess = true;
            break;
        }
    }
    if (!sameProcess) {
        return {true, kProcessGone, false};
    }

    const TerminateAttempt attempt = platform.terminateProcess(id, kTerminateWaitMilliseconds);
    if (attempt.openError == codes::kInvalidParameter) {
        return {true, kProcessGone, false};
    }
    if (attempt.openError != codes::kSuccess) {
        return {false, SystemErrorText(platform, attempt.openError), false};
    }
    if (attempt.terminateError != codes::kSuccess) {
        return {false, SystemErrorText(platform, attempt.terminateError), false};
    }
    return {true, u"进程已结束", false};
}

ActionResult StopService(Platform& platform, const ResidueItem& item) {
    const ServiceStopAttempt attempt = platform.stopService(item.location);
    if (attempt.managerError != codes::kSuccess) {
        return {false, SystemErrorText(platform, attempt.managerError), false};
    }
    if (attempt.serviceError != codes::kSuccess) {
        return {false, SystemErrorText(platform, attempt.serviceError), false};
    }
    // No request went out when the status said stopped or could not be read: both count as
    // stopped. An accepted request is reported at once, even while the service is stopping.
    if (attempt.stopSent && attempt.controlError != codes::kSuccess) {
        return {false, SystemErrorText(platform, attempt.controlError), false};
    }
    return {true, kServiceStopped, false};
}

} // namespace tidewell
