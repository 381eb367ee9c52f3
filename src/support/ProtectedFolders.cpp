#include "support/ProtectedFolders.h"

#include "support/Environment.h"
#include "support/PathFolding.h"
#include "support/RegistryText.h"
#include "support/Text.h"

#include <algorithm>
#include <vector>

namespace tidewell {

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

// The named folders canonical, each also with its short names spelled out (TEMP is often
// "C:\Users\ADMINI~1\AppData\Local\Temp").
std::vector<std::u16string> Canonical(Platform& platform, const std::vector<std::u16string>& named,
                                      const LocalNames& local) {
    std::vector<std::u16string> folders;
    for (const std::u16string& folder : named) {
        if (folder.empty()) {
            continue;
        }
        folders.push_back(CanonicalPath(folder, local));
        folders.push_back(CanonicalPath(platform.longPathName(folder), local));
    }
    return folders;
}

struct KeptFolders {
    std::u16string windows;
    std::vector<std::u16string> system; // canonical; an entry may be empty
    std::vector<std::u16string> temp;
};

KeptFolders ReadKeptFolders(Platform& platform, const LocalNames& local) {
    const std::u16string& windows = local.windows;
    const std::u16string profile = ReadEnvironmentVariable(platform, u"USERPROFILE");
    const std::u16string publicFolder = ReadEnvironmentVariable(platform, u"PUBLIC");
    std::vector<std::u16string> named = {windows, profile, publicFolder};
    for (const char16_t* variable : {u"ProgramFiles", u"ProgramW6432", u"ProgramFiles(x86)",
                                     u"ProgramData", u"SystemRoot", u"ALLUSERSPROFILE"}) {
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

    KeptFolders kept;
    kept.windows = CanonicalPath(windows, local);
    kept.system = Canonical(platform, named, local);
    // The Users folder is the one that holds the profiles.
    kept.system.push_back(ParentOf(CanonicalPath(profile, local)));
    kept.system.push_back(ParentOf(CanonicalPath(publicFolder, local)));
    kept.temp = Canonical(
        platform,
        {ReadEnvironmentVariable(platform, u"TEMP"), ReadEnvironmentVariable(platform, u"TMP")},
        local);
    return kept;
}

bool HoldsAny(const std::u16string& target, const std::vector<std::u16string>& folders) {
    return std::any_of(folders.begin(), folders.end(), [&](const std::u16string& folder) {
        return !folder.empty() && IsAncestorOrSame(target, folder);
    });
}

FolderStanding StandingOfCanonical(const std::u16string& target, const KeptFolders& kept) {
    if (IsRootOrShare(target)) {
        return FolderStanding::RootOrShare;
    }
    if (HoldsAny(target, kept.system)) {
        return FolderStanding::SystemFolder;
    }
    if (!kept.windows.empty() && IsAncestorOrSame(kept.windows, target)) {
        return FolderStanding::InsideWindows; // the system's own files
    }
    return HoldsAny(target, kept.temp) ? FolderStanding::HoldsTemp : FolderStanding::Ordinary;
}

} // namespace

FolderStanding StandingOf(Platform& platform, const std::u16string& path) {
    const LocalNames local = ReadLocalNames(platform);
    const std::u16string given = CanonicalPath(path, local);
    if (given.empty()) {
        return FolderStanding::Unresolved;
    }
    // A short name ("C:\PROGRA~1") names the same folder as the long one.
    const std::u16string resolved = CanonicalPath(platform.longPathName(path), local);
    const KeptFolders kept = ReadKeptFolders(platform, local);
    FolderStanding standing = StandingOfCanonical(given, kept);
    if (!resolved.empty() && resolved != given) {
        standing = std::max(standing, StandingOfCanonical(resolved, kept));
    }
    return standing;
}

} // namespace tidewell
