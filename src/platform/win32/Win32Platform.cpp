#include "platform/win32/Win32Platform.h"

#include "platform/ExtendedLengthPath.h"
#include "platform/SystemCodes.h"
#include "platform/win32/Wide.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

namespace tidewell {

using win32::AsWide;
using win32::AsWritableWide;
using win32::FromWide;
using win32::UniqueFile;
using win32::UniqueFind;
using win32::UniqueKernelHandle;
using win32::UniqueKey;
using win32::UniqueLocalMemory;
using win32::UniqueService;

namespace {

// Registry and environment values that change between the sizing call and the read are read
// again, a few times at most.
constexpr int kReadAttempts = 4;

// A key whose every index keeps failing (deleted while we walk it) must not hold us for ever.
constexpr DWORD kMaxConsecutiveEnumFailures = 1024;

// Paint messages dispatched per wake-up, so that a window that never validates cannot keep the
// wait from looking at the child.
constexpr int kMaxPaintsPerWake = 64;

// How often a long loop looks at the main window's queue: well under the 5 s after which
// Windows calls a window hung, and short enough that repainting keeps up with the status line.
constexpr uint64_t kQueueLookMilliseconds = 40;

// How often a job whose processes cannot be opened is looked into again.
constexpr DWORD kJobPollMilliseconds = 100;

HKEY RootKey(RegistryRoot root) {
    switch (root) {
    case RegistryRoot::CurrentUser:
        return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case RegistryRoot::None:
        break;
    }
    return nullptr;
}

REGSAM ViewFlag(RegistryView view) {
    return static_cast<REGSAM>(view);
}

// Opens root\path with the access and the view; the registry's own code on failure.
LONG OpenKey(RegistryRoot root, RegistryView view, const std::u16string& path, REGSAM access,
             UniqueKey& key) {
    const HKEY rootKey = RootKey(root);
    if (rootKey == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    return RegOpenKeyExW(rootKey, AsWide(path), 0, access | ViewFlag(view), key.receive());
}

// The same join the logic uses: one backslash unless the directory already ends in one.
std::u16string JoinPattern(const std::u16string& directory) {
    if (directory.empty()) {
        return u"*";
    }
    return directory.back() == u'\\' ? directory + u"*" : directory + u"\\*";
}

DirectoryEntry EntryOf(const WIN32_FIND_DATAW& data) {
    return {FromWide(data.cFileName), data.dwFileAttributes};
}

UINT IconStyle(NoticeIcon icon) {
    switch (icon) {
    case NoticeIcon::Warning:
        return MB_ICONWARNING;
    case NoticeIcon::Error:
        return MB_ICONERROR;
    case NoticeIcon::Question:
        return MB_ICONQUESTION;
    case NoticeIcon::Information:
        break;
    }
    return MB_ICONINFORMATION;
}

// Reads one value into exactly as many bytes as it holds.
RegistryValue ReadValue(HKEY key, const std::u16string& name) {
    RegistryValue value;
    // Most values fit a small buffer: one call then, instead of sizing first.
    BYTE firstBuffer[512];
    DWORD firstType = 0;
    DWORD firstSize = sizeof(firstBuffer);
    const LONG first =
        RegQueryValueExW(key, AsWide(name), nullptr, &firstType, firstBuffer, &firstSize);
    if (first == ERROR_SUCCESS) {
        value.type = firstType;
        value.data.assign(firstBuffer, firstBuffer + firstSize);
        return value;
    }
    if (first != ERROR_MORE_DATA) {
        value.error = static_cast<uint32_t>(first);
        return value;
    }
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LONG status = RegQueryValueExW(key, AsWide(name), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) {
            value.error = static_cast<uint32_t>(status);
            return value;
        }
        std::vector<uint8_t> data(size);
        if (size == 0) {
            value.type = type;
            return value;
        }
        DWORD readSize = size;
        status = RegQueryValueExW(key, AsWide(name), nullptr, &type, data.data(), &readSize);
        if (status == ERROR_MORE_DATA) {
            continue; // it grew in between
        }
        if (status != ERROR_SUCCESS) {
            value.error = static_cast<uint32_t>(status);
            return value;
        }
        data.resize(readSize);
        value.type = type;
        value.data = std::move(data);
        return value;
    }
    value.error = ERROR_MORE_DATA;
    return value;
}

// Every file call hands its path to the system in the form ExtendedLengthPath gives: plain as
// the caller wrote it where that reaches it, "\\?\..." where the path is too long for the call or
// names what a listing gave with a trailing dot or blank.
std::u16string SystemPath(const std::u16string& path) {
    return ExtendedLengthPath(path, kPlainPathLimit);
}

// Writes every byte to the open file; the error code of a write that fails or stops.
DWORD WriteAll(HANDLE file, const std::string& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const size_t remaining = bytes.size() - written;
        const DWORD chunk = remaining > 0x40000000 ? 0x40000000 : static_cast<DWORD>(remaining);
        DWORD done = 0;
        if (!WriteFile(file, bytes.data() + written, chunk, &done, nullptr)) {
            const DWORD error = GetLastError();
            return error;
        }
        if (done == 0) {
            return ERROR_WRITE_FAULT;
        }
        written += done;
    }
    return ERROR_SUCCESS;
}

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

// Calls visit(name, length) for each subkey name of an open key, in the registry's order.
template <typename Visit> void ForEachSubkeyName(HKEY key, Visit visit) {
    constexpr DWORD kNameUnits = 512; // names longer than this are passed over
    wchar_t name[kNameUnits];
    DWORD failuresInARow = 0;
    for (DWORD index = 0; failuresInARow < kMaxConsecutiveEnumFailures; ++index) {
        DWORD length = kNameUnits;
        const LONG result =
            RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS) {
            ++failuresInARow;
            continue;
        }
        failuresInARow = 0;
        visit(name, length);
    }
}

} // namespace

UINT QuestionBoxStyle(NoticeIcon icon, bool yesIsDefault) {
    return MB_YESNO | IconStyle(icon) | (yesIsDefault ? MB_DEFBUTTON1 : MB_DEFBUTTON2);
}

UINT NoticeBoxStyle(NoticeIcon icon) {
    return MB_OK | IconStyle(icon);
}

Win32Platform::Win32Platform() = default;
Win32Platform::~Win32Platform() = default;

void Win32Platform::setOwnerWindow(HWND window) {
    owner_ = window;
}

uint32_t Win32Platform::childProcessId(ChildId child) const {
    auto found = children_.find(child);
    return found == children_.end() ? 0 : found->second.processId;
}

// --- Files ---------------------------------------------------------------------------------------

FileAttributes Win32Platform::fileAttributes(const std::u16string& path) {
    const DWORD bits = GetFileAttributesW(AsWide(SystemPath(path)));
    if (bits == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return {error, 0};
    }
    return {0, bits};
}

DirectoryListing Win32Platform::listDirectory(const std::u16string& directory) {
    DirectoryListing listing;
    WIN32_FIND_DATAW data{};
    // The basic information level skips the short names nobody reads; large fetches cut the
    // round trips on big folders. Names and attributes come out as FindFirstFileW gives them.
    UniqueFind find(FindFirstFileExW(
        AsWide(JoinPattern(ExtendedLengthPath(directory, kPlainDirectoryLimit))), FindExInfoBasic,
        &data, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find.valid()) {
        const DWORD error = GetLastError();
        listing.error = error;
        return listing;
    }
    do {
        listing.entries.push_back(EntryOf(data));
        // A folder of a hundred thousand entries takes longer than a window may stay deaf.
        lookAtQueue();
    } while (FindNextFileW(find.get(), &data));
    return listing;
}

uint32_t Win32Platform::setFileAttributes(const std::u16string& path, uint32_t bits) {
    if (!SetFileAttributesW(AsWide(SystemPath(path)), bits)) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::deleteFile(const std::u16string& path) {
    if (!DeleteFileW(AsWide(SystemPath(path)))) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::removeDirectory(const std::u16string& path) {
    if (!RemoveDirectoryW(AsWide(SystemPath(path)))) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::deleteAtRestart(const std::u16string& path) {
    if (!MoveFileExW(AsWide(SystemPath(path)), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::createDirectory(const std::u16string& path) {
    if (!CreateDirectoryW(AsWide(ExtendedLengthPath(path, kPlainDirectoryLimit)), nullptr)) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

uint32_t Win32Platform::writeFile(const std::u16string& path, const std::string& bytes) {
    UniqueFile file(CreateFileW(AsWide(SystemPath(path)), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        return error;
    }
    // Failures after the creation go unreported, as the log writer expects.
    WriteAll(file.get(), bytes);
    return codes::kSuccess;
}

FinalPath Win32Platform::finalPath(const std::u16string& path) {
    FinalPath result;
    // No access is asked for: naming the object needs none, and backup semantics let a folder
    // be opened at all.
    UniqueFile file(CreateFileW(AsWide(SystemPath(path)), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        result.openError = error;
        return result;
    }
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        // The length without the terminator, or the size needed with it when it does not fit.
        const DWORD length =
            GetFinalPathNameByHandleW(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            const DWORD error = GetLastError();
            result.error = error;
            return result;
        }
        if (length < buffer.size()) {
            result.path = FromWide(buffer.data(), length);
            return result;
        }
        buffer.resize(length);
    }
    result.error = ERROR_MORE_DATA;
    return result;
}

uint32_t Win32Platform::appendFile(const std::u16string& path, const std::string& bytes) {
    UniqueFile file(CreateFileW(AsWide(SystemPath(path)), FILE_APPEND_DATA, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        return error;
    }
    if (const DWORD error = WriteAll(file.get(), bytes)) {
        return error;
    }
    // Through the system's cache to the disk: the entry must outlive a crash or a power cut.
    if (!FlushFileBuffers(file.get())) {
        const DWORD error = GetLastError();
        return error;
    }
    return codes::kSuccess;
}

FileContents Win32Platform::readFile(const std::u16string& path) {
    FileContents contents;
    UniqueFile file(CreateFileW(AsWide(SystemPath(path)), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        contents.error = GetLastError();
        return contents;
    }
    char buffer[64 * 1024];
    while (true) {
        DWORD done = 0;
        if (!ReadFile(file.get(), buffer, sizeof(buffer), &done, nullptr)) {
            contents.error = GetLastError();
            return contents;
        }
        if (done == 0) {
            break;
        }
        contents.bytes.append(buffer, done);
    }
    return contents;
}

// --- Environment and system folders --------------------------------------------------------------

std::optional<std::u16string> Win32Platform::environmentVariable(const std::u16string& name) {
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        // The size includes the terminator; 0 means not defined.
        const DWORD size = GetEnvironmentVariableW(AsWide(name), nullptr, 0);
        if (size == 0) {
            return std::nullopt;
        }
        std::vector<wchar_t> buffer(size);
        // A defined but empty variable reads as length 0 without an error, so clear the old one.
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(AsWide(name), buffer.data(), size);
        if (length == 0) {
            const DWORD error = GetLastError();
            if (error != ERROR_SUCCESS) {
                return std::nullopt; // removed in between
            }
            return std::u16string();
        }
        if (length < size) {
            return FromWide(buffer.data(), length);
        }
        // It grew in between: size again.
    }
    return std::nullopt;
}

std::optional<std::u16string> Win32Platform::shellFolder(ShellFolder folder) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, static_cast<int>(folder), nullptr, SHGFP_TYPE_CURRENT,
                                path))) {
        return std::nullopt;
    }
    return FromWide(path);
}

std::u16string Win32Platform::windowsDirectory() {
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return FromWide(path, length);
}

std::vector<std::u16string> Win32Platform::computerNames() {
    std::vector<std::u16string> names;
    for (const COMPUTER_NAME_FORMAT format :
         {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
        DWORD size = 0;
        GetComputerNameExW(format, nullptr, &size); // the size with the terminator
        std::vector<wchar_t> buffer(size + 1);
        size = static_cast<DWORD>(buffer.size());
        if (GetComputerNameExW(format, buffer.data(), &size) && size > 0) {
            names.push_back(FromWide(buffer.data(), size));
        }
    }
    return names;
}

std::u16string Win32Platform::longPathName(const std::u16string& path) {
    // The answer comes in the form it was asked in; a prefix added here is taken off again.
    const std::u16string asked = SystemPath(path);
    const bool prefixed = asked != path;
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const DWORD length =
            GetLongPathNameW(AsWide(asked), &buffer[0], static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return path;
        }
        if (length < buffer.size()) {
            const std::u16string answer = FromWide(buffer.c_str(), length);
            return prefixed ? WithoutExtendedPrefix(answer) : answer;
        }
        buffer.resize(length);
    }
    return path;
}

LocalTime Win32Platform::localTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

std::optional<std::u16string> Win32Platform::systemMessage(uint32_t code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const UniqueLocalMemory owner(text);
    if (length == 0 || text == nullptr) {
        return std::nullopt;
    }
    return FromWide(text, length);
}

// --- Registry ------------------------------------------------------------------------------------

bool Win32Platform::runsOn64BitWindows() {
    if constexpr (sizeof(void*) == 8) {
        return true;
    }
    // Looked up by name: the function is missing on the oldest systems.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return false;
    }
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process == nullptr || !isWow64Process(GetCurrentProcess(), &wow64)) {
        return false;
    }
    return wow64 != FALSE;
}

uint32_t Win32Platform::openKeyForRead(RegistryRoot root, RegistryView view,
                                       const std::u16string& path) {
    UniqueKey key;
    return static_cast<uint32_t>(OpenKey(root, view, path, KEY_READ, key));
}

SubkeyListing Win32Platform::listSubkeys(RegistryRoot root, RegistryView view,
                                         const std::u16string& path) {
    SubkeyListing listing;
    UniqueKey key;
    const LONG status = OpenKey(root, view, path, KEY_READ, key);
    if (status != ERROR_SUCCESS) {
        listing.error = static_cast<uint32_t>(status);
        return listing;
    }
    ForEachSubkeyName(key.get(), [&listing](const wchar_t* name, DWORD length) {
        listing.names.push_back(FromWide(name, length));
    });
    return listing;
}

RegistryValues Win32Platform::readValues(RegistryRoot root, RegistryView view,
                                         const std::u16string& path,
                                         const std::vector<std::u16string>& names) {
    RegistryValues result;
    UniqueKey key;
    const LONG status = OpenKey(root, view, path, KEY_READ, key);
    if (status != ERROR_SUCCESS) {
        result.error = static_cast<uint32_t>(status);
        return result;
    }
    result.values.reserve(names.size());
    for (const auto& name : names) {
        result.values.push_back(ReadValue(key.get(), name));
    }
    return result;
}

SubkeyValuesListing Win32Platform::readSubkeyValues(RegistryRoot root, RegistryView view,
                                                    const std::u16string& path,
                                                    const std::vector<std::u16string>& names) {
    SubkeyValuesListing listing;
    UniqueKey key;
    const LONG status = OpenKey(root, view, path, KEY_READ, key);
    if (status != ERROR_SUCCESS) {
        listing.error = static_cast<uint32_t>(status);
        return listing;
    }
    ForEachSubkeyName(key.get(), [&](const wchar_t* name, DWORD length) {
        SubkeyValues subkey;
        subkey.name = FromWide(name, length);
        // Under the open key: a whole path in the 32-bit view costs Wine one open per level.
        UniqueKey child;
        const LONG opened =
            RegOpenKeyExW(key.get(), name, 0, KEY_READ | ViewFlag(view), child.receive());
        if (opened != ERROR_SUCCESS) {
            subkey.values.error = static_cast<uint32_t>(opened);
        } else {
            subkey.values.values.reserve(names.size());
            for (const auto& valueName : names) {
                subkey.values.values.push_back(ReadValue(child.get(), valueName));
            }
        }
        listing.subkeys.push_back(std::move(subkey));
        lookAtQueue();
    });
    return listing;
}

ValueListing Win32Platform::listValues(RegistryRoot root, RegistryView view,
                                       const std::u16string& path) {
    ValueListing listing;
    UniqueKey key;
    LONG status = OpenKey(root, view, path, KEY_QUERY_VALUE, key);
    for (int attempt = 0; status == ERROR_SUCCESS && attempt < kReadAttempts; ++attempt) {
        DWORD count = 0;
        DWORD longestName = 0;
        DWORD longestData = 0;
        status = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  &count, &longestName, &longestData, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            break;
        }
        std::vector<wchar_t> name(longestName + 1);
        std::vector<BYTE> data(longestData);
        listing.values.clear();
        for (DWORD index = 0;; ++index) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD size = static_cast<DWORD>(data.size());
            DWORD type = 0;
            status = RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type,
                                   data.empty() ? nullptr : data.data(), &size);
            if (status != ERROR_SUCCESS) {
                break;
            }
            listing.values.push_back({FromWide(name.data(), nameLength), type,
                                      std::vector<uint8_t>(data.begin(), data.begin() + size)});
        }
        if (status == ERROR_NO_MORE_ITEMS) {
            status = ERROR_SUCCESS;
            break;
        }
        // ERROR_MORE_DATA: a value grew while we read; size the buffers again.
        if (status != ERROR_MORE_DATA) {
            break;
        }
    }
    listing.error = static_cast<uint32_t>(status);
    return listing;
}

uint32_t Win32Platform::deleteTree(RegistryRoot root, RegistryView view,
                                   const std::u16string& parentPath, const std::u16string& leaf) {
    UniqueKey parent;
    // KEY_READ | KEY_WRITE | DELETE: what RegDeleteTreeW needs to walk and remove the branch.
    const LONG status = OpenKey(root, view, parentPath, KEY_READ | KEY_WRITE | DELETE, parent);
    if (status != ERROR_SUCCESS) {
        return static_cast<uint32_t>(status);
    }
    return static_cast<uint32_t>(RegDeleteTreeW(parent.get(), AsWide(leaf)));
}

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

ServiceListing Win32Platform::listServices() {
    ServiceListing listing;
    UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
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
                                    buffer[i].ServiceStatusProcess.dwProcessId});
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

// --- Child processes -----------------------------------------------------------------------------

ChildStart Win32Platform::startHidden(const std::u16string& commandLine, ChildScope scope) {
    ChildStart start;
    // CreateProcessW may write into the command line while it parses it.
    std::u16string writable = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // A child that goes into a job starts suspended, so that nothing it starts escapes the job.
    const DWORD flags =
        CREATE_NO_WINDOW | (scope == ChildScope::ProcessTree ? CREATE_SUSPENDED : 0);
    if (!CreateProcessW(nullptr, AsWritableWide(writable), nullptr, nullptr, FALSE, flags, nullptr,
                        nullptr, &startup, &info)) {
        const DWORD error = GetLastError();
        start.error = error;
        return start;
    }
    return adoptChild(info, scope);
}

namespace {

// The window of the user's shell: the shell's desktop window, or else its taskbar (a shell such
// as Wine's desktop registers no desktop window). Never one of this program's own windows,
// whose token is the elevated one.
HWND ShellWindow(DWORD& shellProcessId) {
    for (const HWND window : {GetShellWindow(), FindWindowW(L"Shell_TrayWnd", nullptr)}) {
        shellProcessId = 0;
        if (window != nullptr && GetWindowThreadProcessId(window, &shellProcessId) != 0 &&
            shellProcessId != GetCurrentProcessId()) {
            return window;
        }
    }
    return nullptr;
}

// The user's own token, unelevated: that of the shell's process, duplicated as a primary token.
// 0, or the code of the step that failed.
DWORD ShellUserToken(UniqueKernelHandle& primary) {
    DWORD shellProcessId = 0;
    if (ShellWindow(shellProcessId) == nullptr) {
        return ERROR_INVALID_WINDOW_HANDLE; // no shell runs on this desktop
    }
    UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellProcessId));
    if (!process.valid()) {
        return GetLastError();
    }
    UniqueKernelHandle token;
    if (!OpenProcessToken(process.get(), TOKEN_DUPLICATE, token.receive())) {
        return GetLastError();
    }
    constexpr DWORD kAccess = TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY |
                              TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID;
    if (!DuplicateTokenEx(token.get(), kAccess, nullptr, SecurityImpersonation, TokenPrimary,
                          primary.receive())) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

} // namespace

ChildStart Win32Platform::startHiddenAsShellUser(const std::u16string& commandLine,
                                                 ChildScope scope) {
    ChildStart start;
    UniqueKernelHandle token;
    if (const DWORD error = ShellUserToken(token)) {
        start.error = error;
        start.noShellToken = true;
        return start;
    }
    std::u16string writable = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const DWORD suspended = scope == ChildScope::ProcessTree ? CREATE_SUSPENDED : 0;
    BOOL started =
        CreateProcessWithTokenW(token.get(), 0, nullptr, AsWritableWide(writable),
                                CREATE_NO_WINDOW | suspended, nullptr, nullptr, &startup, &info);
    DWORD error = started ? ERROR_SUCCESS : GetLastError();
    if (!started && error == ERROR_INVALID_PARAMETER) {
        // CREATE_NO_WINDOW is not among the flags this call documents: where it is refused, a
        // console of its own, hidden, keeps a console uninstaller out of sight instead.
        writable = commandLine;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        started = CreateProcessWithTokenW(token.get(), 0, nullptr, AsWritableWide(writable),
                                          CREATE_NEW_CONSOLE | suspended, nullptr, nullptr,
                                          &startup, &info);
        error = started ? ERROR_SUCCESS : GetLastError();
    }
    if (!started) {
        start.error = error;
        return start;
    }
    return adoptChild(info, scope);
}

ChildStart Win32Platform::adoptChild(const PROCESS_INFORMATION& info, ChildScope scope) {
    ChildStart start;
    const UniqueKernelHandle thread(info.hThread);
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle job;
    if (scope == ChildScope::ProcessTree) {
        // Without a job of its own (Windows 7 does not nest jobs, and this program may already
        // run in one) the child is waited for as a single process.
        job.reset(CreateJobObjectW(nullptr, nullptr));
        if (job.valid() && !AssignProcessToJobObject(job.get(), process.get())) {
            job.reset();
        }
        if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
            const DWORD error = GetLastError();
            TerminateProcess(process.get(), error);
            start.error = error;
            return start;
        }
    }
    start.child = nextChild_++;
    Child& child = children_[start.child];
    child.process = std::move(process);
    child.job = std::move(job);
    child.processId = info.dwProcessId;
    return start;
}

namespace {

// What a look into a child's job found.
enum class JobLook { Empty, Member, Unopenable };

// Opens a process that is still in the job, for waiting on it.
JobLook OpenJobMember(HANDLE job, UniqueKernelHandle& member) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof(accounting), nullptr) ||
        accounting.ActiveProcesses == 0) {
        // A job that cannot be read is no reason to wait longer than for the started process.
        return JobLook::Empty;
    }
    const DWORD room = accounting.ActiveProcesses + 16;
    std::vector<ULONG_PTR> buffer(2 + room); // the list's two counts, then the ids
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, list,
                                   static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)),
                                   nullptr) &&
        GetLastError() != ERROR_MORE_DATA) {
        return JobLook::Empty;
    }
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList && i < room; ++i) {
        member.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                 static_cast<DWORD>(list->ProcessIdList[i])));
        // The id may have been reused since the list was taken: it must be the job's process.
        BOOL inJob = FALSE;
        if (member.valid() && IsProcessInJob(member.get(), job, &inJob) && inJob) {
            return JobLook::Member;
        }
    }
    member.reset();
    return JobLook::Unopenable;
}

} // namespace

// Waits up to timeoutMilliseconds for the handle (none: only for the time to pass). With
// keepPainting, paint and sent messages are handled at least every look interval; clicks and
// keys wait for the caller. Returns WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with the wait's
// code in error.
DWORD Win32Platform::waitForHandle(HANDLE handle, DWORD timeoutMilliseconds, bool keepPainting,
                                   DWORD& error) {
    const DWORD count = handle != nullptr ? 1 : 0;
    DWORD result = WAIT_FAILED;
    if (!keepPainting) {
        if (count == 0) {
            Sleep(timeoutMilliseconds);
            return WAIT_TIMEOUT;
        }
        result = WaitForSingleObject(handle, timeoutMilliseconds);
        error = GetLastError();
        return result;
    }
    const ULONGLONG started = GetTickCount64();
    for (;;) {
        handlePaintAndSentMessages(GetTickCount64());
        DWORD remaining = kQueueLookMilliseconds;
        if (timeoutMilliseconds != codes::kInfinite) {
            const ULONGLONG elapsed = GetTickCount64() - started;
            remaining = elapsed >= timeoutMilliseconds
                            ? 0
                            : static_cast<DWORD>(timeoutMilliseconds - elapsed);
            remaining = std::min<DWORD>(remaining, kQueueLookMilliseconds);
        }
        result =
            MsgWaitForMultipleObjects(count, &handle, FALSE, remaining, QS_PAINT | QS_SENDMESSAGE);
        error = GetLastError();
        const bool limitReached = result == WAIT_TIMEOUT &&
                                  timeoutMilliseconds != codes::kInfinite &&
                                  GetTickCount64() - started >= timeoutMilliseconds;
        if (result != WAIT_OBJECT_0 + count && (result != WAIT_TIMEOUT || limitReached)) {
            return result;
        }
    }
}

ChildWait Win32Platform::waitForChild(ChildId id, uint32_t timeoutMilliseconds, bool keepPainting) {
    ChildWait wait;
    auto found = children_.find(id);
    if (found == children_.end()) {
        wait.error = ERROR_INVALID_HANDLE;
        return wait;
    }
    HANDLE process = found->second.process.get();
    HANDLE job = found->second.job.get();
    const ULONGLONG started = GetTickCount64();
    const auto remaining = [&]() -> DWORD {
        if (timeoutMilliseconds == codes::kInfinite) {
            return INFINITE;
        }
        const ULONGLONG elapsed = GetTickCount64() - started;
        return elapsed >= timeoutMilliseconds ? 0
                                              : static_cast<DWORD>(timeoutMilliseconds - elapsed);
    };
    DWORD waitError = ERROR_SUCCESS;
    DWORD result = waitForHandle(process, timeoutMilliseconds, keepPainting, waitError);
    // The started process may have handed its work to processes it started: the child has
    // ended when its job holds none. Each is waited for in turn; one that cannot be opened is
    // looked for again a moment later.
    while (result == WAIT_OBJECT_0 && job != nullptr) {
        UniqueKernelHandle member;
        const JobLook look = OpenJobMember(job, member);
        if (look == JobLook::Empty) {
            break;
        }
        if (look == JobLook::Member) {
            result = waitForHandle(member.get(), remaining(), keepPainting, waitError);
        } else {
            const DWORD left = remaining();
            result = waitForHandle(nullptr, std::min<DWORD>(left, kJobPollMilliseconds),
                                   keepPainting, waitError);
            result = result == WAIT_TIMEOUT && left > kJobPollMilliseconds ? WAIT_OBJECT_0 : result;
        }
    }
    if (result == WAIT_OBJECT_0) {
        DWORD exitCode = 0;
        GetExitCodeProcess(process, &exitCode);
        wait.end = WaitEnd::Exited;
        wait.exitCode = exitCode;
    } else if (result == WAIT_TIMEOUT) {
        wait.end = WaitEnd::TimedOut;
    } else {
        wait.error = waitError;
    }
    return wait;
}

void Win32Platform::releaseChild(ChildId child) {
    children_.erase(child);
}

// --- User interface ------------------------------------------------------------------------------

bool Win32Platform::askYesNo(const std::u16string& text, const std::u16string& title,
                             NoticeIcon icon, bool yesIsDefault) {
    return MessageBoxW(owner_, AsWide(text), AsWide(title), QuestionBoxStyle(icon, yesIsDefault)) ==
           IDYES;
}

void Win32Platform::showNotice(const std::u16string& text, const std::u16string& title,
                               NoticeIcon icon) {
    MessageBoxW(owner_, AsWide(text), AsWide(title), NoticeBoxStyle(icon));
}

void Win32Platform::setWaitCursor(bool waiting) {
    SetCursor(LoadCursorW(nullptr, waiting ? IDC_WAIT : IDC_ARROW));
}

void Win32Platform::repaintWindow() {
    if (owner_ != nullptr) {
        UpdateWindow(owner_);
    }
}

void Win32Platform::lookAtQueue() {
    const uint64_t now = GetTickCount64();
    if (now - lastLook_ >= kQueueLookMilliseconds) {
        handlePaintAndSentMessages(now);
    }
}

void Win32Platform::handlePaintAndSentMessages(uint64_t now) {
    if (lastLook_ != 0) {
        longestGap_ = std::max(longestGap_, now - lastLook_);
    }
    lastLook_ = now;
    MSG message;
    // Peeking for sent messages only hands every message sent from another thread to its
    // window procedure; nothing posted is taken.
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    for (int painted = 0;
         painted < kMaxPaintsPerWake &&
         PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT);
         ++painted) {
        DispatchMessageW(&message);
    }
}

uint64_t Win32Platform::longestQueueGap() const {
    return lastLook_ == 0 ? 0 : std::max(longestGap_, GetTickCount64() - lastLook_);
}

void Win32Platform::resetQueueGap() {
    lastLook_ = GetTickCount64();
    longestGap_ = 0;
}

} // namespace tidewell
