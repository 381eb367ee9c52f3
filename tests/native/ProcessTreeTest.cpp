#include "platform/ProcessTree.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

std::vector<uint32_t> Ids(const std::vector<ProcessBirth>& tree) {
    std::vector<uint32_t> ids;
    for (const ProcessBirth& process : tree) {
        ids.push_back(process.id);
    }
    return ids;
}

// The uninstaller (id 10, started at 100) is the tree's first member; what each snapshot adds.
TEST(ProcessTreeTest, FindsWhatTheTreeStartedAndNothingElse) {
    const struct {
        const char* name;
        std::vector<ProcessBirth> snapshot;
        std::vector<uint32_t> tree;
    } cases[] = {
        {"its copy, after it ended", {{20, 10, 150}}, {10, 20}},
        {"the copy's own child in the same snapshot, listed first",
         {{30, 20, 170}, {20, 10, 150}},
         {10, 20, 30}},
        {"a process with its id as parent, started before it (the id's earlier holder's)",
         {{20, 10, 90}},
         {10}},
        {"the id reused by a later process, which started this one",
         {{10, 4, 200}, {20, 10, 250}},
         {10}},
        {"a child started before the id was reused is still its own",
         {{10, 4, 200}, {20, 10, 150}},
         {10, 20}},
        {"unrelated processes", {{4, 0, 1}, {50, 4, 120}}, {10}},
        {"itself, still running", {{10, 1, 100}}, {10}},
    };
    for (const auto& c : cases) {
        std::vector<ProcessBirth> tree = {{10, 1, 100}};
        const size_t added = AddDescendants(tree, c.snapshot);
        EXPECT_EQ(Ids(tree), c.tree) << c.name;
        EXPECT_EQ(added, c.tree.size() - 1) << c.name;
        EXPECT_EQ(AddDescendants(tree, c.snapshot), 0u) << c.name << ": each is added once";
    }
}

} // namespace
} // namespace tidewell
