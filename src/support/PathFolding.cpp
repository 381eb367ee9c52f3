#include "support/PathFolding.h"

#include "platform/SystemCodes.h"
#include "support/Text.h"

namespace tidewell {

namespace {

// One number of an IPv4 address as the system's resolver reads it: "0x7f" hex, "0177" octal,
// "127" decimal. False for anything else, or for a value past 32 bits.
bool ParseAddressPart(const std::u16string& text, uint64_t& value) {
    size_t at = 0;
    uint64_t base = 10;
    if (text.size() > 2 && text[0] == u'0' && text[1] == u'x') {
        base = 16;
        at = 2;
    } else if (text.size() > 1 && text[0] == u'0') {
        base = 8;
        at = 1;
    }
    if (at >= text.size() && base != 8) {
        return false;
    }
    value = 0;
    for (; at < text.size(); ++at) {
        const char16_t unit = text[at];
        uint64_t digit = base;
        if (unit >= u'0' && unit <= u'9') {
            digit = unit - u'0';
        } else if (unit >= u'a' && unit <= u'f') {
            digit = unit - u'a' + 10;
        }
        if (digit >= base) {
            return false;
        }
        value = value * base + digit;
        if (value > 0xFFFFFFFFu) {
            return false;
        }
    }
    return !text.empty();
}

// 127.x.x.x in every form the resolver takes: "127.0.0.1", "127.1", "0x7f.1", "2130706433".
bool IsLoopbackAddress(const std::u16string& host) {
    std::vector<uint64_t> parts;
    size_t start = 0;
    while (parts.size() < 5) {
        const size_t end = host.find(u'.', start);
        uint64_t value = 0;
        if (!ParseAddressPart(host.substr(start, end - start), value)) {
            return false;
        }
        parts.push_back(value);
        if (end == std::u16string::npos) {
            break;
        }
        start = end + 1;
    }
    if (parts.size() > 4) {
        return false;
    }
    // Every part but the last is one byte; the last fills the bytes that are left.
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i] > 0xFF) {
            return false;
        }
    }
    const uint64_t top = parts.size() == 1 ? parts[0] >> 24 : parts[0];
    return top == 127;
}

// "::1" as a UNC host writes it: "0--1.ipv6-literal.net", "0-0-0-0-0-0-0-1.ipv6-literal.net".
bool IsLoopbackLiteral(const std::u16string& host) {
    const std::u16string suffix = u".ipv6-literal.net";
    if (host.size() <= suffix.size() ||
        host.compare(host.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    const std::u16string address = host.substr(0, host.size() - suffix.size());
    const size_t last = address.rfind(u'-');
    if (last == std::u16string::npos) {
        return false;
    }
    // Zero groups, "--" for a run of them, then the group 1.
    const size_t one = address.find_first_not_of(u'0', last + 1);
    return one != std::u16string::npos && address.substr(one) == u"1" &&
           address.substr(0, last).find_first_not_of(u"0-") == std::u16string::npos;
}

bool IsThisMachine(const std::u16string& host, const LocalNames& local) {
    if (host == u"localhost" || IsLoopbackAddress(host) || IsLoopbackLiteral(host)) {
        return true;
    }
    for (const std::u16string& name : local.hosts) {
        if (host == name) {
            return true;
        }
    }
    return false;
}

// The names of a path after its root, with "." and ".." resolved and trailing dots and blanks
// dropped; `kept` is how many leading names ".." cannot take away.
std::vector<std::u16string> ResolvedNames(const std::u16string& text, size_t from, size_t kept) {
    std::vector<std::u16string> parts;
    std::u16string part;
    auto finishPart = [&] {
        if (part == u"..") {
            if (parts.size() > kept) {
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
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == u'\\') {
            finishPart();
        } else {
            part += text[i];
        }
    }
    finishPart();
    return parts;
}

std::u16string Joined(const std::u16string& root, const std::vector<std::u16string>& names,
                      size_t from) {
    std::u16string joined = root;
    for (size_t i = from; i < names.size(); ++i) {
        joined += u"\\" + names[i];
    }
    return joined;
}

} // namespace

LocalNames ReadLocalNames(Platform& platform) {
    LocalNames local;
    for (const std::u16string& name : platform.computerNames()) {
        if (!name.empty()) {
            local.hosts.push_back(ToLower(name));
        }
    }
    local.windows = platform.windowsDirectory();
    return local;
}

std::u16string CanonicalPath(const std::u16string& path, const LocalNames& local) {
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
    const bool drive = text.size() >= 2 && text[0] >= u'a' && text[0] <= u'z' && text[1] == u':' &&
                       (text.size() == 2 || text[2] == u'\\');
    // A second ':' opens a stream of the file or folder: "C:\Windows::$INDEX_ALLOCATION" is the
    // folder itself to some calls.
    if ((!unc && !drive) || text.find(u':', drive ? 2 : 0) != std::u16string::npos) {
        return {};
    }
    if (drive) {
        return Joined(text.substr(0, 2), ResolvedNames(text, 2, 0), 0);
    }
    // A UNC path keeps its server and share.
    const std::vector<std::u16string> names = ResolvedNames(text, 2, 2);
    if (names.size() < 2 || !IsThisMachine(names[0], local)) {
        return Joined(u"\\", names, 0);
    }
    const std::u16string& share = names[1];
    if (share.size() == 2 && share[0] >= u'a' && share[0] <= u'z' && share[1] == u'$') {
        return Joined(share.substr(0, 1) + u":", names, 2);
    }
    const std::u16string windows = CanonicalPath(local.windows, {});
    if (share == u"admin$" && !windows.empty()) {
        return Joined(windows, names, 2);
    }
    return {};
}

ParentCheck CheckParentRoute(Platform& platform, const std::u16string& path,
                             const LocalNames& local) {
    ParentCheck check;
    const size_t last = path.find_last_not_of(u"\\/");
    const size_t separator = last == std::u16string::npos ? last : path.find_last_of(u"\\/", last);
    if (separator == std::u16string::npos || CanonicalPath(path, local).empty()) {
        return check; // nothing above it to check; the guard refuses such a path
    }
    check.leaf = path.substr(separator + 1, last - separator);
    std::u16string parent = path.substr(0, separator + 1);
    if (parent.size() > 1 && (parent.size() != 3 || parent[1] != u':')) {
        parent.pop_back(); // "C:\x" keeps the "\" of "C:\", "C:\x\y" drops it
    }
    const FinalPath answer = platform.finalPath(parent);
    if (answer.openError == codes::kFileNotFound || answer.openError == codes::kPathNotFound) {
        check.route = ParentRoute::Missing;
        return check;
    }
    if (answer.openError != codes::kSuccess || answer.error != codes::kSuccess) {
        check.route = ParentRoute::Unknown;
        check.error = answer.openError != codes::kSuccess ? answer.openError : answer.error;
        return check;
    }
    check.reached = answer.path;
    if (check.reached.compare(0, 8, u"\\\\?\\UNC\\") == 0) {
        check.reached.replace(0, 8, u"\\\\");
    } else if (check.reached.compare(0, 4, u"\\\\?\\") == 0) {
        check.reached.erase(0, 4);
    }
    const std::u16string written = CanonicalPath(platform.longPathName(parent), local);
    const std::u16string reached = CanonicalPath(answer.path, local);
    check.route =
        !written.empty() && written == reached ? ParentRoute::AsWritten : ParentRoute::ThroughLink;
    return check;
}

} // namespace tidewell
