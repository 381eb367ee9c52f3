// Process ids read from item locations, and ending a process by such an item.

#include "FuzzInput.h"
#include "clean/ProcessAndService.h"
#include "platform/fake/FakePlatform.h"

using namespace tidewell;
using tidewell::fuzz::InputReader;

namespace {

// Leading white space, then decimal digits; more than fits 32 bits gives the largest value.
uint32_t ReferenceId(const std::u16string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' ||
                               text[i] == u'\v' || text[i] == u'\f' || text[i] == u'\r')) {
        ++i;
    }
    while (i < text.size() && text[i] == u'0') {
        ++i;
    }
    std::string digits;
    while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
        digits += static_cast<char>(text[i++]);
    }
    if (digits.size() > 10 || (digits.size() == 10 && digits > "4294967295")) {
        return 0xFFFFFFFFu;
    }
    return digits.empty() ? 0 : static_cast<uint32_t>(std::stoull(digits));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader input(data, size);
    const uint8_t choice = input.byte();
    const std::u16string location = input.restText();
    const uint32_t id = ParseProcessId(location);
    const uint32_t expected = ReferenceId(location);
    FUZZ_REQUIRE(id == expected, location, ToDecimal(id));

    // A machine running the parsed id and its neighbours; the item names one executable. Only
    // the process with exactly the parsed id and the scanned name may end.
    FakePlatform machine;
    machine.addProcess(id, u"acad.exe");
    if (id != 0xFFFFFFFFu) {
        machine.addProcess(id + 1, u"acad.exe");
    }
    if (id != 0) {
        machine.addProcess(id - 1, u"acad.exe");
    }
    ResidueItem item;
    item.kind = ItemKind::Process;
    item.location = location;
    item.title = (choice & 1) != 0 ? u"ACAD.EXE（PID " + location + u"）" : u"sldworks.exe";
    const ActionResult result = EndProcess(machine, item);

    const bool sameName = (choice & 1) != 0;
    const bool ends = sameName && id != 0;
    FUZZ_REQUIRE(result.success, location, result.message);
    FUZZ_REQUIRE(machine.processRunning(id) == !ends, location, result.message);
    FUZZ_REQUIRE(id == 0xFFFFFFFFu || machine.processRunning(id + 1), location, result.message);
    FUZZ_REQUIRE(id == 0 || machine.processRunning(id - 1), location, result.message);
    FUZZ_REQUIRE(machine.journal.size() == (ends ? 1u : 0u), location, result.message);
    return 0;
}
