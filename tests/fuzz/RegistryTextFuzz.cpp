// Install-record values of any type, size and content: the decoder, and the install-record scan
// reading a record made of them.

#include "FuzzInput.h"
#include "support/RegistryText.h"
#include "catalogue/ScanCollector.h"
#include "platform/SystemCodes.h"
#include "platform/fake/FakePlatform.h"

using namespace tidewell;
using tidewell::fuzz::InputReader;

namespace {

constexpr uint32_t kMissing = 0xFFFFFFFF; // the value is not there at all
const std::u16string kRecord =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{FUZZ-RECORD}";

// Value types, weighted toward the string types the reader accepts.
uint32_t TypeOf(uint8_t selector) {
    static const uint32_t types[16] = {1, 1, 1, 1, 2,  2, 2,       2,
                                       0, 3, 4, 7, 11, 6, 0x10001, kMissing};
    return types[selector % 16];
}

// The data as little-endian units, an odd last byte being a unit with a zero high half.
std::u16string AllUnits(const std::vector<uint8_t>& bytes) {
    std::u16string units;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        units += static_cast<char16_t>(bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0));
    }
    return units;
}

std::u16string CheckDecode(uint32_t error, uint32_t type, const std::vector<uint8_t>& bytes) {
    const std::u16string text = DecodeRegistryText(error, type, bytes);
    const std::u16string units = AllUnits(bytes);
    if (error != 0 || (type != codes::kRegSz && type != codes::kRegExpandSz)) {
        FUZZ_REQUIRE(text.empty(), units, text);
        return text;
    }
    // The longest zero-free prefix of the data: nothing lost, nothing read beyond it.
    FUZZ_REQUIRE(text.size() <= units.size(), units, text);
    FUZZ_REQUIRE(units.compare(0, text.size(), text) == 0, units, text);
    FUZZ_REQUIRE(text.find(u'\0') == std::u16string::npos, units, text);
    FUZZ_REQUIRE(text.size() == units.size() || units[text.size()] == 0, units, text);
    return text;
}

bool ContainsAutoCad(const std::u16string& text) {
    const std::u16string word = u"autocad";
    for (size_t start = 0; start + word.size() <= text.size(); ++start) {
        size_t i = 0;
        while (i < word.size() && fuzz::FoldedUnit(text[start + i]) == word[i]) {
            ++i;
        }
        if (i == word.size()) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader input(data, size);
    const uint8_t errorSelector = input.byte();
    const uint32_t readError = (errorSelector & 0x80) != 0 ? errorSelector : 0;
    uint32_t types[4];
    for (uint32_t& type : types) {
        type = TypeOf(input.byte());
    }
    size_t lengths[3];
    for (size_t& length : lengths) {
        length = input.byte();
    }
    std::vector<uint8_t> values[4];
    for (int i = 0; i < 3; ++i) {
        values[i] = input.bytes(lengths[i]);
    }
    values[3] = input.restBytes();

    // The decoder on its own, with the read's error as given.
    std::u16string texts[4];
    for (int i = 0; i < 4; ++i) {
        CheckDecode(readError, types[i], values[i]);
        texts[i] = types[i] == kMissing ? std::u16string() : CheckDecode(0, types[i], values[i]);
    }

    // The same values as one install record of a machine, read by the scan.
    FakePlatform machine;
    const char16_t* names[4] = {u"DisplayName", u"DisplayVersion", u"QuietUninstallString",
                                u"UninstallString"};
    machine.addKey(RegistryRoot::LocalMachine, RegistryView::Bits64, kRecord);
    for (int i = 0; i < 4; ++i) {
        if (types[i] != kMissing) {
            machine.setValue(RegistryRoot::LocalMachine, RegistryView::Bits64, kRecord, names[i],
                             types[i], values[i]);
        }
    }
    ScanCollector collector(machine, ProductKind::AutoCAD);
    collector.scanUninstallRecords(RegistryRoot::LocalMachine, RegistryView::Bits64);
    const ItemList items = collector.takeItems();

    const bool expected = ContainsAutoCad(texts[0]);
    FUZZ_REQUIRE(items.size() == (expected ? 1u : 0u), texts[0], std::u16string());
    if (items.empty()) {
        return 0;
    }
    const ResidueItem& item = *items[0];
    const std::u16string title = texts[1].empty() ? texts[0] : texts[0] + u" " + texts[1];
    FUZZ_REQUIRE(item.title == title, title, item.title);
    FUZZ_REQUIRE(item.uninstallCommand == (texts[2].empty() ? texts[3] : texts[2]), texts[2],
                 item.uninstallCommand);
    FUZZ_REQUIRE(item.kind == ItemKind::InstallRecord && item.registryPath == kRecord,
                 item.registryPath, item.location);
    FUZZ_REQUIRE(item.location == u"HKLM\\" + kRecord + u" [64位]", kRecord, item.location);
    FUZZ_REQUIRE(item.title.find(u'\0') == std::u16string::npos, title, item.title);
    FUZZ_REQUIRE(item.uninstallCommand.find(u'\0') == std::u16string::npos, title,
                 item.uninstallCommand);
    return 0;
}
