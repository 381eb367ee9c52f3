#include "clean/CleanItem.h"

#include "clean/FileRemoval.h"
#include "clean/ProcessAndService.h"
#include "clean/RegistryRemoval.h"

#include <algorithm>

namespace tidewell {

ActionResult CleanItem(Platform& platform, const std::u16string& backupFolder,
                       const ResidueItem& item, const std::vector<std::u16string>& kept) {
    // Read as unsigned, so that negative kinds fall through to the unknown case.
    switch (static_cast<uint32_t>(item.kind)) {
    case static_cast<uint32_t>(ItemKind::Process):
        return EndProcess(platform, item);
    case static_cast<uint32_t>(ItemKind::Service):
        return StopService(platform, item);
    case static_cast<uint32_t>(ItemKind::Directory):
        return RemoveDirectoryTree(platform, item.location, kept);
    case static_cast<uint32_t>(ItemKind::File):
        return RemoveFile(platform, item.location);
    case static_cast<uint32_t>(ItemKind::RegistryKey):
    case static_cast<uint32_t>(ItemKind::InstallRecord):
        return BackupAndDeleteRegistryKey(platform, backupFolder, item);
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
    restores.push_back({item.title, item.location, result.backupFile});
    WriteRestoreNote(platform, backupFolder, restores);
}

} // namespace tidewell
