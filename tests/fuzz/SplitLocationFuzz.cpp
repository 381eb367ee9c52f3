// Location cutting and splitting, and the result tree built from it, over arbitrary locations.

#include "FuzzInput.h"
#include "app/ResultTreeRules.h"

#include <map>
#include <memory>

using namespace tidewell;
using tidewell::fuzz::InputReader;

namespace {

// The location as the tree shows it: a registry item without its trailing view mark, anything
// else whole.
std::u16string WithoutMark(const std::u16string& location, ItemKind kind) {
    if (kind != ItemKind::RegistryKey && kind != ItemKind::InstallRecord) {
        return location;
    }
    for (const std::u16string mark : {u" [64位]", u" [32位]"}) {
        if (location.size() >= mark.size() &&
            location.compare(location.size() - mark.size(), mark.size(), mark) == 0) {
            return location.substr(0, location.size() - mark.size());
        }
    }
    return location;
}

void CheckSplit(const std::u16string& location, ItemKind kind) {
    const std::vector<std::u16string> parts = SplitLocation(location, kind);
    const std::u16string rest = WithoutMark(location, kind);

    // Joined with one backslash, the parts give the cut location with separator runs collapsed
    // and the outer ones dropped.
    std::u16string collapsed;
    bool pendingSeparator = false;
    for (char16_t unit : rest) {
        if (unit == u'\\') {
            pendingSeparator = !collapsed.empty();
            continue;
        }
        if (pendingSeparator) {
            collapsed += u'\\';
            pendingSeparator = false;
        }
        collapsed += unit;
    }
    std::u16string joined;
    for (size_t i = 0; i < parts.size(); ++i) {
        FUZZ_REQUIRE(!parts[i].empty(), location, joined);
        FUZZ_REQUIRE(parts[i].find(u'\\') == std::u16string::npos, location, parts[i]);
        joined += (i == 0 ? u"" : u"\\") + parts[i];
    }
    FUZZ_REQUIRE(joined == collapsed, location, joined);
}

// The items of a small scan, one per piece of text between U+0001 units. A piece's first unit
// chooses the kind (invalid ones included), the category and the risk.
ItemList ItemsOf(const std::u16string& text) {
    static const std::u16string categories[] = {u"程序目录", u"临时文件", u"用户注册表"};
    ItemList items;
    size_t start = 0;
    while (start <= text.size() && items.size() < 64) {
        size_t end = text.find(u'\x01', start);
        if (end == std::u16string::npos) {
            end = text.size();
        }
        const std::u16string piece = text.substr(start, end - start);
        const char16_t selector = piece.empty() ? 0 : piece[0];
        auto item = std::make_unique<ResidueItem>();
        item->kind = static_cast<ItemKind>(static_cast<int>(selector % 8) - 1);
        item->category = categories[(selector >> 3) % 3];
        item->risk = static_cast<RiskLevel>((selector >> 5) % 3);
        item->checked = (selector & 0x100) != 0;
        item->location = piece.empty() ? piece : piece.substr(1);
        item->title = u"t" + ToDecimal(static_cast<int64_t>(items.size()));
        items.push_back(std::move(item));
        start = end + 1;
    }
    return items;
}

bool ShownAsPath(ItemKind kind) {
    return kind == ItemKind::Directory || kind == ItemKind::File || kind == ItemKind::RegistryKey;
}

void CheckTree(const std::u16string& text) {
    const ItemList items = ItemsOf(text);
    const std::vector<PlannedNode> plan = PlanResultTree(items, ProductKind::AutoCAD);
    FUZZ_REQUIRE(!plan.empty() && plan[0].parent == -1 && plan[0].item == nullptr, text,
                 std::u16string());

    std::map<const ResidueItem*, int> leaves;
    std::vector<int> children(plan.size(), 0);
    for (size_t i = 1; i < plan.size(); ++i) {
        const PlannedNode& node = plan[i];
        FUZZ_REQUIRE(node.parent >= 0 && node.parent < static_cast<int>(i), text, node.text);
        FUZZ_REQUIRE(plan[node.parent].item == nullptr, text, node.text); // leaves have no children
        ++children[node.parent];
        if (node.item != nullptr) {
            FUZZ_REQUIRE(leaves.emplace(node.item, static_cast<int>(i)).second, text, node.text);
        } else if (node.parent != 0) {
            // A path node: one component of a location.
            FUZZ_REQUIRE(!node.text.empty() && node.text.find(u'\\') == std::u16string::npos, text,
                         node.text);
        }
    }
    FUZZ_REQUIRE(leaves.size() == items.size(), text, std::u16string());
    for (size_t i = 1; i < plan.size(); ++i) {
        FUZZ_REQUIRE(plan[i].item != nullptr || children[i] > 0, text, plan[i].text);
    }

    // Each leaf hangs below the path nodes of its location's components, in order, under its
    // category node, and is named by the last component.
    for (const auto& item : items) {
        const int leaf = leaves.at(item.get());
        const std::u16string risk = u"  [" + riskLabel(item->risk) + u"]";
        std::vector<std::u16string> parts;
        if (ShownAsPath(item->kind)) {
            parts = SplitLocation(item->location, item->kind);
        }
        const std::u16string name = parts.empty() ? item->title : parts.back();
        FUZZ_REQUIRE(plan[leaf].text == name + risk, item->location, plan[leaf].text);
        FUZZ_REQUIRE(plan[leaf].checked == item->checked, item->location, plan[leaf].text);
        int node = plan[leaf].parent;
        for (size_t i = parts.empty() ? 0 : parts.size() - 1; i > 0; --i) {
            FUZZ_REQUIRE(node > 0 && plan[node].parent > 0 && plan[node].text == parts[i - 1],
                         item->location, plan[node].text);
            node = plan[node].parent;
        }
        FUZZ_REQUIRE(node > 0 && plan[node].parent == 0, item->location, plan[node].text);
        FUZZ_REQUIRE(plan[node].text.compare(0, item->category.size(), item->category) == 0,
                     item->location, plan[node].text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader input(data, size);
    const std::u16string text = input.restText();
    CheckSplit(text, ItemKind::File);
    CheckSplit(text, ItemKind::RegistryKey);
    CheckTree(text);
    return 0;
}
