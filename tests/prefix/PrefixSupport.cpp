#include "PrefixSupport.h"

#include "platform/win32/Wide.h"
#include "support/Text.h"

#include <shlobj.h>

namespace tidewell::prefix {

using win32::AsWide;
using win32::AsWritableWide;
using win32::FromWide;

namespace {

constexpr DWORD kSeederTimeoutMs = 300000;
constexpr DWORD kSeedLockTimeoutMs = 600000;

std::vector<Fields> ParseManifest(const std::string& bytes) {
    std::vector<Fields> lines;
    for (const std::u16string& line : SplitLines(FromUtf8(bytes))) {
        if (line.empty()) {
            continue;
        }
        Fields fields;
        size_t at = 0;
        for (size_t tab = line.find(u'\t'); tab != std::u16string::npos;
             tab = line.find(u'\t', at)) {
            fields.push_back(line.substr(at, tab - at));
            at = tab + 1;
        }
        fields.push_back(line.substr(at));
        lines.push_back(fields);
    }
    return lines;
}

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

std::optional<std::vector<BYTE>> ReadPendingRenames() {
    win32::UniqueKey key;
    DWORD size = 0;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_READ, key.receive()) != 0 ||
        RegQueryValueExW(key.get(), kPendingRenames, nullptr, nullptr, nullptr, &size) != 0) {
        return std::nullopt;
    }
    std::vector<BYTE> data(size);
    RegQueryValueExW(key.get(), kPendingRenames, nullptr, nullptr, data.data(), &size);
    data.resize(size);
    return data;
}

} // namespace

ScopedPendingRenames::ScopedPendingRenames() : old_(ReadPendingRenames()) {}

ScopedPendingRenames::~ScopedPendingRenames() {
    win32::UniqueKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.receive()) != 0) {
        return;
    }
    if (old_) {
        RegSetValueExW(key.get(), kPendingRenames, 0, REG_MULTI_SZ, old_->data(),
                       static_cast<DWORD>(old_->size()));
    } else {
        RegDeleteValueW(key.get(), kPendingRenames);
    }
}

std::vector<std::u16string> ScopedPendingRenames::strings() {
    const auto data = ReadPendingRenames();
    std::u16string text;
    for (size_t i = 0; data && i + 1 < data->size(); i += 2) {
        text.push_back(static_cast<char16_t>((*data)[i] | ((*data)[i + 1] << 8)));
    }
    // Every string ends in a terminator and the list in one more.
    if (!text.empty() && text.back() == 0) {
        text.pop_back();
    }
    std::vector<std::u16string> result;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == 0) {
            result.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return result;
}

std::u16string Env(const char16_t* name) {
    const DWORD size = GetEnvironmentVariableW(AsWide(name), nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(AsWide(name), &value[0], size));
    return FromWide(value.c_str(), value.size());
}

std::u16string ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))
               ? FromWide(path)
               : std::u16string();
}

std::u16string BuildPath(const char* linuxPath) {
    std::u16string path = FromUtf8(linuxPath);
    if (!path.empty() && path[0] == u'/') {
        path = u"Z:" + path;
    }
    for (char16_t& unit : path) {
        unit = unit == u'/' ? u'\\' : unit;
    }
    return path;
}

std::string ReadBytes(const std::u16string& path) {
    win32::UniqueFile file(CreateFileW(AsWide(path), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (file.valid() && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) &&
           read != 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

std::vector<std::u16string> SplitLines(const std::u16string& text) {
    std::vector<std::u16string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(u"\r\n", start);
        if (end == std::u16string::npos) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

ScopedVariable::ScopedVariable(const std::u16string& name,
                               const std::optional<std::u16string>& value)
    : name_(name) {
    if (GetEnvironmentVariableW(AsWide(name), nullptr, 0) != 0) {
        old_ = Env(name.c_str());
    }
    SetEnvironmentVariableW(AsWide(name), value ? AsWide(*value) : nullptr);
}

ScopedVariable::~ScopedVariable() {
    SetEnvironmentVariableW(AsWide(name_), old_ ? AsWide(*old_) : nullptr);
}

SeedLock::SeedLock() : mutex_(CreateMutexW(nullptr, FALSE, L"TidewellResidueSeed")) {
    if (mutex_.valid()) {
        const DWORD wait = WaitForSingleObject(mutex_.get(), kSeedLockTimeoutMs);
        held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    }
}

SeedLock::~SeedLock() {
    if (held_) {
        ReleaseMutex(mutex_.get());
    }
}

std::vector<Fields> SeederRun::lines(const char16_t* kind) const {
    std::vector<Fields> found;
    for (const Fields& fields : manifest) {
        if (!fields.empty() && fields[0] == kind) {
            found.push_back(fields);
        }
    }
    return found;
}

SeederRun RunSeeder(const std::u16string& arguments) {
    SeederRun run;
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const std::u16string manifest = FromWide(temp) + u"tidewell-seed-manifest.txt";
    DeleteFileW(AsWide(manifest));
    std::u16string commandLine = u"\"" + BuildPath(TIDEWELL_SEEDER_PATH) + u"\" " + arguments +
                                 u" --manifest \"" + manifest + u"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, AsWritableWide(commandLine), nullptr, nullptr, FALSE, 0, nullptr,
                        L"C:\\", &startup, &info)) {
        run.failures = "seeder not started: error " + std::to_string(GetLastError());
        return run;
    }
    win32::UniqueKernelHandle process(info.hProcess);
    CloseHandle(info.hThread);
    if (WaitForSingleObject(process.get(), kSeederTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        run.failures = "seeder did not finish within 300 s";
        return run;
    }
    GetExitCodeProcess(process.get(), &run.exitCode);
    run.manifest = ParseManifest(ReadBytes(manifest));
    DeleteFileW(AsWide(manifest));
    for (const Fields& fields : run.lines(u"failure")) {
        run.failures += ToUtf8(fields.size() > 2 ? fields[2] : u"?") + "\n";
    }
    if (run.exitCode != 0 && run.failures.empty()) {
        run.failures = "seeder exited with " + std::to_string(run.exitCode);
    }
    return run;
}

} // namespace tidewell::prefix
