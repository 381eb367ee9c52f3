#include "clean/ProtectedLocations.h"

#include "catalogue/RegistryText.h"
#include "support/Environment.h"
#include "support/PathFolding.h"
#include "support/Text.h"

#include <algorithm>
#include <vector>

namespace tidewell {

const char16_t kProtectedLocationMessage[] = u"受保护的系统目录，已跳过";

namespace {

std::u16string ParentOf(const std::u16string& canonical) {
    const size_t separator = canonical.rfind(u'\\');
    return separator == std::u16string::npos ? std::u16string() : canonical.substr(0, separator);
}

bool IsAncestorOrSame(const std::u16string& ancestor, const std::u16string& path) {
    return path == ancestor ||
           (path.size() > ancestor.size() && path.compare(0, ancestor.size(), ancestor) == 0 &&
            path[ancestor.size()] == u'\\');
}

// The folder as a root-like place: a drive root ("c:") or a UNC share ("\\server\share").
bool IsRootOrShare(const std::u16string& canonical) {
    const size_t depth = static_cast<size_t>(std::count(canonical.begin(), canonical.end(), u'\\'));
    return canonical[0] != u'\\' ? depth == 0 : depth <= 3;
}

// "%SystemDrive%\Users" as the system would expand it; empty when another reference remains.
std::u16string ExpandSystemReferences(std::u16string text, const std::u16string& windows) {
    const std::u16string drive =
        windows.size() >= 2 && windows[1] == u':' ? windows.substr(0, 2) : std::u16string();
    const std::pair<std::u16string, std::u16string> references[] = {
        {u"%systemdrive%", drive}, {u"%systemroot%", windows}, {u"%windir%", windows}};
    for (const auto& [reference, value] : references) {
        const size_t at = ToLower(text).find(reference);
        if (at != std::u16string::npos && !value.empty()) {
            text.replace(at, reference.size(), value);
        }
    }
    return text.find(u'%') == std::u16string::npos ? text : std::u16string();
}

// Where the system itself records its program, data and profile folders: these hold even when
// a variable such as ProgramFiles is empty or wrong.
std::vector<std::u16string> RegisteredFolders(Platform& platform, const std::u16string& windows) {
    struct Source {
        const char16_t* key;
        std::vector<std::u16string> names;
    };
    const Source sources[] = {
        {u"Software\\Microsoft\\Windows\\CurrentVersion",
         {u"ProgramFilesDir", u"ProgramFilesDir (x86)", u"ProgramW6432Dir"}},
        {u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
         {u"ProfilesDirectory", u"ProgramData", u"Public"}},
    };
    std::vector<std::u16string> folders;
    for (const Source& source : sources) {
        const RegistryValues read = platform.readValues(
            RegistryRoot::LocalMachine, RegistryView::Bits64, source.key, source.names);
        for (const RegistryValue& value : read.values) {
            folders.push_back(ExpandSystemReferences(
                DecodeRegistryText(value.error, value.type, value.data), windows));
        }
    }
    return folders;
}

// Every protected folder, canonical, each also with its short names spelled out (TEMP is often
// "C:\Users\ADMINI~1\AppData\Local\Temp").
std::vector<std::u16string> ProtectedFolders(Platform& platform, const LocalNames& local) {
    const std::u16string& windows = local.windows;
    const std::u16string profile = ReadEnvironmentVariable(platform, u"USERPROFILE");
    const std::u16string publicFolder = ReadEnvironmentVariable(platform, u"PUBLIC");
    std::vector<std::u16string> named = {windows, profile, publicFolder};
    for (const char16_t* variable :
         {u"ProgramFiles", u"ProgramW6432", u"ProgramFiles(x86)", u"ProgramData", u"SystemRoot",
          u"ALLUSERSPROFILE", u"TEMP", u"TMP"}) {
        named.push_back(ReadEnvironmentVariable(platform, variable));
    }
    for (ShellFolder folder :
         {ShellFolder::Documents, ShellFolder::Desktop, ShellFolder::LocalAppData,
          ShellFolder::RoamingAppData, ShellFolder::Profile}) {
        named.push_back(ShellFolderPath(platform, folder));
    }
    for (std::u16string& folder : RegisteredFolders(platform, windows)) {
        named.push_back(std::move(folder));
    }

    std::vector<std::u16string> folders;
    for (const std::u16string& folder : named) {
        if (folder.empty()) {
            continue;
        }
        folders.push_back(CanonicalPath(folder, local));
        folders.push_back(CanonicalPath(platform.longPathName(folder), local));
    }
    // The Users folder is the one that holds the profiles.
    folders.push_back(ParentOf(CanonicalPath(profile, local)));
    folders.push_back(ParentOf(CanonicalPath(publicFolder, local)));
    return folders;
}

} // namespace

bool IsProtectedLocation(Platform& platform, const std::u16string& path) {
    const LocalNames local = ReadLocalNames(platform);
    const std::u16string given = CanonicalPath(path, local);
    if (given.empty()) {
        return true;
    }
    // A short name ("C:\PROGRA~1") names the same folder as the long one.
    std::vector<std::u16string> targets = {given};
    const std::u16string resolved = CanonicalPath(platform.longPathName(path), local);
    if (!resolved.empty() && resolved != given) {
        targets.push_back(resolved);
    }

    const std::u16string windows = CanonicalPath(local.windows, local);
    const std::vector<std::u16string> folders = ProtectedFolders(platform, local);
    for (const std::u16string& target : targets) {
        if (IsRootOrShare(target)) {
            return true;
        }
        if (!windows.empty() && IsAncestorOrSame(windows, target)) {
            return true; // the system's own files, below the Windows folder too
        }
        for (const std::u16string& folder : folders) {
            if (!folder.empty() && IsAncestorOrSame(target, folder)) {
                return true;
            }
        }
    }
    return false;
}

} // namespace tidewell
