#include "platform/win32/Win32Platform.h"

#include "platform/SystemCodes.h"
#include "platform/win32/Wide.h"

#include <tlhelp32.h>

#include <vector>

namespace tidewell {

using win32::AsWide;
using win32::FromWide;
using win32::UniqueFile;
using win32::UniqueKernelHandle;
using win32::UniqueService;

// --- Processes and services ----------------------------------------------------------------------

ProcessListing Win32Platform::listProcesses() {
    ProcessListing listing;
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) {
        const DWORD error = GetLastError();
        listing.error = error;
        return listing;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        ProcessEntry process{entry.th32ProcessID, FromWide(entry.szExeFile), std::nullopt};
        DWORD session = 0;
        if (ProcessIdToSessionId(entry.th32ProcessID, &session)) {
            process.sessionId = session;
        }
        listing.processes.push_back(std::move(process));
    }
    return listing;
}

std::optional<uint32_t> Win32Platform::currentSessionId() {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
        return std::nullopt;
    }
    return session;
}

TerminateAttempt Win32Platform::terminateProcess(uint32_t processId, uint32_t waitMilliseconds) {
    TerminateAttempt attempt;
    UniqueKernelHandle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, processId));
    if (!process.valid()) {
        const DWORD error = GetLastError();
        attempt.openError = error;
        return attempt;
    }
    if (!TerminateProcess(process.get(), 0)) {
        const DWORD error = GetLastError();
        attempt.terminateError = error;
        return attempt;
    }
    WaitForSingleObject(process.get(), waitMilliseconds);
    return attempt;
}

namespace {

// The service's configured command line (lpBinaryPathName), as stored; empty when the
// configuration cannot be read.
std::u16string BinaryPathOf(SC_HANDLE manager, const wchar_t* keyName) {
    UniqueService service(OpenServiceW(manager, keyName, SERVICE_QUERY_CONFIG));
    if (!service.valid()) {
        return {};
    }
    // The record first, then the strings it points to: keep the buffer aligned for the record.
    // 8 KB holds any configuration, so one call answers; the size asked for is tried once more.
    std::vector<QUERY_SERVICE_CONFIGW> buffer(8 * 1024 / sizeof(QUERY_SERVICE_CONFIGW));
    DWORD needed = 0;
    const auto query = [&] {
        return QueryServiceConfigW(service.get(), buffer.data(),
                                   static_cast<DWORD>(buffer.size() * sizeof(buffer[0])),
                                   &needed) != FALSE;
    };
    if (!query()) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return {};
        }
        buffer.resize((needed + sizeof(QUERY_SERVICE_CONFIGW) - 1) / sizeof(QUERY_SERVICE_CONFIGW));
        if (!query()) {
            return {};
        }
    }
    if (buffer[0].lpBinaryPathName == nullptr) {
        return {};
    }
    return FromWide(buffer[0].lpBinaryPathName);
}

} // namespace

ServiceListing Win32Platform::listServices() {
    ServiceListing listing;
    UniqueService manager(
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager.valid()) {
        const DWORD error = GetLastError();
        listing.error = error;
        return listing;
    }
    // First with no buffer to learn the size. A list that grows before the second call fails
    // the listing; there is no third attempt.
    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    if (EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                              nullptr, 0, &needed, &count, &resume, nullptr)) {
        return listing; // no services at all
    }
    const DWORD sizingError = GetLastError();
    if (sizingError != ERROR_MORE_DATA) {
        listing.error = sizingError;
        return listing;
    }
    // Records first, then the strings they point to: keep the buffer aligned for the records.
    std::vector<ENUM_SERVICE_STATUS_PROCESSW> buffer(
        (needed + sizeof(ENUM_SERVICE_STATUS_PROCESSW) - 1) / sizeof(ENUM_SERVICE_STATUS_PROCESSW));
    resume = 0;
    count = 0;
    if (!EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32,
                               SERVICE_STATE_ALL, reinterpret_cast<BYTE*>(buffer.data()), needed,
                               &needed, &count, &resume, nullptr)) {
        const DWORD error = GetLastError();
        listing.error = error;
        return listing;
    }
    listing.services.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        listing.services.push_back({FromWide(buffer[i].lpServiceName),
                                    FromWide(buffer[i].lpDisplayName),
                                    buffer[i].ServiceStatusProcess.dwProcessId,
                                    BinaryPathOf(manager.get(), buffer[i].lpServiceName)});
    }
    return listing;
}

ServiceStopAttempt Win32Platform::stopService(const std::u16string& keyName) {
    ServiceStopAttempt attempt;
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.valid()) {
        const DWORD error = GetLastError();
        attempt.managerError = error;
        return attempt;
    }
    UniqueService service(
        OpenServiceW(manager.get(), AsWide(keyName), SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service.valid()) {
        const DWORD error = GetLastError();
        attempt.serviceError = error;
        return attempt;
    }
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.get(), &status) || status.dwCurrentState == SERVICE_STOPPED) {
        return attempt;
    }
    attempt.stopSent = true;
    SERVICE_STATUS afterStop{};
    if (!ControlService(service.get(), SERVICE_CONTROL_STOP, &afterStop)) {
        const DWORD error = GetLastError();
        attempt.controlError = error;
    }
    // The service handle closes before the manager's: members are destroyed in reverse order.
    return attempt;
}

} // namespace tidewell
