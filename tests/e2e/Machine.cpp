#include "Machine.h"

#include "AppDriver.h"
#include "platform/win32/Wide.h"
#include "support/Text.h"

#include <shlobj.h>
#include <tlhelp32.h>

namespace tidewell::e2e {

using win32::AsWide;
using win32::AsWritableWide;
using win32::FromWide;

namespace {

void ListTreeInto(const std::u16string& folder, const std::u16string& prefix,
                  std::set<std::u16string>& out) {
    WIN32_FIND_DATAW data;
    win32::UniqueFind find(FindFirstFileW(AsWide(JoinPath(folder, u"*")), &data));
    if (!find.valid()) {
        return;
    }
    do {
        const std::u16string name = FromWide(data.cFileName);
        if (name == u"." || name == u"..") {
            continue;
        }
        const std::u16string relative = prefix.empty() ? name : prefix + u"\\" + name;
        out.insert(relative);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            ListTreeInto(JoinPath(folder, name), relative, out);
        }
    } while (FindNextFileW(find.get(), &data));
}

void ListKeysInto(HKEY key, const std::u16string& prefix, std::set<std::u16string>& out,
                  REGSAM view) {
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD length = 256;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return;
        }
        const std::u16string child = FromWide(name, length);
        const std::u16string relative = prefix.empty() ? child : prefix + u"\\" + child;
        out.insert(relative);
        win32::UniqueKey sub;
        if (RegOpenKeyExW(key, name, 0, KEY_READ | view, sub.receive()) == ERROR_SUCCESS) {
            ListKeysInto(sub.get(), relative, out, view);
        }
    }
}

} // namespace

SeededProduct::SeededProduct(const std::u16string& product)
    : product_(product), run_(RunSeeder(u"seed " + product)) {}

SeededProduct::~SeededProduct() {
    RunSeeder(u"clear " + product_);
}

bool PathExists(const std::u16string& path) {
    return GetFileAttributesW(AsWide(path)) != INVALID_FILE_ATTRIBUTES;
}

std::set<std::u16string> ListNames(const std::u16string& folder, const std::u16string& pattern) {
    std::set<std::u16string> names;
    WIN32_FIND_DATAW data;
    win32::UniqueFind find(FindFirstFileW(AsWide(JoinPath(folder, pattern)), &data));
    if (!find.valid()) {
        return names;
    }
    do {
        const std::u16string name = FromWide(data.cFileName);
        if (name != u"." && name != u"..") {
            names.insert(name);
        }
    } while (FindNextFileW(find.get(), &data));
    return names;
}

std::set<std::u16string> ListTree(const std::u16string& folder) {
    std::set<std::u16string> paths;
    ListTreeInto(folder, {}, paths);
    return paths;
}

void RemoveTree(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(AsWide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    SetFileAttributesW(AsWide(path), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(AsWide(path));
        return;
    }
    for (const std::u16string& name : ListNames(path, u"*")) {
        RemoveTree(JoinPath(path, name));
    }
    RemoveDirectoryW(AsWide(path));
}

std::u16string RegistryPlace::exportName() const {
    if (root == HKEY_CURRENT_USER) {
        return u"HKEY_CURRENT_USER\\" + path;
    }
    // The 32-bit view of HKLM\Software is exported where it is stored, under WOW6432Node.
    const std::u16string software = u"Software\\";
    if (view == KEY_WOW64_32KEY && path.size() > software.size() &&
        _wcsnicmp(reinterpret_cast<const wchar_t*>(path.c_str()), L"Software\\", 9) == 0) {
        return u"HKEY_LOCAL_MACHINE\\" + path.substr(0, software.size()) + u"WOW6432Node\\" +
               path.substr(software.size());
    }
    return u"HKEY_LOCAL_MACHINE\\" + path;
}

std::optional<RegistryPlace> ParseRegistryLocation(const std::u16string& location) {
    RegistryPlace place;
    std::u16string rest;
    if (location.rfind(u"HKCU\\", 0) == 0) {
        place.root = HKEY_CURRENT_USER;
        place.rootName = u"HKCU";
    } else if (location.rfind(u"HKLM\\", 0) == 0) {
        place.root = HKEY_LOCAL_MACHINE;
        place.rootName = u"HKLM";
    } else {
        return std::nullopt;
    }
    const std::u16string mark64 = u" [64位]";
    const std::u16string mark32 = u" [32位]";
    const auto endsWith = [&](const std::u16string& mark) {
        return location.size() > mark.size() &&
               location.compare(location.size() - mark.size(), mark.size(), mark) == 0;
    };
    if (endsWith(mark64)) {
        place.view = KEY_WOW64_64KEY;
        rest = location.substr(5, location.size() - 5 - mark64.size());
    } else if (endsWith(mark32)) {
        place.view = KEY_WOW64_32KEY;
        rest = location.substr(5, location.size() - 5 - mark32.size());
    } else {
        return std::nullopt;
    }
    place.path = rest;
    return place;
}

bool KeyExists(const RegistryPlace& place) {
    win32::UniqueKey key;
    return RegOpenKeyExW(place.root, AsWide(place.path), 0, KEY_READ | place.view, key.receive()) ==
           ERROR_SUCCESS;
}

std::set<std::u16string> ListKeys(HKEY root, REGSAM view, const std::u16string& path) {
    std::set<std::u16string> keys;
    win32::UniqueKey key;
    if (RegOpenKeyExW(root, AsWide(path), 0, KEY_READ | view, key.receive()) == ERROR_SUCCESS) {
        keys.insert(u".");
        ListKeysInto(key.get(), {}, keys, view);
    }
    return keys;
}

bool WriteStringValue(HKEY root, REGSAM view, const std::u16string& path, const wchar_t* name,
                      const std::u16string& value) {
    win32::UniqueKey key;
    if (RegCreateKeyExW(root, AsWide(path), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                        key.receive(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(char16_t))) ==
           ERROR_SUCCESS;
}

std::optional<DWORD> ServiceState(const std::u16string& name) {
    win32::UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.valid()) {
        return std::nullopt;
    }
    win32::UniqueService service(OpenServiceW(manager.get(), AsWide(name), SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    if (!service.valid() || !QueryServiceStatus(service.get(), &status)) {
        return std::nullopt;
    }
    return status.dwCurrentState;
}

bool ProcessRunning(DWORD processId, const std::u16string& executableName) {
    win32::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot.valid() && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == processId &&
            ToLower(FromWide(entry.szExeFile)) == ToLower(executableName)) {
            return true;
        }
    }
    return false;
}

std::u16string DecodeUtf16Le(const std::string& bytes) {
    std::u16string text;
    for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[at]) |
                                             (static_cast<unsigned char>(bytes[at + 1]) << 8)));
    }
    return text;
}

RunOutputs::RunOutputs()
    : desktop_(ShellFolder(CSIDL_DESKTOPDIRECTORY)),
      backupRoot_(JoinPath(ShellFolder(CSIDL_PERSONAL), u"TidewellBackup")),
      logsBefore_(ListNames(desktop_, u"Tidewell日志_*.txt")),
      foldersBefore_(ListNames(backupRoot_, u"*")) {}

RunOutputs::~RunOutputs() {
    for (const std::u16string& log : newLogs()) {
        DeleteFileW(AsWide(log));
    }
    for (const std::u16string& folder : newBackupFolders()) {
        RemoveTree(folder);
    }
    if (foldersBefore_.empty()) {
        RemoveDirectoryW(AsWide(backupRoot_));
    }
}

std::vector<std::u16string> RunOutputs::newLogs() const {
    std::vector<std::u16string> paths;
    for (const std::u16string& name : ListNames(desktop_, u"Tidewell日志_*.txt")) {
        if (logsBefore_.count(name) == 0) {
            paths.push_back(JoinPath(desktop_, name));
        }
    }
    return paths;
}

std::vector<std::u16string> RunOutputs::newBackupFolders() const {
    std::vector<std::u16string> paths;
    for (const std::u16string& name : ListNames(backupRoot_, u"*")) {
        if (foldersBefore_.count(name) == 0) {
            paths.push_back(JoinPath(backupRoot_, name));
        }
    }
    return paths;
}

RunLogFile ReadRunLog(const std::u16string& path) {
    RunLogFile log;
    const std::string bytes = ReadBytes(path);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        log.problem = "no UTF-8 byte-order mark";
        return log;
    }
    const std::string utf8 = bytes.substr(3);
    const std::u16string text = FromUtf8(utf8);
    if (ToUtf8(text) != utf8 || text.find(u'\xFFFD') != std::u16string::npos) {
        log.problem = "not well-formed UTF-8";
        return log;
    }
    const size_t first = text.find(u"\r\n");
    const size_t second = first == std::u16string::npos ? first : text.find(u"\r\n", first + 2);
    if (second == std::u16string::npos || text.compare(second, 4, u"\r\n\r\n") != 0) {
        log.problem = "no title line, time line and empty line";
        return log;
    }
    log.title = text.substr(0, first);
    log.timeLine = text.substr(first + 2, second - first - 2);
    log.body = text.substr(second + 4);
    return log;
}

RegExport ReadRegExport(const std::u16string& path) {
    RegExport file;
    const std::string bytes = ReadBytes(path);
    file.hasBom = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
                  static_cast<unsigned char>(bytes[1]) == 0xFE;
    if (!file.hasBom) {
        return file;
    }
    file.text = DecodeUtf16Le(bytes.substr(2));
    const std::vector<std::u16string> lines = SplitLines(file.text);
    file.header = lines.empty() ? std::u16string() : lines[0];
    for (const std::u16string& line : lines) {
        if (!line.empty() && line[0] == u'[') {
            file.keyLine = line;
            break;
        }
    }
    return file;
}

} // namespace tidewell::e2e
