#include "platform/win32/Win32Platform.h"

#include "platform/SystemCodes.h"
#include "platform/win32/Wide.h"
#include "platform/win32/Win32Internal.h"

#include <shlobj.h>

#include <vector>

namespace tidewell {

using win32::AsWide;
using win32::FromWide;
using win32::kReadAttempts;
using win32::SystemPath;
using win32::UniqueLocalMemory;

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

// The shared Windows folder: GetWindowsDirectoryW gives a user's own one on a terminal server
// to a program that is not marked terminal-server aware.
std::u16string Win32Platform::windowsDirectory() {
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return FromWide(path, length);
}

std::u16string Win32Platform::systemDirectory() {
    wchar_t path[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
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

uint32_t Win32Platform::announceEnvironmentChange(uint32_t timeoutMilliseconds) {
    // SMTO_ABORTIFHUNG passes over hung windows at once; the limit holds for each window.
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                            reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG,
                            timeoutMilliseconds, &answer) == 0) {
        const DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_TIMEOUT;
    }
    return ERROR_SUCCESS;
}

} // namespace tidewell
