// Registry exports of any content: the parser never reads out of bounds, says where it stopped,
// and what it reads comes back the same when written out the way reg.exe writes it.

#include "FuzzInput.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakeRegExport.h"
#include "support/RegFile.h"

using namespace tidewell;

namespace {

// Text that reg.exe writes as "text" and reads back unchanged: whole units ending in one zero,
// no other zero, no line break. (A hex(1): line can hold any bytes.)
bool PlainString(const RegFileValue& value) {
    const size_t size = value.data.size();
    if (size < 2 || size % 2 != 0 || value.data[size - 1] != 0 || value.data[size - 2] != 0) {
        return false;
    }
    for (size_t i = 0; i + 3 < value.data.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
        if (unit == 0 || unit == u'\r' || unit == u'\n') {
            return false;
        }
    }
    return true;
}

// reg.exe escapes only backslashes and quotes in a name; a line break would end its line.
bool PlainName(const std::u16string& name) {
    return name.find_first_of(u"\r\n") == std::u16string::npos;
}

bool SameValues(const RegFileKey& a, const RegFileKey& b) {
    if (a.name != b.name || a.values.size() != b.values.size()) {
        return false;
    }
    for (size_t i = 0; i < a.values.size(); ++i) {
        if (a.values[i].name != b.values[i].name || a.values[i].type != b.values[i].type ||
            a.values[i].data != b.values[i].data) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Mostly a well-framed file, so that the fuzzer spends its time inside the sections.
    std::string bytes;
    if (size > 0 && data[0] % 4 != 0) {
        bytes = "\xFF\xFE";
        for (char16_t unit : std::u16string(u"Windows Registry Editor Version 5.00\r\n")) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
    }
    bytes.append(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0), size > 0 ? size - 1 : 0);
    const std::u16string input = fuzz::UnitsOf(data, size);

    const RegFile file = ParseRegFile(bytes);
    FUZZ_REQUIRE(file.parsed == (file.errorLine == 0), input, u"");
    FUZZ_REQUIRE(file.errorLine <= bytes.size() / 2 + 1, input, u"");
    if (!file.parsed) {
        return 0;
    }
    for (const RegFileKey& key : file.keys) {
        FUZZ_REQUIRE(!key.name.empty(), input, key.name);
        for (const RegFileValue& value : key.values) {
            if ((value.type == codes::kRegSz && !PlainString(value)) || !PlainName(value.name)) {
                return 0;
            }
        }
    }
    const RegFile again = ParseRegFile(FormatRegFile(file.keys));
    FUZZ_REQUIRE(again.parsed && again.keys.size() == file.keys.size(), input, u"");
    for (size_t i = 0; i < file.keys.size(); ++i) {
        FUZZ_REQUIRE(SameValues(file.keys[i], again.keys[i]), input, file.keys[i].name);
    }
    return 0;
}
