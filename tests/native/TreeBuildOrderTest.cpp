#include "app/ResultTreeRules.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tidewell {
namespace {

void Add(ItemList& items, const std::u16string& category, const std::u16string& location,
         ItemKind kind, bool checked) {
    auto item = std::make_unique<ResidueItem>();
    item->category = category;
    item->title = location;
    item->location = location;
    item->kind = kind;
    item->checked = checked;
    items.push_back(std::move(item));
}

// Each node's children, in the order that inserting at the end of the parent gives.
std::vector<std::vector<size_t>> ChildrenAfterInserting(const std::vector<PlannedNode>& plan,
                                                        const std::vector<size_t>& order) {
    std::vector<std::vector<size_t>> children(plan.size());
    std::vector<bool> inserted(plan.size(), false);
    for (size_t index : order) {
        const int parent = plan[index].parent;
        EXPECT_TRUE(parent < 0 || inserted[parent]) << "node " << index << " before its parent";
        if (parent >= 0) {
            children[parent].push_back(index);
        }
        inserted[index] = true;
    }
    return children;
}

std::vector<size_t> PlanOrder(size_t size) {
    std::vector<size_t> order;
    for (size_t index = 0; index < size; ++index) {
        order.push_back(index);
    }
    return order;
}

std::string Texts(const std::vector<PlannedNode>& plan) {
    std::string shown;
    for (const PlannedNode& node : plan) {
        shown += ToUtf8(node.text) + (node.checked ? " [x]\n" : " [ ]\n");
    }
    return shown;
}

TEST(TreeBuildOrderTest, GroupsTakeTheirChecksFromTheirLeaves) {
    ItemList items;
    Add(items, u"临时文件", u"C:\\Temp\\acad1.tmp", ItemKind::File, true);
    Add(items, u"临时文件", u"C:\\Temp\\acad2.tmp", ItemKind::File, true);
    Add(items, u"程序文件", u"C:\\Program Files\\Autodesk\\AutoCAD 2024", ItemKind::Directory,
        true);
    Add(items, u"程序文件", u"C:\\Program Files\\Other\\AutoCAD 2025", ItemKind::Directory, false);
    Add(items, u"相关服务", u"AdskLicensing", ItemKind::Service, true);
    std::vector<PlannedNode> plan = PlanResultTree(items, ProductKind::AutoCAD);
    DeriveGroupChecks(plan);

    // Root, then per category its node, its path nodes and leaves in plan order.
    // x checked, - partly checked (some leaves below are), blank unchecked.
    const std::string expected = "-"        // root: one leaf is unchecked
                                 "xxxxx"    // 临时文件, C:, Temp, two leaves
                                 "xx"       // 相关服务 and its leaf
                                 "---xx  "; // 程序文件, C:, Program Files, Autodesk, leaf,
                                            // Other, unchecked leaf
    ASSERT_EQ(plan.size(), expected.size()) << Texts(plan);
    for (size_t index = 0; index < plan.size(); ++index) {
        const char shown = plan[index].checked ? 'x' : plan[index].partly ? '-' : ' ';
        EXPECT_EQ(shown, expected[index]) << index << "\n" << Texts(plan);
    }

    ItemList none;
    std::vector<PlannedNode> empty = PlanResultTree(none, ProductKind::Oracle);
    ASSERT_EQ(empty.size(), 1u) << Texts(empty);
    EXPECT_EQ(empty[0].text, u"Oracle 扫描结果（0 个项目）");
    EXPECT_EQ(empty[0].parent, -1);
    empty.front().checked = true;
    DeriveGroupChecks(empty);
    EXPECT_FALSE(empty.front().checked) << "a root without children is unchecked";

    for (auto& item : items) {
        item->checked = true;
    }
    std::vector<PlannedNode> all = PlanResultTree(items, ProductKind::AutoCAD);
    DeriveGroupChecks(all);
    for (const PlannedNode& node : all) {
        EXPECT_TRUE(node.checked && !node.partly) << Texts(all);
    }
}

TEST(TreeBuildOrderTest, InsertionOrderKeepsEveryParentsChildrenInPlanOrder) {
    ItemList typical;
    for (int index = 0; index < 30; ++index) {
        const std::u16string number = ToDecimal(index);
        Add(typical, u"临时文件", u"C:\\Temp\\acad" + number + u".tmp", ItemKind::File, true);
        Add(typical, u"程序文件", u"C:\\Program Files\\Autodesk\\AutoCAD " + number,
            ItemKind::Directory, true);
        Add(typical, u"安装记录（高风险）", u"AutoCAD " + number, ItemKind::InstallRecord, false);
    }
    // A folder shown as a leaf under C: and, after it, a path node of the same name there.
    ItemList mixed;
    Add(mixed, u"程序文件", u"C:\\Oracle", ItemKind::Directory, true);
    Add(mixed, u"程序文件", u"C:\\Oracle\\Inventory", ItemKind::Directory, true);

    const struct {
        const char* name;
        const ItemList& items;
        bool groupsFirst;
    } cases[] = {{"typical", typical, true}, {"leaf before a group", mixed, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<PlannedNode> plan = PlanResultTree(c.items, ProductKind::AutoCAD);
        const std::vector<size_t> order = InsertionOrder(plan);
        ASSERT_EQ(order.size(), plan.size());
        EXPECT_EQ(ChildrenAfterInserting(plan, order),
                  ChildrenAfterInserting(plan, PlanOrder(plan.size())));
        if (c.groupsFirst) {
            size_t groups = 0;
            while (groups < order.size() && plan[order[groups]].item == nullptr) {
                ++groups;
            }
            for (size_t at = groups; at < order.size(); ++at) {
                EXPECT_NE(plan[order[at]].item, nullptr) << "group after the first leaf";
            }
        } else {
            EXPECT_EQ(order, PlanOrder(plan.size()));
        }
    }
}

// The window looks at its queue through the call while a large tree is planned.
TEST(TreeBuildOrderTest, PlanningCallsBackOncePerItemWithoutChangingThePlan) {
    ItemList items;
    for (int index = 0; index < 25; ++index) {
        const std::u16string number = ToDecimal(index);
        Add(items, u"临时文件", u"C:\\Temp\\acad" + number + u".tmp", ItemKind::File, true);
        Add(items, u"安装记录（高风险）", u"AutoCAD " + number, ItemKind::InstallRecord, false);
    }
    Add(items, u"程序文件", u"", ItemKind::Directory, true); // no component at all
    size_t calls = 0;
    const std::vector<PlannedNode> counted =
        PlanResultTree(items, ProductKind::AutoCAD, [&calls] { ++calls; });
    EXPECT_EQ(calls, items.size());
    EXPECT_EQ(Texts(counted), Texts(PlanResultTree(items, ProductKind::AutoCAD)));
}

} // namespace
} // namespace tidewell
