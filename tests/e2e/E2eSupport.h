#pragma once

// What both end-to-end suites share beyond the driver and the machine: reading the result tree
// as leaves, checking what became of a leaf's residue, and the pieces of a run log.

#include "AppDriver.h"
#include "Machine.h"
#include "support/Text.h"

#include <set>
#include <string>
#include <vector>

namespace tidewell::e2e {

inline std::string U8(const std::u16string& text) {
    return ToUtf8(text);
}

inline std::u16string Number(size_t value) {
    return ToDecimal(static_cast<int64_t>(value));
}

inline bool StartsWith(const std::u16string& text, const std::u16string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

inline std::vector<TreeNode> Leaves(const std::vector<TreeNode>& tree) {
    std::vector<TreeNode> leaves;
    for (const TreeNode& node : tree) {
        if (node.leaf) {
            leaves.push_back(node);
        }
    }
    return leaves;
}

// The locations of the nodes that are leaves.
inline std::multiset<std::u16string> LeafLocations(const std::vector<TreeNode>& nodes) {
    std::multiset<std::u16string> locations;
    for (const TreeNode& node : nodes) {
        if (node.leaf) {
            locations.insert(node.location);
        }
    }
    return locations;
}

inline size_t CheckedCount(const std::vector<TreeNode>& tree) {
    size_t count = 0;
    for (const TreeNode& node : tree) {
        count += node.leaf && node.checked() ? 1 : 0;
    }
    return count;
}

// The kinds of residue as the tree shows them.
enum class LeafKind { Process, Service, Registry, Path };

inline LeafKind KindOf(const TreeNode& leaf) {
    if (leaf.category == u"正在占用") {
        return LeafKind::Process;
    }
    if (leaf.category == u"相关服务") {
        return LeafKind::Service;
    }
    return ParseRegistryLocation(leaf.location) ? LeafKind::Registry : LeafKind::Path;
}

// The process id of a process leaf ("SLDWORKS.exe（PID 42）  [安全项]" has location 42).
inline DWORD ProcessIdOf(const TreeNode& leaf) {
    return static_cast<DWORD>(std::stoul(U8(leaf.location)));
}

inline std::u16string ExecutableOf(const TreeNode& leaf) {
    return leaf.text.substr(0, leaf.text.find(u'（'));
}

// Whether the residue behind a leaf is still on the machine.
inline bool ResidueExists(const TreeNode& leaf) {
    switch (KindOf(leaf)) {
    case LeafKind::Process:
        return ProcessRunning(ProcessIdOf(leaf), ExecutableOf(leaf));
    case LeafKind::Service:
        return ServiceState(leaf.location).has_value();
    case LeafKind::Registry:
        return KeyExists(*ParseRegistryLocation(leaf.location));
    case LeafKind::Path:
        return PathExists(leaf.location);
    }
    return false;
}

// One entry of a clean log: "[成功] title", "  location", "  message".
struct LogEntry {
    std::u16string outcome; // 成功, 失败, 清理成功 ...
    std::u16string title;
    std::u16string location;
    std::u16string message;
};

// Splits "entries" + "\r\n注册表备份：" + folder. False when the layout is broken.
inline bool ParseCleanEntries(const std::u16string& text, std::vector<LogEntry>& entries,
                              std::u16string& backupFolder, std::string& problem) {
    const std::u16string marker = u"\r\n注册表备份：";
    const size_t at = text.rfind(marker);
    if (at == std::u16string::npos) {
        problem = "no backup line";
        return false;
    }
    backupFolder = text.substr(at + marker.size());
    const std::vector<std::u16string> lines = SplitLines(text.substr(0, at));
    // The entries end with a line break, so the last piece is empty.
    if (lines.empty() || !lines.back().empty() || (lines.size() - 1) % 3 != 0) {
        problem = "entries are not groups of three lines";
        return false;
    }
    for (size_t i = 0; i + 1 < lines.size(); i += 3) {
        const std::u16string& head = lines[i];
        const size_t close = head.find(u"] ");
        if (head.empty() || head[0] != u'[' || close == std::u16string::npos ||
            !StartsWith(lines[i + 1], u"  ") || !StartsWith(lines[i + 2], u"  ")) {
            problem = "malformed entry: " + U8(head);
            return false;
        }
        entries.push_back({head.substr(1, close - 1), head.substr(close + 2),
                           lines[i + 1].substr(2), lines[i + 2].substr(2)});
    }
    return true;
}

inline std::string TreeDump(const std::vector<TreeNode>& tree) {
    std::string dump;
    for (const TreeNode& node : tree) {
        dump += std::string(static_cast<size_t>(node.depth) * 2, ' ') + "[" +
                std::to_string(node.stateImage) + "] " + U8(node.text);
        if (node.leaf) {
            dump += "  @ " + U8(node.location);
        }
        dump += "\n";
    }
    return dump;
}

} // namespace tidewell::e2e
