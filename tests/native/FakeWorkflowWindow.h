#pragma once

#include "app/ResultTreeRules.h"
#include "clean/WorkflowWindow.h"

#include <functional>
#include <string>
#include <vector>

namespace tidewell {

// The main window as the workflows see it, without a window: the selection is each item's
// default check (or a chosen predicate), in the order the result tree would list it; every
// state change is recorded.
class FakeWorkflowWindow : public WorkflowWindow {
public:
    explicit FakeWorkflowWindow(Platform& platform) : scan(platform) {
        scan.showItems = [this] { ++scansShown; };
    }

    ScanSession& session() override { return scan; }

    std::vector<ResidueItem*> checkedItems() override {
        const std::vector<PlannedNode> plan = PlanResultTree(scan.items, scan.product);
        std::vector<ResidueItem*> selected;
        if (!plan.empty()) {
            collectPreOrder(plan, 0, selected);
        }
        return selected;
    }

    void setBusy(bool busy, const std::u16string& status) override {
        busyStates.push_back({busy, status});
    }

    void setProgress(int position) override { progress.push_back(position); }

    struct BusyState {
        bool busy;
        std::u16string status;
        bool operator==(const BusyState& other) const {
            return busy == other.busy && status == other.status;
        }
    };

    ScanSession scan;
    // Which items count as checked; by default their pre-selection.
    std::function<bool(const ResidueItem&)> isChecked = [](const ResidueItem& item) {
        return item.checked;
    };
    std::vector<BusyState> busyStates;
    std::vector<int> progress;
    int scansShown = 0;

private:
    void collectPreOrder(const std::vector<PlannedNode>& plan, int node,
                         std::vector<ResidueItem*>& selected) {
        if (plan[node].item != nullptr && isChecked(*plan[node].item)) {
            selected.push_back(plan[node].item);
        }
        for (size_t child = 0; child < plan.size(); ++child) {
            if (plan[child].parent == node) {
                collectPreOrder(plan, static_cast<int>(child), selected);
            }
        }
    }
};

} // namespace tidewell
