#include "clean/CleanSelected.h"

#include "clean/CleanItem.h"
#include "support/RunLog.h"
#include "support/Text.h"

namespace tidewell {

namespace {

std::u16string ConfirmationText(size_t count, size_t highRisk, ProductKind product) {
    std::u16string text = u"即将清理 " + ToDecimal(static_cast<int64_t>(count)) +
                          u" 项。注册表会备份，但删除的文件不会备份。";
    if (highRisk > 0) {
        text += u"\r\n\r\n其中包含 " + ToDecimal(static_cast<int64_t>(highRisk)) +
                u" 个高风险项，可能影响其他 " + makerName(product) + u" 软件。";
    }
    return text + u"\r\n\r\n是否继续？";
}

} // namespace

void CleanSelected(Platform& platform, WorkflowWindow& window) {
    ScanSession& session = window.session();

    // 1-5. Take the selection and confirm it.
    const std::vector<ResidueItem*> selected = window.checkedItems();
    if (selected.empty()) {
        platform.showNotice(u"请先勾选需要清理的项目。", u"Tidewell", NoticeIcon::Information);
        return;
    }
    size_t highRisk = 0;
    for (const ResidueItem* item : selected) {
        highRisk += item->risk == RiskLevel::HighRisk ? 1 : 0;
    }
    if (!platform.askYesNo(ConfirmationText(selected.size(), highRisk, session.product),
                           u"确认清理", NoticeIcon::Warning, false)) {
        return;
    }

    // 6-8. Busy, with a backup folder for the registry exports of this run.
    window.setBusy(true, u"正在清理选中项...");
    const std::u16string backupFolder = CreateBackupFolder(platform);
    RunLogFile log(platform, productName(session.product) + u" 残留清理日志");
    std::vector<RestoreEntry> restores;
    size_t succeeded = 0;
    bool restartNeeded = false;

    // 9. Remove each item in the order the tree lists them; what is left unchecked stays, even
    // inside a checked folder.
    const std::vector<std::u16string> kept = KeptLocations(session.items, selected);
    const size_t count = selected.size();
    for (size_t i = 1; i <= count; ++i) {
        const ResidueItem& item = *selected[i - 1];
        window.setProgress(static_cast<int>(i * 100 / count));
        const ActionResult result = CleanItem(platform, backupFolder, item, kept);
        succeeded += result.success ? 1 : 0;
        restartNeeded = restartNeeded || result.rebootPending;
        log.append(CleanLogEntry(item, result, u"[成功] ", u"[失败] "));
        NoteRestore(platform, backupFolder, item, result, restores);
        platform.repaintWindow();
    }

    // 10-11. The log, with the backup folder at its end.
    log.append(u"\r\n注册表备份：" + backupFolder);
    const std::u16string logPath = log.finish();

    // 12-14. A fresh scan shows what is left; the selection's items are gone after it.
    const std::u16string summary = u"清理完成：成功 " + ToDecimal(static_cast<int64_t>(succeeded)) +
                                   u"，失败 " + ToDecimal(static_cast<int64_t>(count - succeeded));
    session.runScan();
    window.setBusy(false, summary);

    // 15-16. The summary with the restart note and where the log is.
    std::u16string message = summary;
    if (restartNeeded) {
        message += u"\r\n部分项目需要重启 Windows 后完成删除。";
    }
    message += u"\r\n\r\n清理日志：\r\n" + LogPathOrFailure(logPath);
    platform.showNotice(message, u"Tidewell",
                        restartNeeded ? NoticeIcon::Warning : NoticeIcon::Information);
}

} // namespace tidewell
