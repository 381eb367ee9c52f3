#include "support/RegFile.h"

namespace tidewell {

namespace {

constexpr uint32_t kString = 1;
constexpr uint32_t kBinary = 3;
constexpr uint32_t kDword = 4;

// The text's lines without their ends; a line ends at "\r\n" or at a bare "\n".
std::vector<std::u16string> Lines(const std::u16string& text) {
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos) {
            end = text.size();
        }
        size_t stop = end;
        if (stop > start && text[stop - 1] == u'\r') {
            --stop;
        }
        lines.push_back(text.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

int HexDigit(char16_t unit) {
    if (unit >= u'0' && unit <= u'9') {
        return unit - u'0';
    }
    if (unit >= u'a' && unit <= u'f') {
        return unit - u'a' + 10;
    }
    if (unit >= u'A' && unit <= u'F') {
        return unit - u'A' + 10;
    }
    return -1;
}

// A quoted text starting at position (the opening quote); position ends after the closing one.
// The escapes are the ones the export tools write: \\ \" and Wine's \n \r.
bool ReadQuoted(const std::u16string& line, size_t& position, std::u16string& text) {
    ++position;
    while (position < line.size()) {
        const char16_t unit = line[position++];
        if (unit == u'"') {
            return true;
        }
        if (unit != u'\\') {
            text += unit;
            continue;
        }
        if (position >= line.size()) {
            return false;
        }
        const char16_t escaped = line[position++];
        if (escaped == u'\\' || escaped == u'"') {
            text += escaped;
        } else if (escaped == u'n') {
            text += u'\n';
        } else if (escaped == u'r') {
            text += u'\r';
        } else {
            return false;
        }
    }
    return false;
}

void AppendUnits(const std::u16string& text, std::vector<uint8_t>& bytes) {
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
}

// "00,ff,..." with blanks allowed around the bytes; the list may be empty.
bool ReadHexList(const std::u16string& list, std::vector<uint8_t>& bytes) {
    size_t position = 0;
    auto skipBlanks = [&] {
        while (position < list.size() && (list[position] == u' ' || list[position] == u'\t')) {
            ++position;
        }
    };
    skipBlanks();
    if (position == list.size()) {
        return true;
    }
    while (true) {
        skipBlanks();
        if (position + 2 > list.size()) {
            return false;
        }
        const int high = HexDigit(list[position]);
        const int low = HexDigit(list[position + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
        position += 2;
        skipBlanks();
        if (position == list.size()) {
            return true;
        }
        if (list[position++] != u',') {
            return false;
        }
    }
}

// The data after "=": line is the value's line, continued lines are taken from next on.
bool ReadData(const std::u16string& data, const std::vector<std::u16string>& lines, size_t& next,
              RegFileValue& value) {
    if (!data.empty() && data[0] == u'"') {
        size_t position = 0;
        std::u16string text;
        if (!ReadQuoted(data, position, text) || position != data.size()) {
            return false;
        }
        value.type = kString;
        AppendUnits(text, value.data);
        AppendUnits(std::u16string(1, u'\0'), value.data);
        return true;
    }
    if (data.compare(0, 6, u"dword:") == 0) {
        if (data.size() != 14) {
            return false;
        }
        uint32_t number = 0;
        for (size_t i = 6; i < 14; ++i) {
            const int digit = HexDigit(data[i]);
            if (digit < 0) {
                return false;
            }
            number = number * 16 + static_cast<uint32_t>(digit);
        }
        value.type = kDword;
        for (int i = 0; i < 4; ++i) {
            value.data.push_back(static_cast<uint8_t>(number >> (8 * i)));
        }
        return true;
    }
    size_t listStart = 0;
    if (data.compare(0, 4, u"hex:") == 0) {
        value.type = kBinary;
        listStart = 4;
    } else if (data.compare(0, 4, u"hex(") == 0) {
        const size_t close = data.find(u')', 4);
        if (close == std::u16string::npos || close == 4 || close > 12 ||
            data.compare(close, 2, u"):") != 0) {
            return false;
        }
        uint32_t type = 0;
        for (size_t i = 4; i < close; ++i) {
            const int digit = HexDigit(data[i]);
            if (digit < 0) {
                return false;
            }
            type = type * 16 + static_cast<uint32_t>(digit);
        }
        value.type = type;
        listStart = close + 2;
    } else {
        return false;
    }
    // A list that goes on ends its line with a backslash; the next line is indented.
    std::u16string list = data.substr(listStart);
    while (!list.empty() && list.back() == u'\\') {
        list.pop_back();
        if (next >= lines.size()) {
            return false;
        }
        list += lines[next++];
    }
    return ReadHexList(list, value.data);
}

} // namespace

RegFile ParseRegFile(const std::string& bytes) {
    RegFile file;
    file.errorLine = 1;
    if (bytes.size() < 2 || bytes.size() % 2 != 0 || static_cast<uint8_t>(bytes[0]) != 0xFF ||
        static_cast<uint8_t>(bytes[1]) != 0xFE) {
        return file;
    }
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = 2; i < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                      (static_cast<uint8_t>(bytes[i + 1]) << 8));
    }
    const std::vector<std::u16string> lines = Lines(text);
    if (lines.front() != u"Windows Registry Editor Version 5.00") {
        return file;
    }
    size_t next = 1;
    while (next < lines.size()) {
        const size_t lineNumber = next + 1;
        const std::u16string& line = lines[next++];
        file.errorLine = lineNumber;
        if (line.empty()) {
            continue;
        }
        if (line[0] == u'[') {
            if (line.size() < 3 || line.back() != u']' || line[1] == u'-') {
                return file;
            }
            file.keys.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        if (file.keys.empty()) {
            return file;
        }
        RegFileValue value;
        size_t position = 0;
        if (line[0] == u'@') {
            position = 1;
        } else if (line[0] != u'"' || !ReadQuoted(line, position, value.name) ||
                   value.name.empty()) {
            return file;
        }
        if (position >= line.size() || line[position] != u'=' ||
            !ReadData(line.substr(position + 1), lines, next, value)) {
            return file;
        }
        file.keys.back().values.push_back(std::move(value));
    }
    file.parsed = true;
    file.errorLine = 0;
    return file;
}

namespace {
const char16_t kHexDigits[] = u"0123456789abcdef";
} // namespace

std::string RegFileOfValue(const std::u16string& keyName, const std::u16string& valueName,
                           uint32_t type, const std::vector<uint8_t>& data) {
    std::u16string name;
    for (char16_t unit : valueName) {
        if (unit == u'\\' || unit == u'"') {
            name += u'\\';
        }
        name += unit;
    }
    std::u16string line = (valueName.empty() ? u"@" : u"\"" + name + u"\"") + u"=";
    if (type == kDword && data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
            number = number * 256 + data[static_cast<size_t>(i)];
        }
        line += u"dword:";
        for (int shift = 28; shift >= 0; shift -= 4) {
            line += kHexDigits[(number >> shift) & 0xF];
        }
    } else {
        if (type == kBinary) {
            line += u"hex:";
        } else {
            // hex(N): N in lower-case hexadecimal without leading zeros.
            std::u16string digits;
            for (uint32_t rest = type; rest != 0; rest /= 16) {
                digits.insert(digits.begin(), kHexDigits[rest % 16]);
            }
            line += u"hex(" + (digits.empty() ? u"0" : digits) + u"):";
        }
        // Continued over lines that end in a backslash, as the export tools write long lists.
        for (size_t i = 0; i < data.size(); ++i) {
            if (i > 0) {
                line += i % 24 == 0 ? u",\\\r\n  " : u",";
            }
            line += kHexDigits[data[i] >> 4];
            line += kHexDigits[data[i] & 0xF];
        }
    }
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n[" + keyName + u"]\r\n" + line + u"\r\n\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

} // namespace tidewell
