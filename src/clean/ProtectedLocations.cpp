#include "clean/ProtectedLocations.h"

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

} // namespace

bool IsProtectedLocation(Platform& platform, const std::u16string& path) {
    const std::u16string target = Canonical(path);
    if (target.empty()) {
        return true;
    }
    // A drive root ("c:") or a UNC share ("\\server\share") holds everything else.
    const size_t depth = static_cast<size_t>(std::count(target.begin(), target.end(), u'\\'));
    if (target[0] != u'\\' ? depth == 0 : depth <= 3) {
        return true;
    }

    const std::u16string windows = Canonical(platform.windowsDirectory());
    if (!windows.empty() && IsAncestorOrSame(windows, target)) {
        return true; // the system's own files, below the Windows folder too
    }

    std::vector<std::u16string> folders = {windows};
    for (const char16_t* variable :
         {u"ProgramFiles", u"ProgramW6432", u"ProgramFiles(x86)", u"ProgramData", u"SystemRoot",
          u"ALLUSERSPROFILE", u"PUBLIC", u"USERPROFILE", u"TEMP", u"TMP"}) {
        folders.push_back(Canonical(ReadEnvironmentVariable(platform, variable)));
    }
    for (ShellFolder folder : {ShellFolder::Documents, ShellFolder::Desktop,
                               ShellFolder::LocalAppData, ShellFolder::RoamingAppData}) {
        folders.push_back(Canonical(ShellFolderPath(platform, folder)));
    }
    // The Users folder is the one that holds the profiles.
    folders.push_back(ParentOf(Canonical(ReadEnvironmentVariable(platform, u"USERPROFILE"))));
    folders.push_back(ParentOf(Canonical(ReadEnvironmentVariable(platform, u"PUBLIC"))));

    for (const auto& folder : folders) {
        if (!folder.empty() && IsAncestorOrSame(target, folder)) {
            return true;
        }
    }
    return false;
}

} // namespace tidewell
