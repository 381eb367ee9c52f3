// A product uninstaller for tests. The seeder writes its command lines into the install
// records; run by the one-click uninstall (or by hand) it does what its options say and exits
// with the code it was given:
//
//   test-uninstaller.exe [--hand-off] [--exit-code N] [--sleep-ms N] [--remove-key HIVE\path]...
//                        [--remove-dir PATH]... [--log FILE]
//
// --hand-off does as setup engines do: the program starts a copy of itself with the other
// options and exits at once with the exit code; the copy does the work (and logs the original
// command line).
// HIVE is HKLM64, HKLM32 or HKCU. Removals are best effort (a running program's folder may not
// go); the exit code is the one given either way. --log appends the whole command line and the
// exit code, one UTF-8 line per run, so a test can see which uninstallers ran and how.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

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

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                RemoveTree(child);
            } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveDirectoryW(child.c_str());
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

void RemoveKey(const std::wstring& target) {
    const size_t separator = target.find(L'\\');
    if (separator == std::wstring::npos) {
        return;
    }
    const std::wstring hive = target.substr(0, separator);
    const std::wstring path = target.substr(separator + 1);
    HKEY root = HKEY_LOCAL_MACHINE;
    REGSAM view = KEY_WOW64_64KEY;
    if (hive == L"HKLM32") {
        view = KEY_WOW64_32KEY;
    } else if (hive == L"HKCU") {
        root = HKEY_CURRENT_USER;
    } else if (hive != L"HKLM64") {
        return;
    }
    const size_t leafAt = path.find_last_of(L'\\');
    const std::wstring parent = leafAt == std::wstring::npos ? L"" : path.substr(0, leafAt);
    const std::wstring leaf = leafAt == std::wstring::npos ? path : path.substr(leafAt + 1);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, parent.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
        RegDeleteTreeW(key, leaf.c_str());
        RegCloseKey(key);
    }
}

constexpr wchar_t kHandedOffBy[] = L"TIDEWELL_TEST_HANDED_OFF_BY";
constexpr wchar_t kHandOffOption[] = L" --hand-off";

// Starts this program again with the same options but --hand-off, and leaves it running.
void HandOff() {
    const std::wstring original = GetCommandLineW();
    std::wstring command = original;
    const size_t option = command.find(kHandOffOption);
    if (option != std::wstring::npos) {
        command.erase(option, wcslen(kHandOffOption));
    }
    SetEnvironmentVariableW(kHandedOffBy, original.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
}

void AppendLog(const std::wstring& file, DWORD exitCode) {
    HANDLE log = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return;
    }
    // A copy logs the command line it was handed the work by: the one the record holds.
    wchar_t handedOffBy[4096] = {};
    const DWORD length = GetEnvironmentVariableW(kHandedOffBy, handedOffBy, 4096);
    const bool copy = length > 0 && length < 4096;
    const std::string line =
        Utf8(copy ? handedOffBy : GetCommandLineW()) + "\t-> " + std::to_string(exitCode) + "\r\n";
    DWORD written = 0;
    WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args;
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    LocalFree(argv);

    DWORD exitCode = 0;
    DWORD sleepMs = 0;
    bool handOff = false;
    std::vector<std::wstring> keys;
    std::vector<std::wstring> folders;
    std::wstring logFile;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& option = args[i];
        if (option == L"--hand-off") {
            handOff = true;
            continue;
        }
        if (++i == args.size()) {
            break;
        }
        const std::wstring& value = args[i];
        if (option == L"--exit-code") {
            exitCode = wcstoul(value.c_str(), nullptr, 10);
        } else if (option == L"--sleep-ms") {
            sleepMs = wcstoul(value.c_str(), nullptr, 10);
        } else if (option == L"--remove-key") {
            keys.push_back(value);
        } else if (option == L"--remove-dir") {
            folders.push_back(value);
        } else if (option == L"--log") {
            logFile = value;
        }
    }
    if (handOff) {
        HandOff();
        return static_cast<int>(exitCode);
    }
    if (sleepMs != 0) {
        Sleep(sleepMs);
    }
    for (const auto& key : keys) {
        RemoveKey(key);
    }
    for (const auto& folder : folders) {
        RemoveTree(folder);
    }
    if (!logFile.empty()) {
        AppendLog(logFile, exitCode);
    }
    return static_cast<int>(exitCode);
}
