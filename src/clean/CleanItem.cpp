#include "clean/CleanItem.h"

#include "clean/EnvironmentRemoval.h"
#include "clean/FileRemoval.h"
#include "clean/ProcessAndService.h"
#include "clean/ProtectedLocations.h"
#include "clean/RegistryRemoval.h"
#include "support/PathFolding.h"
#include "support/Text.h"

#include <algorithm>
#include <optional>

namespace tidewell {

const char16_t kThroughLinkMessage[] = u"路径经过链接指向其他位置，已跳过";

namespace {

// Ordinary users can turn a folder under ProgramData or their profile into a junction to a
// place of someone else's: a file or folder item is removed only where its path says, and
// nothing is touched under one that a link above it leads elsewhere. An item that is itself a
// link is still removed as a link.
std::optional<ActionResult> RefusedForItsRoute(Platform& platform, const std::u16string& path) {
    if (IsProtectedLocation(platform, path)) {
        return ActionResult{false, kProtectedLocationMessage, false};
    }
    const ParentCheck check = CheckParentRoute(platform, path, ReadLocalNames(platform));
    switch (check.route) {
    case ParentRoute::Missing:
        return std::nullopt; // the removal finds nothing there and says so
    case ParentRoute::Unknown:
        return ActionResult{
            false, u"无法确认路径的实际位置，已跳过：" + SystemErrorText(platform, check.error),
            false};
    case ParentRoute::ThroughLink:
    case ParentRoute::AsWritten:
        break;
    }
    if (!check.reached.empty() &&
        IsProtectedLocation(platform, JoinPath(check.reached, check.leaf))) {
        return ActionResult{false, kProtectedLocationMessage, false};
    }
    if (check.route == ParentRoute::ThroughLink) {
        return ActionResult{false, kThroughLinkMessage, false};
    }
    return std::nullopt;
}

} // namespace

ActionResult CleanItem(Platform& platform, const std::u16string& backupFolder,
                       const ResidueItem& item, const std::vector<std::u16string>& kept) {
    // Read as unsigned, so that negative kinds fall through to the unknown case.
    switch (static_cast<uint32_t>(item.kind)) {
    case static_cast<uint32_t>(ItemKind::Process):
        return EndProcess(platform, item);
    case static_cast<uint32_t>(ItemKind::Service):
        return StopService(platform, item);
    case static_cast<uint32_t>(ItemKind::Directory):
    case static_cast<uint32_t>(ItemKind::File):
        if (std::optional<ActionResult> refused = RefusedForItsRoute(platform, item.location)) {
            return *refused;
        }
        return item.kind == ItemKind::Directory ? RemoveDirectoryTree(platform, item.location, kept)
                                                : RemoveFile(platform, item.location);
    case static_cast<uint32_t>(ItemKind::RegistryKey):
    case static_cast<uint32_t>(ItemKind::InstallRecord):
        return BackupAndDeleteRegistryKey(platform, backupFolder, item);
    case static_cast<uint32_t>(ItemKind::EnvironmentValue):
        return BackupAndRemoveEnvironmentValue(platform, backupFolder, item);
    default:
        return {false, u"未知类型", false};
    }
}

std::vector<std::u16string> KeptLocations(const ItemList& items,
                                          const std::vector<ResidueItem*>& removing) {
    std::vector<std::u16string> kept;
    for (const auto& item : items) {
        const bool onDisk = item->kind == ItemKind::Directory || item->kind == ItemKind::File;
        if (onDisk && std::find(removing.begin(), removing.end(), item.get()) == removing.end()) {
            kept.push_back(item->location);
        }
    }
    return kept;
}

std::u16string CleanLogEntry(const ResidueItem& item, const ActionResult& result,
                             const std::u16string& successMark, const std::u16string& failureMark) {
    return (result.success ? successMark : failureMark) + item.title + u"\r\n  " + item.location +
           u"\r\n  " + result.message + u"\r\n";
}

void NoteRestore(Platform& platform, const std::u16string& backupFolder, const ResidueItem& item,
                 const ActionResult& result, std::vector<RestoreEntry>& restores) {
    if (result.backupFile.empty()) {
        return;
    }
    // Two entries taken from one Path are backed up one after the other: the later backup lacks
    // the earlier entry, so the note lists it first and the original value is imported last.
    if (item.kind == ItemKind::EnvironmentValue) {
        restores.insert(restores.begin(), {item.title, item.location, result.backupFile});
    } else {
        restores.push_back({item.title, item.location, result.backupFile});
    }
    WriteRestoreNote(platform, backupFolder, restores);
}

} // namespace tidewell
