#pragma once

// The items a scan is expected to give, spelled out field by field, and a comparison that
// shows only the lines that differ. Shared by the tests on the in-memory machine and under
// Wine.

#include "catalogue/ResidueItem.h"
#include "support/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tidewell::catalogue_test {

constexpr RegistryRoot kHKCU = RegistryRoot::CurrentUser;
constexpr RegistryRoot kHKLM = RegistryRoot::LocalMachine;
constexpr RegistryView k32 = RegistryView::Bits32;
constexpr RegistryView k64 = RegistryView::Bits64;

const std::u16string kUninstall = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::u16string kMachineEnvironment =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// --- Expected items ---------------------------------------------------------------------------

// One line per item with every field, so that a failing comparison shows the whole difference.
inline std::string Describe(const ResidueItem& item) {
    return std::to_string(static_cast<int>(item.kind)) +
           " risk=" + std::to_string(static_cast<int>(item.risk)) +
           (item.checked ? " [x] " : " [ ] ") + ToUtf8(item.category) + " | " + ToUtf8(item.title) +
           " | " + ToUtf8(item.location) + " | " + ToUtf8(item.note) +
           " | cmd=" + ToUtf8(item.uninstallCommand) +
           " | reg=" + std::to_string(static_cast<unsigned>(item.registryRoot)) + "/" +
           std::to_string(static_cast<unsigned>(item.registryView)) + "/" +
           ToUtf8(item.registryPath);
}

inline std::vector<std::string> Describe(const ItemList& items) {
    std::vector<std::string> lines;
    for (const auto& item : items) {
        lines.push_back(Describe(*item));
    }
    return lines;
}

inline ResidueItem Folder(const std::u16string& category, const std::u16string& path,
                          RiskLevel risk, bool checked, const std::u16string& note) {
    ResidueItem item;
    item.category = category;
    item.title = path.substr(path.find_last_of(u"\\/") + 1);
    item.location = path;
    item.note = note;
    item.kind = ItemKind::Directory;
    item.risk = risk;
    item.checked = checked;
    return item;
}

inline std::u16string DynamicNote(const std::u16string& product) {
    return u"目录名动态匹配 " + product + u"，不依赖固定版本号。";
}

inline ResidueItem TempEntry(const std::u16string& folder, const std::u16string& name,
                             ItemKind kind) {
    ResidueItem item;
    item.category = u"临时文件";
    item.title = name;
    item.location = JoinPath(folder, name);
    item.note = u"安装或运行产生的临时项。";
    item.kind = kind;
    item.risk = RiskLevel::Safe;
    item.checked = true;
    return item;
}

inline ResidueItem Branch(RegistryRoot root, RegistryView view, const std::u16string& path,
                          const std::u16string& category, const std::u16string& title,
                          RiskLevel risk, const std::u16string& note) {
    ResidueItem item;
    item.category = category;
    item.title = title + viewSuffix(view);
    item.location = rootPrefix(root) + path + viewSuffix(view);
    item.note = note;
    item.kind = ItemKind::RegistryKey;
    item.risk = risk;
    item.checked = true;
    item.registryRoot = root;
    item.registryView = view;
    item.registryPath = path;
    return item;
}

inline ResidueItem Record(RegistryRoot root, RegistryView view, const std::u16string& subkey,
                          const std::u16string& title, const std::u16string& command) {
    ResidueItem item;
    item.category = u"安装记录（高风险）";
    item.title = title;
    item.registryPath = kUninstall + u"\\" + subkey;
    item.location = rootPrefix(root) + item.registryPath + viewSuffix(view);
    item.note = u"应优先正常卸载；仅在产品已不存在或卸载记录损坏时删除。清理前自动备份。";
    item.uninstallCommand = command;
    item.kind = ItemKind::InstallRecord;
    item.risk = RiskLevel::HighRisk;
    item.checked = false;
    item.registryRoot = root;
    item.registryView = view;
    return item;
}

inline ResidueItem Process(uint32_t id, const std::u16string& name, const std::u16string& product,
                           bool shared) {
    ResidueItem item;
    item.category = u"正在占用";
    item.title = name + u"（PID " + ToDecimal(id) + u"）";
    item.location = ToDecimal(id);
    item.note = shared ? u"Autodesk 共享进程，其他产品也可能正在使用。"
                       : product + u" 进程可能锁定安装文件。";
    item.kind = ItemKind::Process;
    item.risk = shared ? RiskLevel::NeedsConfirm : RiskLevel::Safe;
    item.checked = !shared;
    return item;
}

inline ResidueItem Service(const std::u16string& key, const std::u16string& display,
                           const std::u16string& maker) {
    ResidueItem item;
    item.category = u"相关服务";
    item.title = display;
    item.location = key;
    item.note = maker + u" 相关服务。清理只停止服务，不删除服务注册。";
    item.kind = ItemKind::Service;
    item.risk = RiskLevel::HighRisk;
    item.checked = false;
    return item;
}

// What the scan does to program, data and settings folders and registry branches while an
// install record exists.
inline ResidueItem Adjusted(ResidueItem item, const std::u16string& product) {
    item.checked = false;
    item.risk = RiskLevel::HighRisk;
    item.note = u"检测到系统仍有 " + product +
                u" 安装记录，因此此项不视为可自动清理的残留。请先正常卸载，或确认安装记录确已损坏"
                u"后手动勾选。 " +
                item.note;
    return item;
}

inline std::vector<std::string> Describe(const std::vector<ResidueItem>& items) {
    std::vector<std::string> lines;
    for (const auto& item : items) {
        lines.push_back(Describe(item));
    }
    return lines;
}

// Compares two item lists line by line and reports only the lines that differ, as text.
inline ::testing::AssertionResult SameItems(const std::vector<std::string>& actual,
                                            const std::vector<std::string>& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    auto failure = ::testing::AssertionFailure();
    failure << "got " << actual.size() << " items, expected " << expected.size() << "\n";
    for (size_t i = 0; i < std::max(actual.size(), expected.size()); ++i) {
        const std::string got = i < actual.size() ? actual[i] : "(none)";
        const std::string want = i < expected.size() ? expected[i] : "(none)";
        if (got != want) {
            failure << "#" << i << "\n  got:  " << got << "\n  want: " << want << "\n";
        }
    }
    return failure;
}

// A run of expected items: in a fixed order (rows of a table), or in an order the system decides
// (the entries of one folder listing, the process snapshot, the service list), compared as a set.
struct ItemGroup {
    bool ordered;
    std::vector<ResidueItem> items;
};

inline ::testing::AssertionResult SameGroups(const ItemList& actual,
                                             const std::vector<ItemGroup>& groups) {
    std::vector<std::string> got = Describe(actual);
    std::vector<std::string> want;
    size_t at = 0;
    for (const ItemGroup& group : groups) {
        std::vector<std::string> lines = Describe(group.items);
        if (!group.ordered) {
            std::sort(lines.begin(), lines.end());
            const size_t end = std::min(got.size(), at + lines.size());
            if (at < end) {
                std::sort(got.begin() + static_cast<std::ptrdiff_t>(at),
                          got.begin() + static_cast<std::ptrdiff_t>(end));
            }
        }
        want.insert(want.end(), lines.begin(), lines.end());
        at += lines.size();
    }
    return SameItems(got, want);
}

} // namespace tidewell::catalogue_test
