// The de-duplication key: two items share it exactly when their kinds are equal and their
// locations are equal after folding A to Z; the collector keeps the first of such a pair.

#include "FuzzInput.h"
#include "catalogue/ScanCollector.h"
#include "platform/fake/FakePlatform.h"

using namespace tidewell;
using tidewell::fuzz::InputReader;

namespace {

std::u16string Folded(std::u16string text) {
    for (char16_t& unit : text) {
        unit = fuzz::FoldedUnit(unit);
    }
    return text;
}

std::unique_ptr<ResidueItem> Item(int32_t kind, const std::u16string& location,
                                  const std::u16string& title) {
    auto item = std::make_unique<ResidueItem>();
    item->kind = static_cast<ItemKind>(kind);
    item->location = location;
    item->title = title;
    return item;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader input(data, size);
    const uint8_t mode = input.byte();
    const int32_t firstKind = static_cast<int32_t>(input.word());
    const int32_t secondKind = (mode & 1) != 0 ? firstKind : static_cast<int32_t>(input.word());
    const std::u16string text = input.restText();

    // The second location is written out apart, or is the first with the 0x20 bit flipped at
    // chosen places: a case change for ASCII letters, another character for everything else.
    std::u16string first = text;
    std::u16string second;
    const size_t split = text.find(u'\x01');
    if ((mode & 2) != 0 || split == std::u16string::npos) {
        second = first;
        const unsigned stride = (mode >> 2) + 1u;
        for (size_t i = (mode >> 4) % stride; i < second.size(); i += stride) {
            second[i] = static_cast<char16_t>(second[i] ^ 0x20);
        }
    } else {
        first = text.substr(0, split);
        second = text.substr(split + 1);
    }

    const ResidueItem a = *Item(firstKind, first, u"a");
    const ResidueItem b = *Item(secondKind, second, u"b");
    const std::u16string keyA = dedupKey(a);
    const std::u16string keyB = dedupKey(b);
    const bool duplicates = firstKind == secondKind && Folded(first) == Folded(second);
    FUZZ_REQUIRE((keyA == keyB) == duplicates, first, second);
    FUZZ_REQUIRE(keyA == ToDecimal(firstKind) + u"|" + Folded(first), first, keyA);

    FakePlatform machine;
    ScanCollector collector(machine, ProductKind::AutoCAD);
    collector.addItem(Item(firstKind, first, u"a"));
    collector.addItem(Item(secondKind, second, u"b"));
    const ItemList items = collector.takeItems();
    FUZZ_REQUIRE(items.size() == (duplicates ? 1u : 2u), first, second);
    FUZZ_REQUIRE(items[0]->title == u"a" && items[0]->location == first, first, items[0]->title);
    return 0;
}
