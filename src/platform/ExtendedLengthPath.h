#pragma once

#include <cstddef>
#include <string>

// The form in which a file call hands a path to the system. Plain paths stop short of MAX_PATH
// (260 units with the terminator), and a directory being created or listed short of 248 (room
// for an 8.3 name): past that Windows 7-10 fail the call unless the path comes as "\\?\C:\..."
// or "\\?\UNC\server\share\...", which the file system takes as it stands, with no limit short
// of 32,767 units. The Win32 implementation passes every path through here; the fake does the
// same and then holds what is still plain to the limits, so that losing the prefix shows in the
// tests that run on it. Portable on purpose: no Win32 type.
namespace tidewell {

constexpr size_t kPlainPathLimit = 260;
constexpr size_t kPlainDirectoryLimit = 248;

namespace extended_length_detail {

inline bool IsSeparator(char16_t unit) {
    return unit == u'\\' || unit == u'/';
}

} // namespace extended_length_detail

// The path unchanged when it is shorter than limit and every name in it is one the plain form
// keeps; an absolute drive or UNC path otherwise in the "\\?\" form, with "/" written as "\"
// and doubled separators closed up. Windows drops trailing dots and blanks from the names of a
// plain path, so a name a listing gave that ends in one ("ora.") takes the form at any length.
// Left unchanged, whatever their length: relative paths, paths already in a device form ("\\?\",
// "\\.\"), and paths with a "." or ".." name, which only the plain form resolves. A short path
// with "/" or a doubled separator also stays as it is.
inline std::u16string ExtendedLengthPath(const std::u16string& path, size_t limit) {
    using extended_length_detail::IsSeparator;
    const size_t size = path.size();
    const char16_t* units = path.data();
    const bool drive =
        size >= 3 && units[1] == u':' && IsSeparator(units[2]) &&
        ((units[0] >= u'A' && units[0] <= u'Z') || (units[0] >= u'a' && units[0] <= u'z'));
    const bool share = size > 2 && IsSeparator(units[0]) && IsSeparator(units[1]) &&
                       !IsSeparator(units[2]) && units[2] != u'?' && units[2] != u'.';
    if (!drive && !share) {
        return path;
    }
    const bool tooLong = size >= limit;
    // One pass over the names, without copying them: every file call of a tree removal comes
    // here, at every depth. A short path takes the form only with no "/" and no empty name, as
    // the form then leaves it reading the same.
    bool plainSeparators = drive ? units[2] == u'\\' : units[0] == u'\\' && units[1] == u'\\';
    bool trailing = false;
    size_t start = drive ? 3 : 2;
    while (start < size) {
        size_t end = start;
        while (end < size && units[end] != u'\\' && units[end] != u'/') {
            ++end;
        }
        const size_t length = end - start;
        if ((length == 1 && units[start] == u'.') ||
            (length == 2 && units[start] == u'.' && units[start + 1] == u'.')) {
            return path;
        }
        plainSeparators = plainSeparators && length != 0 && (end == size || units[end] == u'\\');
        trailing = trailing || (length != 0 && (units[end - 1] == u'.' || units[end - 1] == u' '));
        start = end + 1;
    }
    if (!tooLong && !(trailing && plainSeparators)) {
        return path;
    }
    std::u16string extended;
    extended.reserve(size + 8);
    extended += drive ? u"\\\\?\\" : u"\\\\?\\UNC";
    if (plainSeparators) {
        return extended.append(path, drive ? 0 : 1, std::u16string::npos);
    }
    if (drive) {
        extended.append(path, 0, 2);
    }
    for (start = drive ? 3 : 2; start < size;) {
        size_t end = start;
        while (end < size && !IsSeparator(units[end])) {
            ++end;
        }
        if (end != start) {
            extended += u'\\';
            extended.append(path, start, end - start);
        }
        start = end + 1;
    }
    if (IsSeparator(units[size - 1])) {
        extended += u'\\';
    }
    return extended;
}

// The plain path behind a "\\?\" form: "\\?\C:\x" as "C:\x", "\\?\UNC\server\share" as
// "\\server\share". Anything else is returned as it is.
inline std::u16string WithoutExtendedPrefix(const std::u16string& path) {
    if (path.compare(0, 8, u"\\\\?\\UNC\\") == 0) {
        return u"\\\\" + path.substr(8);
    }
    if (path.compare(0, 4, u"\\\\?\\") == 0) {
        return path.substr(4);
    }
    return path;
}

} // namespace tidewell
