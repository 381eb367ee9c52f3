// A stand-in for a product's Windows service (AdskLicensingService, OracleVssWriterORCL ...):
// the seeder registers copies of it with the service manager. Started by the manager, it runs
// until it is told to stop.
//
// With "--launch" it is the seeder's one-shot launcher instead: it starts each program named
// after the option, detached, writes "pid<TAB>path" lines to the file named first, and stops.
// Programs started this way are children of the service manager rather than of the seeder, so
// they do not hold on to the output of whatever started the seeder (a test runner waits for
// that output to close).
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopEvent = nullptr;
std::vector<std::wstring> launchArguments;

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 3000;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(stopEvent);
        return NO_ERROR;
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size,
                        nullptr, nullptr);
    return bytes;
}

// Starts every program and writes one line per program: its process id (0 and the error code
// when it could not be started) and its path.
DWORD Launch() {
    if (launchArguments.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string report;
    for (size_t i = 1; i < launchArguments.size(); ++i) {
        const std::wstring& program = launchArguments[i];
        std::wstring commandLine = L"\"" + program + L"\"";
        const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                           DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, folder.c_str(),
                           &startup, &process)) {
            report += std::to_string(process.dwProcessId) + "\t" + Utf8(program) + "\r\n";
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        } else {
            report += "0\t" + Utf8(program) + "\t" + std::to_string(GetLastError()) + "\r\n";
        }
    }
    HANDLE file = CreateFileW(launchArguments[0].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    const DWORD error = ok ? NO_ERROR : GetLastError();
    CloseHandle(file);
    return error;
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
    // The manager passes the service's own name first.
    statusHandle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", Handler, nullptr);
    if (statusHandle == nullptr) {
        return;
    }
    if (!launchArguments.empty()) {
        Report(SERVICE_RUNNING);
        Report(SERVICE_STOPPED, Launch());
        return;
    }
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    WaitForSingleObject(stopEvent, INFINITE);
    Report(SERVICE_STOPPED);
}

} // namespace

// A GUI-subsystem program, so that starting it never creates a console.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        if (std::wstring(argv[i]) == L"--launch") {
            launchArguments.assign(argv + i + 1, argv + argc);
            break;
        }
    }
    LocalFree(argv);
    // An own-process service: the manager starts the one entry whatever its name.
    wchar_t name[] = L"";
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : static_cast<int>(GetLastError());
}
