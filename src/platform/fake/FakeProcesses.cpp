#include "platform/fake/FakePlatform.h"

#include "platform/SystemCodes.h"
#include "platform/fake/FakeInternal.h"
#include "support/Text.h"

#include <algorithm>

namespace tidewell {

void FakePlatform::addProcess(uint32_t id, const std::u16string& executableName,
                              std::optional<uint32_t> sessionId) {
    processes_.push_back({id, executableName, sessionId});
}

void FakePlatform::protectProcess(uint32_t id, uint32_t openError) {
    protectedProcesses_[id] = openError;
}

void FakePlatform::addService(const std::u16string& keyName, const std::u16string& displayName,
                              uint32_t state, uint32_t processId,
                              const std::u16string& binaryPath) {
    services_.push_back({{keyName, displayName, processId, binaryPath}, state});
}

bool FakePlatform::processRunning(uint32_t id) const {
    return std::any_of(processes_.begin(), processes_.end(),
                       [id](const ProcessEntry& entry) { return entry.id == id; });
}

std::optional<uint32_t> FakePlatform::serviceState(const std::u16string& keyName) const {
    for (const auto& service : services_) {
        if (ToLower(service.names.keyName) == ToLower(keyName)) {
            return service.state;
        }
    }
    return std::nullopt;
}

// --- Platform: processes and services ------------------------------------------------------------

ProcessListing FakePlatform::listProcesses() {
    ProcessListing listing;
    listing.error = injected(FakeCall::ListProcesses, {});
    if (listing.error == 0) {
        listing.processes = processes_;
    }
    return listing;
}

TerminateAttempt FakePlatform::terminateProcess(uint32_t processId, uint32_t) {
    TerminateAttempt attempt;
    auto running = std::find_if(processes_.begin(), processes_.end(),
                                [processId](const ProcessEntry& e) { return e.id == processId; });
    const std::u16string subject =
        running != processes_.end() ? running->executableName : ToDecimal(processId);
    if (running == processes_.end() || processId == 0) {
        attempt.openError = codes::kInvalidParameter;
        return attempt;
    }
    auto guarded = protectedProcesses_.find(processId);
    if (guarded != protectedProcesses_.end()) {
        attempt.openError = guarded->second;
        return attempt;
    }
    if (const uint32_t error = injected(FakeCall::TerminateProcess, subject)) {
        attempt.terminateError = error;
        return attempt;
    }
    record(u"terminateProcess " + ToDecimal(processId) + u" " + subject);
    processes_.erase(running);
    return attempt;
}

ServiceListing FakePlatform::listServices() {
    ServiceListing listing;
    listing.error = injected(FakeCall::OpenServiceManager, {});
    if (listing.error == 0) {
        listing.error = injected(FakeCall::ListServices, {});
    }
    if (listing.error == 0) {
        for (const auto& service : services_) {
            listing.services.push_back(service.names);
            if (service.state == codes::kServiceStopped) {
                listing.services.back().processId = 0;
            }
        }
    }
    return listing;
}

ServiceStopAttempt FakePlatform::stopService(const std::u16string& keyName) {
    ServiceStopAttempt attempt;
    attempt.managerError = injected(FakeCall::OpenServiceManager, keyName);
    if (attempt.managerError != 0) {
        return attempt;
    }
    auto service = std::find_if(services_.begin(), services_.end(), [&](const Service& s) {
        return ToLower(s.names.keyName) == ToLower(keyName);
    });
    if (service == services_.end()) {
        attempt.serviceError = codes::kServiceDoesNotExist;
        return attempt;
    }
    if (service->state == codes::kServiceStopped) {
        return attempt;
    }
    attempt.stopSent = true;
    attempt.controlError = injected(FakeCall::StopService, keyName);
    if (attempt.controlError == 0) {
        service->state = codes::kServiceStopped;
        record(u"stopService " + service->names.keyName);
    }
    return attempt;
}

} // namespace tidewell
