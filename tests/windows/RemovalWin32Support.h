#pragma once

// Helpers shared by the removal tests on the real system: a scratch folder of the test's own on
// drive C (never a Z: path), raw reads of files and registry values, and polling with deadlines.
#include "platform/win32/Wide.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
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
    // Plain Win32 so that the cleanup does not depend on the code under test. Links are
    // removed, never entered.
    static void Erase(const std::u16string& path) {
        const DWORD attributes = GetFileAttributesW(win32::AsWide(path));
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return;
        }
        SetFileAttributesW(win32::AsWide(path), FILE_ATTRIBUTE_NORMAL);
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            DeleteFileW(win32::AsWide(path));
            return;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            WIN32_FIND_DATAW data;
            HANDLE find = FindFirstFileW(win32::AsWide(path + u"\\*"), &data);
            if (find != INVALID_HANDLE_VALUE) {
                do {
                    const std::u16string name = win32::FromWide(data.cFileName);
                    if (name != u"." && name != u"..") {
                        Erase(path + u"\\" + name);
                    }
                } while (FindNextFileW(find, &data));
                FindClose(find);
            }
        }
        RemoveDirectoryW(win32::AsWide(path));
    }

    std::u16string path_;
};

} // namespace tidewell::removaltest
