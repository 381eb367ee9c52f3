#include "ScanFloor.h"

#include <windows.h>

#include <shlobj.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

namespace tidewell::bench {

namespace {

wchar_t Folded(wchar_t unit) {
    return unit >= L'A' && unit <= L'Z' ? static_cast<wchar_t>(unit - L'A' + L'a') : unit;
}

// `part` is lower case.
bool StartsWithFolded(const wchar_t* text, const wchar_t* part) {
    for (; *part != 0; ++text, ++part) {
        if (*text == 0 || Folded(*text) != *part) {
            return false;
        }
    }
    return true;
}

bool ContainsFolded(const wchar_t* text, const wchar_t* part) {
    for (; *text != 0; ++text) {
        if (StartsWithFolded(text, part)) {
            return true;
        }
    }
    return false;
}

bool IsDots(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::wstring ShellFolder(int folder) {
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path))
               ? std::wstring(path)
               : std::wstring();
}

bool IsDirectory(const std::wstring& path) {
    const DWORD bits = GetFileAttributesW(path.c_str());
    return bits != INVALID_FILE_ATTRIBUTES && (bits & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Lists folder\* the way the platform does; calls `each` with every record.
template <typename Each> void List(const std::wstring& folder, Each each) {
    if (folder.empty() || !IsDirectory(folder)) {
        return;
    }
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        each(data);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

void VendorFolder(const std::wstring& base, FloorCounts& counts) {
    if (base.empty()) {
        return;
    }
    const std::wstring folder = base + L"\\Autodesk";
    List(folder, [&](const WIN32_FIND_DATAW& data) {
        ++counts.vendorEntries;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || IsDots(data.cFileName)) {
            return;
        }
        if (ContainsFolded(data.cFileName, L"autocad") ||
            StartsWithFolded(data.cFileName, L"acad")) {
            if (IsDirectory(folder + L"\\" + data.cFileName)) {
                ++counts.vendorMatches;
            }
        }
    });
}

const wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// `counted`: whether a match is a new item. Both views reach the same per-user key, so the scan
// reads HKCU in both but keeps one item for what they share.
void UninstallRecords(HKEY root, REGSAM view, bool counted, FloorCounts& counts) {
    HKEY list = nullptr;
    if (RegOpenKeyExW(root, kUninstall, 0, KEY_READ | view, &list) != ERROR_SUCCESS) {
        return;
    }
    // Another product's record is read for where it is installed, too: the scan keeps the
    // folders that hold it.
    const wchar_t* const valueNames[] = {L"DisplayName",          L"DisplayVersion",
                                         L"QuietUninstallString", L"UninstallString",
                                         L"InstallLocation",      L"DisplayIcon"};
    constexpr int kValues = sizeof(valueNames) / sizeof(valueNames[0]);
    wchar_t name[512];
    BYTE data[kValues][1024];
    for (DWORD index = 0;; ++index) {
        DWORD length = 512;
        const LONG status =
            RegEnumKeyExW(list, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        HKEY record = nullptr;
        if (status != ERROR_SUCCESS ||
            RegOpenKeyExW(list, name, 0, KEY_READ | view, &record) != ERROR_SUCCESS) {
            continue;
        }
        ++counts.records;
        for (int value = 0; value < kValues; ++value) {
            DWORD type = 0;
            DWORD size = sizeof(data[value]) - sizeof(wchar_t);
            if (RegQueryValueExW(record, valueNames[value], nullptr, &type, data[value], &size) !=
                ERROR_SUCCESS) {
                size = 0;
            }
            data[value][size] = 0;
            data[value][size + 1] = 0;
        }
        RegCloseKey(record);
        if (ContainsFolded(reinterpret_cast<const wchar_t*>(data[0]), L"autocad")) {
            HKEY again = nullptr;
            if (RegOpenKeyExW(list, name, 0, KEY_READ | view, &again) == ERROR_SUCCESS) {
                counts.recordMatches += counted ? 1 : 0;
                RegCloseKey(again);
            }
        }
    }
    RegCloseKey(list);
}

void Branch(HKEY root, REGSAM view, const wchar_t* path, bool counted, FloorCounts& counts) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
        counts.branches += counted ? 1 : 0;
        RegCloseKey(key);
    }
}

} // namespace

void FloorProcesses(FloorCounts& counts) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry)) {
            ++counts.processes;
        }
        CloseHandle(snapshot);
    }
}

// The list, and each service's configuration for the program it runs: the scan keeps folders
// that hold one.
void FloorServices(FloorCounts& counts) {
    const SC_HANDLE manager =
        OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE);
    if (manager != nullptr) {
        static std::vector<BYTE> buffer(256 * 1024);
        static std::vector<BYTE> config(8 * 1024); // any configuration fits
        DWORD needed = 0;
        DWORD count = 0;
        DWORD resume = 0;
        if (EnumServicesStatusExW(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                                  buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count,
                                  &resume, nullptr)) {
            counts.services = count;
            const auto* services =
                reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
            for (DWORD index = 0; index < count; ++index) {
                const SC_HANDLE service =
                    OpenServiceW(manager, services[index].lpServiceName, SERVICE_QUERY_CONFIG);
                if (service != nullptr) {
                    QueryServiceConfigW(service,
                                        reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data()),
                                        static_cast<DWORD>(config.size()), &needed);
                    CloseServiceHandle(service);
                }
            }
        }
        CloseServiceHandle(manager);
    }
}

void FloorFolders(FloorCounts& counts) {
    std::wstring programFiles = Environment(L"ProgramW6432");
    if (programFiles.empty()) {
        programFiles = Environment(L"ProgramFiles");
    }
    const std::wstring programFilesX86 = Environment(L"ProgramFiles(x86)");
    const std::wstring programData = Environment(L"ProgramData");
    const std::wstring localAppData = ShellFolder(CSIDL_LOCAL_APPDATA);
    const std::wstring roamingAppData = ShellFolder(CSIDL_APPDATA);
    VendorFolder(programFiles, counts);
    if (_wcsicmp(programFiles.c_str(), programFilesX86.c_str()) != 0) {
        VendorFolder(programFilesX86, counts);
    }
    VendorFolder(programData, counts);
    VendorFolder(localAppData, counts);
    VendorFolder(roamingAppData, counts);
    for (const std::wstring& shared :
         {programData + L"\\Autodesk\\ODIS", localAppData + L"\\Autodesk\\ODIS",
          programData + L"\\Autodesk\\AdskLicensingService"}) {
        if (IsDirectory(shared)) {
            ++counts.vendorMatches;
        }
    }

    List(Environment(L"TEMP"), [&](const WIN32_FIND_DATAW& data) {
        ++counts.tempEntries;
        if (!IsDots(data.cFileName) && (ContainsFolded(data.cFileName, L"autocad") ||
                                        StartsWithFolded(data.cFileName, L"autodesk") ||
                                        StartsWithFolded(data.cFileName, L"acad"))) {
            ++counts.tempMatches;
        }
    });
}

void FloorRegistry(FloorCounts& counts) {
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        // The 32-bit view comes first, as in the scan: the per-user keys count there only.
        const bool firstView = view == KEY_WOW64_32KEY;
        for (const wchar_t* path :
             {L"Software\\Autodesk\\AutoCAD", L"Software\\Autodesk\\AutoCAD LT"}) {
            Branch(HKEY_CURRENT_USER, view, path, firstView, counts);
            Branch(HKEY_LOCAL_MACHINE, view, path, true, counts);
        }
        UninstallRecords(HKEY_LOCAL_MACHINE, view, true, counts);
        UninstallRecords(HKEY_CURRENT_USER, view, firstView, counts);
    }
}

FloorCounts ScanFloor() {
    FloorCounts counts;
    FloorProcesses(counts);
    FloorServices(counts);
    FloorFolders(counts);
    FloorRegistry(counts);
    return counts;
}

} // namespace tidewell::bench
