#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tidewell {

// A process as a snapshot shows it: its id, its parent's id and when it was started (any
// count that grows with time, a FILETIME say).
struct ProcessBirth {
    uint32_t id = 0;
    uint32_t parentId = 0;
    uint64_t created = 0;
};

// Adds to `tree` every process of the snapshot that a member of the tree started, and what
// those started in turn; returns how many were added. Members stay in the tree after they end:
// a process keeps its parent's id when the parent has gone. A process counts as a member's
// child only when it was started after that member, and not when a later process now holds the
// member's id and started before it: ids are reused once their process is gone.
inline size_t AddDescendants(std::vector<ProcessBirth>& tree,
                             const std::vector<ProcessBirth>& snapshot) {
    const auto known = [&tree](const ProcessBirth& process) {
        for (const ProcessBirth& member : tree) {
            if (member.id == process.id && member.created == process.created) {
                return true;
            }
        }
        return false;
    };
    const auto startedBy = [&snapshot](const ProcessBirth& child, const ProcessBirth& member) {
        if (child.parentId != member.id || child.created < member.created) {
            return false;
        }
        for (const ProcessBirth& other : snapshot) {
            if (other.id == member.id && other.created != member.created &&
                other.created > member.created && other.created <= child.created) {
                return false; // the id's later holder started it
            }
        }
        return true;
    };
    size_t added = 0;
    for (bool grew = true; grew;) {
        grew = false;
        for (const ProcessBirth& process : snapshot) {
            if (known(process)) {
                continue;
            }
            for (size_t i = 0; i < tree.size(); ++i) {
                if (startedBy(process, tree[i])) {
                    tree.push_back(process);
                    ++added;
                    grew = true;
                    break;
                }
            }
        }
    }
    return added;
}

} // namespace tidewell
