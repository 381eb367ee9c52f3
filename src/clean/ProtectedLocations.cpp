#include "clean/ProtectedLocations.h"

#include "catalogue/RegistryText.h"
#include "support/Environment.h"
#include "support/Text.h"

#include <algorithm>
#include <vector>

namespace tidewell {

const char16_t kProtectedLocationMessage[] = u"受保护的系统目录，已跳过";

namespace {

// The path as Windows resolves it, folded: "c:\program files\oracle". Empty when the path is
// not absolute (relative, drive-relative such as "C:x", or rooted without a drive).
std::u16string Canonical(const std::u16string& path) {
    std::u16string text = ToLower(path);
    for (char16_t& unit : text) {
        if (unit == u'/') {
            unit = u'\\';
        }
    }
    // The long-path and device forms name the same places: "\\?\C:\Windows" is C:\Windows and
    // "\\?\UNC\server\share" is \\server\share. What follows them that is not a drive path or
    // a share ("\\.\PhysicalDrive0") is left relative, and so refused.
    for (const char16_t* prefix : {u"\\\\?\\", u"\\\\.\\"}) {
        const std::u16string form = prefix;
        if (text.compare(0, form.size(), form) == 0) {
            text.erase(0, form.size());
            if (text.compare(0, 4, u"unc\\") == 0) {
                text.replace(0, 4, u"\\\\");
            }
            break;
        }
    }
    const bool unc = text.size() > 2 && text[0] == u'\\' && text[1] == u'\\';
    const bool drive = text.size() >= 3 && text[0] >= u'a' && text[0] <= u'z' && text[1] == u':' &&
                       text[2] == u'\\';
    const bool bareDrive =
        text.size() == 2 && text[0] >= u'a' && text[0] <= u'z' && text[1] == u':';
    if (!unc && !drive && !bareDrive) {
        return {};
    }
    std::vector<std::u16string> parts;
    std::u16string part;
    auto finishPart = [&] {
        if (part == u"..") {
            // A UNC path keeps its server and share; a drive path keeps its drive.
            if (parts.size() > (unc ? 2u : 1u)) {
                parts.pop_back();
            }
        } else if (part != u".") {
            // Windows drops trailing dots and blanks from a name: "C:\Windows." is C:\Windows.
            while (!part.empty() && (part.back() == u'.' || part.back() == u' ')) {
                part.pop_back();
            }
            if (!part.empty()) {
                parts.push_back(part);
            }
        }
        part.clear();
    };
    for (size_t i = unc ? 2 : 0; i < text.size(); ++i) {
        if (text[i] == u'\\') {
            finishPart();
        } else {
            part += text[i];
        }
    }
    finishPart();
    std::u16string canonical = unc ? u"\\" : u"";
    for (const auto& name : parts) {
        canonical += u"\\" + name;
    }
    return unc ? canonical : canonical.substr(1);
}

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
std::vector<std::u16string> ProtectedFolders(Platform& platform, const std::u16string& windows) {
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
        folders.push_back(Canonical(folder));
        folders.push_back(Canonical(platform.longPathName(folder)));
    }
    // The Users folder is the one that holds the profiles.
    folders.push_back(ParentOf(Canonical(profile)));
    folders.push_back(ParentOf(Canonical(publicFolder)));
    return folders;
}

} // namespace

bool IsProtectedLocation(Platform& platform, const std::u16string& path) {
    const std::u16string given = Canonical(path);
    if (given.empty()) {
        return true;
    }
    // A short name ("C:\PROGRA~1") names the same folder as the long one.
    std::vector<std::u16string> targets = {given};
    const std::u16string resolved = Canonical(platform.longPathName(path));
    if (!resolved.empty() && resolved != given) {
        targets.push_back(resolved);
    }

    const std::u16string windowsFolder = platform.windowsDirectory();
    const std::u16string windows = Canonical(windowsFolder);
    const std::vector<std::u16string> folders = ProtectedFolders(platform, windowsFolder);
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
