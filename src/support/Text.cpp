#include "support/Text.h"

namespace tidewell {

std::u16string ToLower(std::u16string text) {
    for (char16_t& unit : text) {
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit - u'A' + u'a');
        }
    }
    return text;
}

namespace {

char16_t FoldedUnit(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// Whether part stands at `at` in text, ignoring ASCII case. Compares in place: the scan calls
// the name tests for every entry of folders with a hundred thousand entries.
bool MatchesFoldedAt(const std::u16string& text, size_t at, const std::u16string& part) {
    for (size_t i = 0; i < part.size(); ++i) {
        if (FoldedUnit(text[at + i]) != FoldedUnit(part[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

bool ContainsNoCase(const std::u16string& text, const std::u16string& part) {
    if (part.size() > text.size()) {
        return false;
    }
    for (size_t at = 0; at + part.size() <= text.size(); ++at) {
        if (MatchesFoldedAt(text, at, part)) {
            return true;
        }
    }
    return false;
}

bool StartsWithNoCase(const std::u16string& text, const std::u16string& prefix) {
    if (prefix.size() > text.size()) {
        return false;
    }
    return MatchesFoldedAt(text, 0, prefix);
}

std::u16string JoinPath(const std::u16string& directory, const std::u16string& name) {
    if (directory.empty()) {
        return name;
    }
    if (directory.back() == u'\\') {
        return directory + name;
    }
    return directory + u'\\' + name;
}

std::u16string DropTrailingSeparators(std::u16string path) {
    auto separator = [](char16_t unit) { return unit == u'\\' || unit == u'/'; };
    while (path.size() > 1 && separator(path.back()) &&
           !(path.size() == 3 && path[1] == u':')) {
        path.pop_back();
    }
    return path;
}

std::u16string ToDecimal(int64_t value) {
    const bool negative = value < 0;
    // Work in unsigned so that the most negative value does not overflow.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
        digits.insert(digits.begin(), u'-');
    }
    return digits;
}

namespace {

void AppendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

} // namespace

std::string ToUtf8(const std::u16string& text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string FromUtf8(const std::string& bytes) {
    std::u16string out;
    size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        int length = lead < 0x80           ? 1
                     : (lead >> 5) == 0x6  ? 2
                     : (lead >> 4) == 0xE  ? 3
                     : (lead >> 3) == 0x1E ? 4
                                           : 0;
        uint32_t codePoint = length == 1   ? lead
                             : length == 2 ? (lead & 0x1F)
                             : length == 3 ? (lead & 0x0F)
                                           : (lead & 0x07);
        bool valid = length != 0 && i + length <= bytes.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (!valid) {
            out += static_cast<char16_t>(kReplacement);
            ++i;
            continue;
        }
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (codePoint >> 10));
            out += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            out += static_cast<char16_t>(codePoint);
        }
        i += length;
    }
    return out;
}

} // namespace tidewell
