// Backup file names from arbitrary titles: free of the nine characters Windows refuses in a
// name, at most 70 units, and otherwise the title's own first units.

#include "FuzzInput.h"
#include "clean/RegistryRemoval.h"

using namespace tidewell;

namespace {

bool Refused(char16_t unit) {
    switch (unit) {
    case u'<':
    case u'>':
    case u':':
    case u'"':
    case u'/':
    case u'\\':
    case u'|':
    case u'?':
    case u'*':
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string title = fuzz::UnitsOf(data, size);
    const std::u16string name = SanitizeFileName(title);

    FUZZ_REQUIRE(name.size() == (title.size() < 70 ? title.size() : 70), title, name);
    for (size_t i = 0; i < name.size(); ++i) {
        FUZZ_REQUIRE(!Refused(name[i]), title, name);
        FUZZ_REQUIRE(name[i] == (Refused(title[i]) ? u'_' : title[i]), title, name);
    }
    // Sanitizing a sanitized name changes nothing.
    FUZZ_REQUIRE(SanitizeFileName(name) == name, title, name);
    return 0;
}
