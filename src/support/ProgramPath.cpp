#include "support/ProgramPath.h"

#include "support/Text.h"

#include <algorithm>

namespace tidewell {

namespace {

bool IsBlank(char16_t unit) {
    return unit == u' ' || unit == u'\t';
}

bool IsSeparator(char16_t unit) {
    return unit == u'\\' || unit == u'/';
}

bool IsAbsolute(const std::u16string& path) {
    const bool driveLetter =
        path.size() >= 3 && path[1] == u':' && IsSeparator(path[2]) &&
        ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
    const bool share = path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
    return driveLetter || share;
}

// "%NAME%" of a defined variable becomes its value; anything else stays as written, as the
// system's expansion leaves it.
std::u16string ExpandReferences(Platform& platform, const std::u16string& text) {
    std::u16string expanded;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find(u'%', at);
        const size_t close = open == std::u16string::npos ? open : text.find(u'%', open + 1);
        if (close == std::u16string::npos) {
            break;
        }
        expanded += text.substr(at, open - at);
        const std::optional<std::u16string> value =
            close > open + 1 ? platform.environmentVariable(text.substr(open + 1, close - open - 1))
                             : std::nullopt;
        if (value) {
            expanded += *value;
            at = close + 1;
        } else {
            expanded += u'%';
            at = open + 1;
        }
    }
    return expanded + text.substr(std::min(at, text.size()));
}

// The program part of a command line, before any form is read.
std::u16string ProgramText(const std::u16string& line) {
    size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) {
        ++start;
    }
    if (start < line.size() && line[start] == u'"') {
        const size_t close = line.find(u'"', start + 1);
        return line.substr(start + 1, close == std::u16string::npos ? close : close - start - 1);
    }
    // Unquoted paths with blanks ("C:\Program Files\x\svc.exe -k") are common in service
    // configurations: the program ends after ".exe".
    for (size_t blank = line.find_first_of(u" \t", start); blank != std::u16string::npos;
         blank = line.find_first_of(u" \t", blank + 1)) {
        if (blank >= start + 4 && ToLower(line.substr(blank - 4, 4)) == u".exe") {
            return line.substr(start, blank - start);
        }
    }
    if (ToLower(line.size() >= 4 ? line.substr(line.size() - 4) : line) == u".exe") {
        return line.substr(start);
    }
    const size_t blank = line.find_first_of(u" \t", start);
    return line.substr(start, blank == std::u16string::npos ? blank : blank - start);
}

} // namespace

std::u16string ProgramPathOf(Platform& platform, const std::u16string& commandLine) {
    std::u16string path = ProgramText(ExpandReferences(platform, commandLine));
    if (StartsWithNoCase(path, u"\\??\\UNC\\") || StartsWithNoCase(path, u"\\\\?\\UNC\\")) {
        path = u"\\\\" + path.substr(8);
    } else if (StartsWithNoCase(path, u"\\??\\") || StartsWithNoCase(path, u"\\\\?\\")) {
        path = path.substr(4);
    } else if (StartsWithNoCase(path, u"\\SystemRoot\\")) {
        path = JoinPath(platform.windowsDirectory(), path.substr(12));
    } else if (StartsWithNoCase(path, u"System32\\")) {
        // How the service manager reads a driver's relative path.
        path = JoinPath(platform.windowsDirectory(), path);
    }
    if (!IsAbsolute(path)) {
        return {};
    }
    if (path.find(u'~') != std::u16string::npos) {
        path = platform.longPathName(path);
    }
    return path;
}

std::u16string ComparablePath(const std::u16string& path) {
    std::u16string folded = ToLower(path);
    std::replace(folded.begin(), folded.end(), u'/', u'\\');
    return DropTrailingSeparators(folded);
}

bool PathIsAtOrBelow(const std::u16string& path, const std::u16string& folder) {
    return ComparableIsAtOrBelow(ComparablePath(path), ComparablePath(folder));
}

bool ComparableIsAtOrBelow(const std::u16string& path, const std::u16string& folder) {
    if (folder.empty() || path.size() < folder.size() ||
        path.compare(0, folder.size(), folder) != 0) {
        return false;
    }
    // "c:\" keeps its separator; every other folder is followed by one.
    return path.size() == folder.size() || folder.back() == u'\\' || path[folder.size()] == u'\\';
}

std::u16string ParentFolder(const std::u16string& path) {
    const std::u16string trimmed = DropTrailingSeparators(path);
    const size_t separator = trimmed.find_last_of(u"\\/");
    if (separator == std::u16string::npos) {
        return {};
    }
    // The parent of "C:\x" is the root "C:\", separator included.
    return trimmed.substr(0, separator == 2 && trimmed[1] == u':' ? 3 : separator);
}

} // namespace tidewell
