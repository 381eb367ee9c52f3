#include "app/ResultTreeRules.h"

#include "support/Text.h"

#include <map>

namespace tidewell {

TreeImage ImageForKind(ItemKind kind) {
    switch (kind) {
    case ItemKind::Process:
        return TreeImage::Program;
    case ItemKind::Service:
        return TreeImage::Library;
    case ItemKind::Directory:
        return TreeImage::Folder;
    case ItemKind::File:
        return TreeImage::TempFile;
    case ItemKind::RegistryKey:
    case ItemKind::EnvironmentValue: // a registry value, shown as such
        return TreeImage::Registry;
    case ItemKind::InstallRecord:
        return TreeImage::Installer;
    }
    return TreeImage::TempFile;
}

std::vector<std::u16string> SplitLocation(const std::u16string& location, ItemKind kind) {
    std::u16string rest = location;
    // Only a registry item's own view mark goes; a file may well be called "setup [1].log".
    if (kind == ItemKind::RegistryKey || kind == ItemKind::InstallRecord) {
        for (const char16_t* mark : {u" [64位]", u" [32位]"}) {
            const std::u16string suffix = mark;
            if (rest.size() >= suffix.size() &&
                rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) == 0) {
                rest.erase(rest.size() - suffix.size());
                break;
            }
        }
    }
    std::vector<std::u16string> components;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(u'\\', start);
        if (end == std::u16string::npos) {
            end = rest.size();
        }
        if (end > start) {
            components.push_back(rest.substr(start, end - start));
        }
        start = end + 1;
    }
    return components;
}

namespace {

bool ShownAsPath(ItemKind kind) {
    return kind == ItemKind::Directory || kind == ItemKind::File || kind == ItemKind::RegistryKey;
}

std::u16string Count(size_t value) {
    return ToDecimal(static_cast<int64_t>(value));
}

} // namespace

std::vector<PlannedNode> PlanResultTree(const ItemList& items, ProductKind product,
                                        const std::function<void()>& eachItem) {
    std::vector<PlannedNode> plan;
    PlannedNode root;
    root.text = RootText(product, items.size());
    root.image = TreeImage::Installer;
    root.expand = true;
    plan.push_back(root);

    // std::u16string orders by code unit, which is the category order the tree shows.
    std::map<std::u16string, std::vector<ResidueItem*>> categories;
    for (const auto& item : items) {
        categories[item->category].push_back(item.get());
    }

    for (const auto& [category, members] : categories) {
        PlannedNode categoryNode;
        categoryNode.parent = 0;
        categoryNode.text = CategoryText(category, members.size());
        categoryNode.image = ImageForKind(members.front()->kind);
        categoryNode.expand = true;
        const int categoryIndex = static_cast<int>(plan.size());
        plan.push_back(categoryNode);

        // Path nodes are shared within the category only; keys compare exactly.
        std::map<std::u16string, int> pathNodes;
        for (ResidueItem* item : members) {
            if (eachItem) {
                eachItem();
            }
            int parent = categoryIndex;
            std::u16string name = item->title;
            if (ShownAsPath(item->kind)) {
                const std::vector<std::u16string> components =
                    SplitLocation(item->location, item->kind);
                std::u16string key = category;
                for (size_t i = 0; i + 1 < components.size(); ++i) {
                    key += u'\\';
                    key += components[i];
                    const auto found = pathNodes.find(key);
                    if (found != pathNodes.end()) {
                        parent = found->second;
                        continue;
                    }
                    PlannedNode pathNode;
                    pathNode.parent = parent;
                    pathNode.text = components[i];
                    pathNode.image = TreeImage::Folder;
                    parent = static_cast<int>(plan.size());
                    pathNodes.emplace(key, parent);
                    plan.push_back(pathNode);
                }
                if (!components.empty()) {
                    name = components.back();
                }
            }
            PlannedNode leaf;
            leaf.parent = parent;
            leaf.text = LeafText(name, item->risk);
            leaf.item = item;
            leaf.checked = item->checked;
            leaf.image = ImageForKind(item->kind);
            plan.push_back(leaf);
        }
    }
    return plan;
}

void DeriveGroupChecks(std::vector<PlannedNode>& plan) {
    std::vector<size_t> children(plan.size(), 0);
    std::vector<size_t> checkedChildren(plan.size(), 0);
    std::vector<bool> anyMarked(plan.size(), false); // a child checked or partly checked
    // Children come after their parent, so walking backwards settles a node before its parent.
    for (size_t index = plan.size(); index-- > 0;) {
        PlannedNode& node = plan[index];
        if (node.item == nullptr) {
            node.checked = children[index] > 0 && checkedChildren[index] == children[index];
            node.partly = !node.checked && anyMarked[index];
        }
        if (node.parent >= 0) {
            ++children[node.parent];
            if (node.checked) {
                ++checkedChildren[node.parent];
            }
            if (node.checked || node.partly) {
                anyMarked[node.parent] = true;
            }
        }
    }
}

std::vector<size_t> InsertionOrder(const std::vector<PlannedNode>& plan) {
    // Groups first keeps the order only where no leaf precedes a group under the same parent.
    std::vector<bool> hasLeaf(plan.size(), false);
    bool groupsFirst = true;
    for (const PlannedNode& node : plan) {
        if (node.parent < 0) {
            continue;
        }
        if (node.item != nullptr) {
            hasLeaf[node.parent] = true;
        } else if (hasLeaf[node.parent]) {
            groupsFirst = false;
            break;
        }
    }
    std::vector<size_t> order;
    order.reserve(plan.size());
    for (size_t index = 0; index < plan.size(); ++index) {
        if (!groupsFirst || plan[index].item == nullptr) {
            order.push_back(index);
        }
    }
    for (size_t index = 0; groupsFirst && index < plan.size(); ++index) {
        if (plan[index].item != nullptr) {
            order.push_back(index);
        }
    }
    return order;
}

std::u16string RootText(ProductKind product, size_t itemCount) {
    return productName(product) + u" 扫描结果（" + Count(itemCount) + u" 个项目）";
}

std::u16string CategoryText(const std::u16string& category, size_t itemCount) {
    return category + u"（" + Count(itemCount) + u" 个项目）";
}

std::u16string LeafText(const std::u16string& name, RiskLevel risk) {
    return name + u"  [" + riskLabel(risk) + u"]";
}

ProductKind ProductForTab(int tabIndex) {
    if (tabIndex == 1) {
        return ProductKind::SolidWorks;
    }
    if (tabIndex == 2) {
        return ProductKind::Oracle;
    }
    return ProductKind::AutoCAD;
}

int TabForProduct(ProductKind product) {
    switch (product) {
    case ProductKind::SolidWorks:
        return 1;
    case ProductKind::Oracle:
        return 2;
    default:
        return 0;
    }
}

std::u16string OneClickCaption(ProductKind product) {
    return u"一键卸载并清理 " + productName(product);
}

std::u16string ReadyStatusText() {
    return u"就绪（程序以管理员权限运行）";
}

std::u16string ScanningStatusText() {
    return u"正在扫描文件、注册表、服务和进程...";
}

std::u16string SwitchedStatusText(ProductKind product) {
    return u"已切换到 " + productName(product) + u"，请点击“搜索残留”";
}

std::u16string ScanResultText(ProductKind product, size_t itemCount) {
    if (itemCount == 0) {
        return u"未发现明确的 " + productName(product) + u" 残留";
    }
    return u"扫描完成，共发现 " + Count(itemCount) + u" 项";
}

std::u16string CheckedStatusText(size_t checkedCount, size_t itemCount) {
    return u"已勾选 " + Count(checkedCount) + u" / " + Count(itemCount) + u" 项";
}

std::u16string SelectionStatusText(const ResidueItem& item) {
    return u"[" + riskLabel(item.risk) + u"] " + item.location + u" — " + item.note;
}

std::u16string TipText(const std::u16string& note, int bufferSize) {
    if (bufferSize <= 0) {
        return {};
    }
    return note.substr(0, static_cast<size_t>(bufferSize) - 1);
}

} // namespace tidewell
