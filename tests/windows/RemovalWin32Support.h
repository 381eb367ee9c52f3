#pragma once

// Helpers shared by the tests on the real system: a scratch folder of the test's own on drive C
// (never a Z: path), raw file reads, entries reached through the long-path form, directory links
// made and removed through the Linux side under Wine, and polling with deadlines.
#include "PrefixSupport.h"
#include "platform/win32/UniqueHandle.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Platform.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tidewell::removaltest {

inline bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline std::u16string Decimal(uint64_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

inline std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (char16_t unit : text) {
        narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return narrow;
}

// The full path of this test program.
inline std::u16string OwnExecutable() {
    wchar_t path[MAX_PATH] = {};
    return win32::FromWide(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
}

// Waits for the condition, checking every few milliseconds, until the deadline passes.
inline bool WaitFor(const std::function<bool()>& condition, DWORD deadlineMilliseconds = 10000) {
    const ULONGLONG start = GetTickCount64();
    while (!condition()) {
        if (GetTickCount64() - start > deadlineMilliseconds) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

inline bool Exists(const std::u16string& path) {
    return GetFileAttributesW(win32::AsWide(path)) != INVALID_FILE_ATTRIBUTES;
}

inline void MakeFile(const std::u16string& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL,
                     const std::string& contents = "x") {
    HANDLE file = CreateFileW(win32::AsWide(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Narrow(path) << ": " << GetLastError();
    DWORD written = 0;
    WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(SetFileAttributesW(win32::AsWide(path), attributes)) << Narrow(path);
}

inline std::string ReadBytes(const std::u16string& path) {
    HANDLE file = CreateFileW(win32::AsWide(path), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

using prefix::ScopedPendingRenames;

// The long-path form, which the system takes verbatim.
inline std::u16string Verbatim(const std::u16string& path) {
    return u"\\\\?\\" + path;
}

inline DWORD VerbatimAttributes(const std::u16string& path) {
    return GetFileAttributesW(win32::AsWide(Verbatim(path)));
}

inline bool ExistsVerbatim(const std::u16string& path) {
    return VerbatimAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

// The names of a folder's entries, "." and ".." left out.
inline std::vector<std::pair<std::u16string, DWORD>> ListFolder(const std::u16string& folder) {
    std::vector<std::pair<std::u16string, DWORD>> entries;
    WIN32_FIND_DATAW data;
    win32::UniqueFind find(FindFirstFileW(win32::AsWide(Verbatim(folder) + u"\\*"), &data));
    if (!find.valid()) {
        return entries;
    }
    do {
        const std::u16string name = win32::FromWide(data.cFileName);
        if (name != u"." && name != u"..") {
            entries.push_back({name, data.dwFileAttributes});
        }
    } while (FindNextFileW(find.get(), &data));
    return entries;
}

// The text of a file after its UTF-16LE byte-order mark (as reg.exe writes), or "" without it.
inline std::u16string Utf16FileText(const std::u16string& path) {
    const std::string bytes = ReadBytes(Verbatim(path));
    if (bytes.compare(0, 2, "\xFF\xFE") != 0) {
        return {};
    }
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
}

// The Unix path of a Windows path, as UTF-8; empty when Wine cannot tell.
inline std::string UnixName(const std::u16string& path) {
    using UnixNameFunction = char*(CDECL*)(LPCWSTR);
    // Through void*: a FARPROC cast straight to another function type draws -Wcast-function-type.
    const auto unixName = reinterpret_cast<UnixNameFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName == nullptr ? nullptr : unixName(win32::AsWide(path));
    if (name == nullptr) {
        return {};
    }
    std::string text = name;
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

inline std::string UnixNameOf(const std::u16string& path) {
    const size_t separator = path.rfind(u'\\');
    const std::string parent = UnixName(path.substr(0, separator));
    return parent.empty() ? parent : parent + "/" + ToUtf8(path.substr(separator + 1));
}

// Starts a Linux program with Unix paths as its arguments. Wine hands it over to the
// system and reports it ended at once, so callers poll for its effect.
inline bool StartUnixProgram(const std::u16string& program, const std::vector<std::string>& args) {
    std::u16string command = u"Z:\\bin\\" + program;
    for (const std::string& arg : args) {
        command += u" \"" + FromUtf8(arg) + u"\"";
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, win32::AsWritableWide(command), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    WaitForSingleObject(info.hProcess, 10000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

inline bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A directory link at `link` to `target`: on Windows a directory symbolic link; Wine 8 cannot
// make one from the Windows side, but shows a Linux symbolic link to a directory as a directory
// reparse point.
inline bool MakeDirectoryLink(const std::u16string& link, const std::u16string& target) {
    if (!RunningUnderWine()) {
        constexpr DWORD kDirectory = 0x1;
        constexpr DWORD kUnprivileged = 0x2;
        return CreateSymbolicLinkW(win32::AsWide(link), win32::AsWide(target),
                                   kDirectory | kUnprivileged) ||
               CreateSymbolicLinkW(win32::AsWide(link), win32::AsWide(target), kDirectory);
    }
    const std::string from = UnixName(target);
    const std::string to = UnixNameOf(link);
    if (from.empty() || to.empty() || !StartUnixProgram(u"ln", {"-s", from, to})) {
        return false;
    }
    return WaitFor([&] { return IsLink(VerbatimAttributes(link)); });
}

// Removes a path with everything below it without following links. Under Wine links go through
// the Linux side (RemoveDirectoryW refuses a link whose target has content); everything else
// through the long-path form, which reaches names with trailing dots and deep entries.
inline void Erase(const std::u16string& path) {
    const DWORD attributes = VerbatimAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (IsLink(attributes)) {
        const std::string unix = UnixNameOf(path);
        if (unix.empty()) {
            RemoveDirectoryW(win32::AsWide(Verbatim(path)));
        } else if (StartUnixProgram(u"rm", {"-f", unix})) {
            WaitFor([&] { return !ExistsVerbatim(path); });
        }
        return;
    }
    SetFileAttributesW(win32::AsWide(Verbatim(path)), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(win32::AsWide(Verbatim(path)));
        return;
    }
    for (const auto& entry : ListFolder(path)) {
        Erase(path + u"\\" + entry.first);
    }
    RemoveDirectoryW(win32::AsWide(Verbatim(path)));
}

// A registry key in one view.
struct Key {
    HKEY root;
    REGSAM view; // KEY_WOW64_64KEY or KEY_WOW64_32KEY
    std::u16string path;
};

inline LONG CreateKey(const Key& key) {
    HKEY handle = nullptr;
    const LONG status = RegCreateKeyExW(key.root, win32::AsWide(key.path), 0, nullptr, 0,
                                        KEY_ALL_ACCESS | key.view, nullptr, &handle, nullptr);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(handle);
    }
    return status;
}

inline bool KeyExists(const Key& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(key.root, win32::AsWide(key.path), 0, KEY_READ | key.view, &handle) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(handle);
    return true;
}

inline void DeleteKey(const Key& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(key.root, win32::AsWide(key.path), 0, KEY_ALL_ACCESS | key.view, &handle) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(handle, nullptr);
        RegCloseKey(handle);
    }
    RegDeleteKeyExW(key.root, win32::AsWide(key.path), key.view, 0);
}

// A hidden child of the platform; one that a failed check left running is ended, and released.
class Started {
public:
    Started(Win32Platform& platform, const std::u16string& commandLine)
        : platform_(platform), start_(platform.startHidden({}, commandLine, ChildScope::Process)) {}
    ~Started() {
        if (start_.error == 0) {
            if (platform_.waitForChild(start_.child, 0, false).end != WaitEnd::Exited) {
                platform_.terminateProcess(id(), 5000);
            }
            platform_.releaseChild(start_.child);
        }
    }
    uint32_t error() const { return start_.error; }
    bool ok() const { return start_.error == 0; }
    uint32_t id() const { return platform_.childProcessId(start_.child); }
    ChildWait wait(uint32_t limit, bool keepPainting = false) {
        return platform_.waitForChild(start_.child, limit, keepPainting);
    }

private:
    Win32Platform& platform_;
    ChildStart start_;
};

// A folder of the test's own below C:\, removed with everything in it at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::u16string& purpose) {
        path_ = u"C:\\tidewell-" + purpose + u"-" + Decimal(GetCurrentProcessId()) + u"-" +
                Decimal(GetTickCount64());
        CreateDirectoryW(win32::AsWide(path_), nullptr);
    }
    ~ScratchFolder() { Erase(path_); }
    const std::u16string& path() const { return path_; }
    std::u16string operator/(const std::u16string& name) const { return path_ + u"\\" + name; }

private:
    std::u16string path_;
};

} // namespace tidewell::removaltest
