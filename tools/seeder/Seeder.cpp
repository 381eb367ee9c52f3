// The residue seeder: lays out, on the real Win32 surface of the machine it runs on (a
// throwaway Wine prefix, normally), what AutoCAD, SolidWorks and Oracle leave behind, so that
// scans, cleaning and the one-click uninstall can be tested against the real system.
//
//   tidewell-seeder.exe seed  [autocad|solidworks|oracle|oracle-in-use|all] [--manifest FILE]
//                             [--no-processes] [--no-package]
//   tidewell-seeder.exe clear [autocad|solidworks|oracle|oracle-in-use|all] [--manifest FILE]
//
// "seed" first clears the product (so it can run again, and an old service is deleted before
// it is created anew), then creates folders and files, registry branches, install records
// with the uninstall commands of test-uninstaller.exe, the AutoCAD language pack installed
// with msiexec, services (some running), the user's ORACLE_HOME and running copies of
// residue-waiter.exe under the products' executable names. "clear" ends those programs,
// deletes the services, uninstalls the package and removes everything else again.
//
// What was created is printed as a manifest (UTF-8, one tab-separated line per thing, first
// field the kind, second the product), or written to FILE instead:
//   base        -        <name> <path>
//   folder|file <product> <path>
//   key         <product> <HKLM64|HKLM32|HKCU> <path>
//   record      <product> <hive> <subkey> <DisplayName> <DisplayVersion> <quiet> <plain>
//   package     <product> <product code> <hive> <uninstall command Windows Installer wrote>
//   service     <product> <key name> <display name> <running|stopped> <binary>
//   process     <product> <process id> <executable name> <path>
//   environment <product> <name> <value>
//   failure     -         <what went wrong>
// "clear" writes only failure lines, and only to FILE.
//
// Running programs are started through a one-shot service (residue-service.exe --launch), so
// that they are children of the service manager: started by the seeder itself they would keep
// the seeder's standard error open, and a test runner reading it would wait for them.
//
// ORACLE_HOME is written to HKCU\Environment and announced with WM_SETTINGCHANGE; Oracle's
// stale values (a machine ORACLE_HOME and a user Path entry into a removed client home) are
// written beside it. A process
// started afterwards from outside Wine sees it; one started by a process that was already
// running inherits that parent's environment and does not, unless it reads the value itself.
#include "SeedPlan.h"

#include "platform/win32/UniqueHandle.h"

#include <windows.h>

#include <tlhelp32.h>

#include <shlobj.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace tidewell::seeder {
namespace {

using win32::UniqueFile;
using win32::UniqueKernelHandle;
using win32::UniqueKey;
using win32::UniqueService;

constexpr const wchar_t* kLauncherService = L"TidewellSeedLauncher";
constexpr DWORD kServiceDeadlineMs = 20000;

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

std::wstring FromUtf8(const std::string& bytes) {
    if (bytes.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return text;
}

void WriteOut(DWORD handle, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(GetStdHandle(handle), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring Environment(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, &value[0], size));
    return value;
}

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))
               ? std::wstring(path)
               : std::wstring();
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    if (name.empty()) {
        return folder;
    }
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

std::wstring LastComponent(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

std::wstring Parent(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L'\\'));
}

const wchar_t* HiveName(Hive hive) {
    switch (hive) {
    case Hive::Machine64:
        return L"HKLM64";
    case Hive::Machine32:
        return L"HKLM32";
    default:
        return L"HKCU";
    }
}

HKEY HiveRoot(Hive hive) {
    return hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

REGSAM HiveView(Hive hive) {
    return hive == Hive::Machine32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

std::wstring EnvironmentKey(Hive hive) {
    return hive == Hive::User ? L"Environment"
                              : L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
}

bool IsPath(const wchar_t* name) {
    return _wcsicmp(name, L"Path") == 0;
}

std::vector<std::wstring> PathEntries(const std::wstring& text) {
    std::vector<std::wstring> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L';', start);
        end = end == std::wstring::npos ? text.size() : end;
        if (end > start) {
            entries.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return entries;
}

std::wstring JoinEntries(const std::vector<std::wstring>& entries) {
    std::wstring text;
    for (const std::wstring& entry : entries) {
        text += (text.empty() ? L"" : L";") + entry;
    }
    return text;
}

class Seeder {
public:
    Seeder() {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        toolDir_ = Parent(self);
        std::wstring programFiles = Environment(L"ProgramW6432");
        if (programFiles.empty()) {
            programFiles = Environment(L"ProgramFiles");
        }
        std::wstring systemDrive = Environment(L"SystemDrive");
        bases_ = {
            {Base::ProgramFiles, programFiles},
            {Base::ProgramFilesX86, Environment(L"ProgramFiles(x86)")},
            {Base::ProgramData, Environment(L"ProgramData")},
            {Base::LocalAppData, ShellFolder(CSIDL_LOCAL_APPDATA)},
            {Base::RoamingAppData, ShellFolder(CSIDL_APPDATA)},
            {Base::Temp, Environment(L"TEMP")},
            {Base::SystemDrive, (systemDrive.empty() ? std::wstring(L"C:") : systemDrive) + L"\\"},
            {Base::PackageCache, Join(Environment(L"ProgramData"), L"Package Cache")},
        };
    }

    void seed(const std::vector<const ProductPlan*>& plans, bool withProcesses, bool withPackage) {
        const wchar_t* baseNames[] = {L"ProgramFiles", L"ProgramFilesX86", L"ProgramData",
                                      L"LocalAppData", L"RoamingAppData",  L"Temp",
                                      L"SystemDrive",  L"PackageCache"};
        for (int i = 0; i < 8; ++i) {
            line({L"base", L"-", baseNames[i], bases_[static_cast<Base>(i)]});
        }
        for (const ProductPlan* plan : plans) {
            clear(*plan);
        }
        std::vector<std::pair<const ProductPlan*, std::wstring>> programs;
        for (const ProductPlan* plan : plans) {
            seedFiles(*plan);
            seedRegistry(*plan);
            if (plan->installsPackage && withPackage) {
                installPackage(*plan);
            }
            seedServices(*plan);
            if (withProcesses) {
                for (const ProcessSeed& process : plan->processes) {
                    const std::wstring program = path(process.program);
                    if (copyTool(L"residue-waiter.exe", program)) {
                        for (int i = 0; i < process.copies; ++i) {
                            programs.emplace_back(plan, program);
                        }
                    }
                }
            }
        }
        if (!programs.empty()) {
            startPrograms(programs);
        }
    }

    void clear(const ProductPlan& plan) {
        std::vector<std::wstring> programs;
        for (const ProcessSeed& process : plan.processes) {
            programs.push_back(path(process.program));
        }
        endPrograms(programs);
        for (const ServiceSeed& service : plan.services) {
            deleteService(service.keyName);
        }
        if (plan.installsPackage) {
            removePackage();
        }
        for (const RecordSeed& record : plan.records) {
            deleteKey(record.hive, std::wstring(kUninstallList) + L"\\" + record.subkey);
            removeTree(Join(bases_[Base::PackageCache], record.subkey));
        }
        for (const KeySeed& key : plan.clearKeys) {
            deleteKey(key.hive, key.path);
        }
        if (plan.oracleHome != nullptr) {
            UniqueKey environment;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_SET_VALUE,
                              environment.receive()) == ERROR_SUCCESS) {
                RegDeleteValueW(environment.get(), L"ORACLE_HOME");
            }
        }
        for (const EnvironmentSeed& seed : plan.environment) {
            UniqueKey environment;
            if (RegOpenKeyExW(HiveRoot(seed.hive), EnvironmentKey(seed.hive).c_str(), 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE | HiveView(seed.hive),
                              environment.receive()) != ERROR_SUCCESS) {
                continue;
            }
            if (!IsPath(seed.name)) {
                RegDeleteValueW(environment.get(), seed.name);
                continue;
            }
            std::vector<std::wstring> entries = PathEntries(readText(environment, seed.name));
            const std::wstring folder = path(seed.folder);
            entries.erase(std::remove(entries.begin(), entries.end(), folder), entries.end());
            if (entries.empty()) {
                RegDeleteValueW(environment.get(), seed.name);
            } else {
                setString(environment, seed.name, JoinEntries(entries), REG_EXPAND_SZ);
            }
        }
        for (const PathSeed& folder : plan.clearFolders) {
            removeTree(path(folder));
        }
    }

    void writeManifest(const std::wstring& file) {
        UniqueFile out(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!out.valid() || !WriteFile(out.get(), manifest_.data(),
                                       static_cast<DWORD>(manifest_.size()), &written, nullptr)) {
            fail(L"manifest not written: " + file, GetLastError());
        }
    }

    // Adds the failures to the manifest, one "failure" line each.
    void listFailures() {
        for (const std::wstring& failure : failures_) {
            line({L"failure", L"-", failure});
        }
    }

    const std::string& manifest() const { return manifest_; }
    const std::vector<std::wstring>& failures() const { return failures_; }

private:
    std::wstring path(const PathSeed& seed) { return Join(bases_[seed.base], seed.path); }

    void line(std::initializer_list<std::wstring> fields) {
        std::wstring text;
        for (const std::wstring& field : fields) {
            text += (text.empty() ? L"" : L"\t") + field;
        }
        manifest_ += Utf8(text) + "\r\n";
    }

    void fail(const std::wstring& what, DWORD error) {
        failures_.push_back(what + L" (error " + std::to_wstring(error) + L")");
    }

    // --- Files -------------------------------------------------------------------------------

    bool makeFolders(const std::wstring& folder) {
        if (GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        const size_t separator = folder.find_last_of(L'\\');
        if (separator != std::wstring::npos && separator > 2) {
            makeFolders(folder.substr(0, separator));
        }
        if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            fail(L"folder not created: " + folder, GetLastError());
            return false;
        }
        return true;
    }

    bool writeFile(const std::wstring& file, const std::string& contents, bool readOnly) {
        if (!makeFolders(Parent(file))) {
            return false;
        }
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        UniqueFile out(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!out.valid() || !WriteFile(out.get(), contents.data(),
                                       static_cast<DWORD>(contents.size()), &written, nullptr)) {
            fail(L"file not written: " + file, GetLastError());
            return false;
        }
        out.reset();
        if (readOnly) {
            SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        return true;
    }

    bool copyTool(const wchar_t* tool, const std::wstring& target) {
        if (!makeFolders(Parent(target))) {
            return false;
        }
        if (!CopyFileW(Join(toolDir_, tool).c_str(), target.c_str(), FALSE)) {
            fail(L"program not copied to " + target, GetLastError());
            return false;
        }
        return true;
    }

    // Removes the folder with everything in it (or the file); links are removed, not followed.
    void removeTree(const std::wstring& target) {
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return;
        }
        SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            if (!DeleteFileW(target.c_str())) {
                fail(L"file not removed: " + target, GetLastError());
            }
            return;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            WIN32_FIND_DATAW data;
            win32::UniqueFind find(FindFirstFileW(Join(target, L"*").c_str(), &data));
            if (find.valid()) {
                do {
                    const std::wstring name = data.cFileName;
                    if (name != L"." && name != L"..") {
                        removeTree(Join(target, name));
                    }
                } while (FindNextFileW(find.get(), &data));
            }
        }
        if (!RemoveDirectoryW(target.c_str())) {
            fail(L"folder not removed: " + target, GetLastError());
        }
    }

    void seedFiles(const ProductPlan& plan) {
        for (const PathSeed& folder : plan.folders) {
            if (makeFolders(path(folder))) {
                line({L"folder", plan.name, path(folder)});
            }
        }
        for (const FileSeed& file : plan.files) {
            if (writeFile(path({file.base, file.path}), file.contents, file.readOnly)) {
                line({L"file", plan.name, path({file.base, file.path})});
            }
        }
    }

    // --- Registry ----------------------------------------------------------------------------

    UniqueKey createKey(Hive hive, const std::wstring& keyPath) {
        UniqueKey key;
        const LSTATUS status =
            RegCreateKeyExW(HiveRoot(hive), keyPath.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | HiveView(hive), nullptr, key.receive(), nullptr);
        if (status != ERROR_SUCCESS) {
            fail(std::wstring(L"key not created: ") + HiveName(hive) + L"\\" + keyPath,
                 static_cast<DWORD>(status));
        }
        return key;
    }

    void setBytes(const UniqueKey& key, const wchar_t* name, DWORD type, const void* data,
                  DWORD size) {
        const LSTATUS status =
            RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
        if (status != ERROR_SUCCESS) {
            fail(std::wstring(L"value not set: ") + name, static_cast<DWORD>(status));
        }
    }

    void setString(const UniqueKey& key, const wchar_t* name, const std::wstring& value,
                   DWORD type = REG_SZ) {
        setBytes(key, name, type, value.c_str(),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }

    void deleteKey(Hive hive, const std::wstring& keyPath) {
        const size_t leafAt = keyPath.find_last_of(L'\\');
        UniqueKey parent;
        if (RegOpenKeyExW(HiveRoot(hive), keyPath.substr(0, leafAt).c_str(), 0,
                          KEY_ALL_ACCESS | HiveView(hive), parent.receive()) != ERROR_SUCCESS) {
            return;
        }
        const LSTATUS status = RegDeleteTreeW(parent.get(), keyPath.substr(leafAt + 1).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            fail(std::wstring(L"key not removed: ") + HiveName(hive) + L"\\" + keyPath,
                 static_cast<DWORD>(status));
        }
    }

    std::wstring uninstallerCommand(const RecordSeed& record, bool effective) {
        const std::wstring uninstaller =
            Join(Join(bases_[Base::PackageCache], record.subkey), L"test-uninstaller.exe");
        const std::wstring log = Join(bases_[Base::PackageCache], L"test-uninstaller.log");
        if (!effective) {
            return Quoted(uninstaller) + L" --exit-code 1602 --log " + Quoted(log);
        }
        const auto recordKey = [&](const wchar_t* subkey) {
            return Quoted(std::wstring(HiveName(record.hive)) + L"\\" + kUninstallList + L"\\" +
                          subkey);
        };
        std::wstring command = Quoted(uninstaller);
        if (record.sibling[0] != L'\0') {
            command += L" --hand-off --sleep-ms 1500 --remove-key " + recordKey(record.sibling);
        }
        command += L" --exit-code 0 --remove-key " + recordKey(record.subkey);
        if (record.removes.path[0] != L'\0') {
            command += L" --remove-dir " + Quoted(path(record.removes));
        }
        return command + L" --log " + Quoted(log);
    }

    void writeDisplayName(const UniqueKey& key, const RecordSeed& record) {
        const std::wstring name = record.displayName;
        const DWORD bytes = static_cast<DWORD>(name.size() * sizeof(wchar_t));
        switch (record.storage) {
        case NameStorage::Terminated:
            setString(key, L"DisplayName", name);
            break;
        case NameStorage::Unterminated: {
            // The system adds a terminator the caller left out of the size when one follows in
            // memory; a non-zero unit behind the text keeps the value as short as given.
            const std::wstring padded = name + L"X";
            setBytes(key, L"DisplayName", REG_SZ, padded.c_str(), bytes);
            break;
        }
        case NameStorage::OddByteCount: {
            // The text and the low byte of its terminator, as a size of 2n + 1 gives it; the
            // unit behind has a zero low byte but is itself non-zero, for the reason above.
            const std::wstring padded = name + std::wstring(1, static_cast<wchar_t>(0x5800));
            setBytes(key, L"DisplayName", REG_SZ, padded.c_str(), bytes + 1);
            break;
        }
        case NameStorage::MultiString: {
            const std::wstring list = name + std::wstring(2, L'\0');
            setBytes(key, L"DisplayName", REG_MULTI_SZ, list.data(),
                     static_cast<DWORD>(list.size() * sizeof(wchar_t)));
            break;
        }
        }
    }

    void seedRegistry(const ProductPlan& plan) {
        for (const KeySeed& seed : plan.keys) {
            UniqueKey key = createKey(seed.hive, seed.path);
            if (key.valid()) {
                setString(key, seed.valueName, seed.value);
                line({L"key", plan.name, HiveName(seed.hive), seed.path});
            }
        }
        for (const RecordSeed& record : plan.records) {
            const std::wstring keyPath = std::wstring(kUninstallList) + L"\\" + record.subkey;
            UniqueKey key = createKey(record.hive, keyPath);
            if (!key.valid()) {
                continue;
            }
            writeDisplayName(key, record);
            if (record.displayVersion[0] != L'\0') {
                setString(key, L"DisplayVersion", record.displayVersion);
            }
            setString(key, L"Publisher", record.publisher);
            std::wstring quiet;
            std::wstring plain;
            if (record.commands == Commands::QuietOnly || record.commands == Commands::Both) {
                quiet = uninstallerCommand(record, true);
                setString(key, L"QuietUninstallString", quiet);
            }
            if (record.commands == Commands::PlainOnly || record.commands == Commands::Both) {
                plain = uninstallerCommand(record, record.commands == Commands::PlainOnly);
                setString(key, L"UninstallString", plain, REG_EXPAND_SZ);
            }
            if (record.commands != Commands::None) {
                copyTool(
                    L"test-uninstaller.exe",
                    Join(Join(bases_[Base::PackageCache], record.subkey), L"test-uninstaller.exe"));
            }
            line({L"record", plan.name, HiveName(record.hive), record.subkey, record.displayName,
                  record.displayVersion, quiet, plain});
        }
        if (plan.oracleHome != nullptr) {
            const std::wstring home = path({Base::SystemDrive, plan.oracleHome});
            UniqueKey environment = createKey(Hive::User, L"Environment");
            if (environment.valid()) {
                setString(environment, L"ORACLE_HOME", home);
                line({L"environment", plan.name, L"ORACLE_HOME", home});
                DWORD_PTR result = 0;
                SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                                    reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG,
                                    2000, &result);
            }
        }
        for (const EnvironmentSeed& seed : plan.environment) {
            const std::wstring folder = path(seed.folder);
            UniqueKey environment = createKey(seed.hive, EnvironmentKey(seed.hive));
            if (!environment.valid()) {
                continue;
            }
            if (IsPath(seed.name)) {
                std::vector<std::wstring> entries = PathEntries(readText(environment, seed.name));
                if (std::find(entries.begin(), entries.end(), folder) == entries.end()) {
                    entries.push_back(folder);
                }
                setString(environment, seed.name, JoinEntries(entries), REG_EXPAND_SZ);
            } else {
                setString(environment, seed.name, folder);
            }
            line({L"environment", plan.name, seed.name, folder});
        }
    }

    // The value's text as stored, unexpanded; empty when it is not there.
    std::wstring readText(const UniqueKey& key, const wchar_t* name) {
        DWORD size = 0;
        if (RegGetValueW(key.get(), nullptr, name,
                         RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, nullptr,
                         &size) != ERROR_SUCCESS ||
            size < sizeof(wchar_t)) {
            return {};
        }
        std::wstring text(size / sizeof(wchar_t), L'\0');
        if (RegGetValueW(key.get(), nullptr, name,
                         RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, &text[0],
                         &size) != ERROR_SUCCESS) {
            return {};
        }
        text.resize(wcsnlen(text.c_str(), text.size()));
        return text;
    }

    // --- The Windows Installer package ---------------------------------------------------------

    // Runs a program and waits for it; the exit code, or ~0u when it did not run to its end.
    DWORD runAndWait(std::wstring commandLine, DWORD timeoutMs) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &startup, &info)) {
            fail(L"not started: " + commandLine, GetLastError());
            return ~0u;
        }
        UniqueKernelHandle process(info.hProcess);
        CloseHandle(info.hThread);
        DWORD exitCode = ~0u;
        if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process.get(), &exitCode)) {
            fail(L"did not finish: " + commandLine, WAIT_TIMEOUT);
            TerminateProcess(process.get(), 1);
            return ~0u;
        }
        return exitCode;
    }

    std::wstring msiexec() {
        wchar_t system[MAX_PATH] = {};
        GetSystemDirectoryW(system, MAX_PATH);
        return Quoted(Join(system, L"msiexec.exe"));
    }

    void installPackage(const ProductPlan& plan) {
        const DWORD code = runAndWait(msiexec() + L" /i " + Quoted(Join(toolDir_, kPackageFile)) +
                                          L" /qn /norestart",
                                      180000);
        if (code != 0 && code != ERROR_SUCCESS_REBOOT_REQUIRED) {
            fail(L"msiexec /i did not succeed", code);
            return;
        }
        // The uninstall command is the one Windows Installer recorded, whatever it is.
        UniqueKey record;
        const std::wstring keyPath = std::wstring(kUninstallList) + L"\\" + kPackageCode;
        std::wstring command;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                          record.receive()) == ERROR_SUCCESS) {
            wchar_t value[512] = {};
            DWORD size = sizeof(value) - sizeof(wchar_t);
            if (RegQueryValueExW(record.get(), L"UninstallString", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS) {
                command = value;
            }
        } else {
            fail(L"msiexec wrote no install record in the 64-bit view", ERROR_FILE_NOT_FOUND);
        }
        line({L"package", plan.name, kPackageCode, L"HKLM64", command});
    }

    void removePackage() {
        UniqueKey record;
        const std::wstring keyPath = std::wstring(kUninstallList) + L"\\" + kPackageCode;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                          record.receive()) != ERROR_SUCCESS) {
            return;
        }
        record.reset();
        const DWORD code =
            runAndWait(msiexec() + L" /x " + kPackageCode + L" /qn /norestart", 180000);
        if (code != 0 && code != ERROR_UNKNOWN_PRODUCT && code != ERROR_SUCCESS_REBOOT_REQUIRED) {
            fail(L"msiexec /x did not succeed", code);
        }
    }

    // --- Services ----------------------------------------------------------------------------

    UniqueService manager() {
        UniqueService scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        if (!scm.valid()) {
            fail(L"service manager not opened", GetLastError());
        }
        return scm;
    }

    bool waitForState(SC_HANDLE service, DWORD state) {
        const ULONGLONG deadline = GetTickCount64() + kServiceDeadlineMs;
        SERVICE_STATUS status = {};
        while (QueryServiceStatus(service, &status)) {
            if (status.dwCurrentState == state) {
                return true;
            }
            if (GetTickCount64() > deadline) {
                break;
            }
            Sleep(50);
        }
        return false;
    }

    // Stops and deletes the service, then waits until the manager has forgotten it, so that
    // a new one of the same name can be created (1072 until then).
    void deleteService(const wchar_t* name) {
        UniqueService scm = manager();
        if (!scm.valid()) {
            return;
        }
        {
            UniqueService service(OpenServiceW(scm.get(), name, SERVICE_ALL_ACCESS));
            if (!service.valid()) {
                return;
            }
            SERVICE_STATUS status = {};
            if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
                waitForState(service.get(), SERVICE_STOPPED);
            }
            if (!DeleteService(service.get()) &&
                GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
                fail(std::wstring(L"service not deleted: ") + name, GetLastError());
                return;
            }
        }
        const ULONGLONG deadline = GetTickCount64() + kServiceDeadlineMs;
        while (GetTickCount64() < deadline) {
            UniqueService gone(OpenServiceW(scm.get(), name, SERVICE_QUERY_STATUS));
            if (!gone.valid() && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
                return;
            }
            Sleep(50);
        }
        fail(std::wstring(L"service still registered: ") + name, ERROR_SERVICE_MARKED_FOR_DELETE);
    }

    UniqueService createService(SC_HANDLE scm, const wchar_t* name, const wchar_t* display,
                                const std::wstring& binaryCommand) {
        UniqueService service(CreateServiceW(scm, name, display, SERVICE_ALL_ACCESS,
                                             SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                             SERVICE_ERROR_NORMAL, binaryCommand.c_str(), nullptr,
                                             nullptr, nullptr, nullptr, nullptr));
        if (!service.valid()) {
            fail(std::wstring(L"service not created: ") + name, GetLastError());
        }
        return service;
    }

    void seedServices(const ProductPlan& plan) {
        for (const ServiceSeed& seed : plan.services) {
            const std::wstring binary = path(seed.binary);
            if (!copyTool(L"residue-service.exe", binary)) {
                continue;
            }
            UniqueService scm = manager();
            if (!scm.valid()) {
                return;
            }
            UniqueService service =
                createService(scm.get(), seed.keyName, seed.displayName, Quoted(binary));
            if (!service.valid()) {
                continue;
            }
            bool running = false;
            if (seed.running) {
                if (!StartServiceW(service.get(), 0, nullptr)) {
                    fail(std::wstring(L"service not started: ") + seed.keyName, GetLastError());
                } else if (!waitForState(service.get(), SERVICE_RUNNING)) {
                    fail(std::wstring(L"service not running: ") + seed.keyName, WAIT_TIMEOUT);
                } else {
                    running = true;
                }
            }
            line({L"service", plan.name, seed.keyName, seed.displayName,
                  running ? L"running" : L"stopped", binary});
        }
    }

    // --- Running programs ----------------------------------------------------------------------

    void startPrograms(const std::vector<std::pair<const ProductPlan*, std::wstring>>& programs) {
        const std::wstring report = Join(bases_[Base::PackageCache], L"tidewell-seed-launch.txt");
        DeleteFileW(report.c_str());
        std::wstring command =
            Quoted(Join(toolDir_, L"residue-service.exe")) + L" --launch " + Quoted(report);
        for (const auto& program : programs) {
            command += L" " + Quoted(program.second);
        }
        deleteService(kLauncherService);
        {
            UniqueService scm = manager();
            if (!scm.valid()) {
                return;
            }
            UniqueService launcher =
                createService(scm.get(), kLauncherService, kLauncherService, command);
            if (!launcher.valid()) {
                return;
            }
            if (!StartServiceW(launcher.get(), 0, nullptr)) {
                fail(L"launcher service not started", GetLastError());
            } else if (!waitForState(launcher.get(), SERVICE_STOPPED)) {
                fail(L"launcher service did not finish", WAIT_TIMEOUT);
            }
        }
        deleteService(kLauncherService);

        std::string text;
        {
            UniqueFile in(CreateFileW(report.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            char buffer[4096];
            DWORD read = 0;
            while (in.valid() && ReadFile(in.get(), buffer, sizeof(buffer), &read, nullptr) &&
                   read != 0) {
                text.append(buffer, read);
            }
        }
        DeleteFileW(report.c_str());
        // One line per program in the order given: "pid<TAB>path" or "0<TAB>path<TAB>error".
        size_t next = 0;
        for (const auto& program : programs) {
            const size_t end = text.find("\r\n", next);
            if (end == std::string::npos) {
                fail(L"not started: " + program.second, ERROR_NO_MORE_ITEMS);
                continue;
            }
            const std::wstring entry = FromUtf8(text.substr(next, end - next));
            next = end + 2;
            const DWORD pid = wcstoul(entry.c_str(), nullptr, 10);
            if (pid == 0) {
                fail(L"not started: " + entry, ERROR_GEN_FAILURE);
                continue;
            }
            line({L"process", program.first->name, std::to_wstring(pid),
                  LastComponent(program.second), program.second});
        }
    }

    // Ends the processes started from these program files, and only those.
    void endPrograms(const std::vector<std::wstring>& programs) {
        UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot.valid()) {
            fail(L"no process snapshot", GetLastError());
            return;
        }
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
             more = Process32NextW(snapshot.get(), &entry)) {
            UniqueKernelHandle process(
                OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                            FALSE, entry.th32ProcessID));
            if (!process.valid()) {
                continue;
            }
            wchar_t image[MAX_PATH * 2] = {};
            DWORD size = MAX_PATH * 2;
            if (!QueryFullProcessImageNameW(process.get(), 0, image, &size)) {
                continue;
            }
            for (const std::wstring& program : programs) {
                if (SameText(program, image)) {
                    TerminateProcess(process.get(), 1);
                    WaitForSingleObject(process.get(), 5000);
                    break;
                }
            }
        }
    }

    std::wstring toolDir_;
    std::map<Base, std::wstring> bases_;
    std::string manifest_;
    std::vector<std::wstring> failures_;
};

int Usage() {
    WriteOut(STD_ERROR_HANDLE,
             "usage: tidewell-seeder seed|clear [autocad|solidworks|oracle|oracle-in-use|all] "
             "[--manifest FILE] [--no-processes] [--no-package]\n");
    return 2;
}

} // namespace
} // namespace tidewell::seeder

int wmain(int argc, wchar_t** argv) {
    using namespace tidewell::seeder;
    if (argc < 2) {
        return Usage();
    }
    const std::wstring command = argv[1];
    std::wstring product = L"all";
    std::wstring manifestFile;
    bool withProcesses = true;
    bool withPackage = true;
    for (int i = 2; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--manifest" && i + 1 < argc) {
            manifestFile = argv[++i];
        } else if (arg == L"--no-processes") {
            withProcesses = false;
        } else if (arg == L"--no-package") {
            withPackage = false;
        } else if (arg[0] != L'-') {
            product = arg;
        } else {
            return Usage();
        }
    }
    std::vector<const ProductPlan*> plans;
    for (const ProductPlan& plan : Plans()) {
        if ((product == L"all" && plan.inAll) || product == plan.name) {
            plans.push_back(&plan);
        }
    }
    if (plans.empty() || (command != L"seed" && command != L"clear")) {
        return Usage();
    }

    Seeder seeder;
    if (command == L"seed") {
        seeder.seed(plans, withProcesses, withPackage);
    } else {
        for (const ProductPlan* plan : plans) {
            seeder.clear(*plan);
        }
    }
    seeder.listFailures();
    if (!manifestFile.empty()) {
        seeder.writeManifest(manifestFile);
    } else if (command == L"seed") {
        WriteOut(STD_OUTPUT_HANDLE, seeder.manifest());
    }
    for (const std::wstring& failure : seeder.failures()) {
        WriteOut(STD_ERROR_HANDLE, "tidewell-seeder: " + Utf8(failure) + "\n");
    }
    return seeder.failures().empty() ? 0 : 1;
}
