#include "uninstall/OneClickUninstall.h"

#include "clean/CleanItem.h"
#include "clean/ProcessAndService.h"
#include "platform/SystemCodes.h"
#include "support/ChildProcess.h"
#include "support/RunLog.h"
#include "support/Text.h"
#include "uninstall/SilentUninstall.h"

#include <algorithm>
#include <set>

namespace tidewell {

namespace {

// Shared data is never removed on the one-click run's own authority.
bool IsSharedCategory(const std::u16string& category) {
    return category == u"共享组件" || category == u"共享安装组件" || category == u"共享许可组件";
}

bool IsSuccessfulExitCode(uint32_t code) {
    return code == codes::kSuccess || code == codes::kUnknownProduct ||
           code == codes::kSuccessRebootRequired;
}

std::u16string Count(size_t value) {
    return ToDecimal(static_cast<int64_t>(value));
}

std::u16string Minutes(uint64_t milliseconds) {
    return ToDecimal(static_cast<int64_t>(milliseconds / 60000));
}

std::u16string StillRunningQuestion(const ResidueItem& record, uint64_t waited) {
    return u"卸载程序仍在运行：\r\n" + record.title + u"\r\n\r\n已等待 " + Minutes(waited) +
           u" 分钟。是否继续等待？\r\n\r\n选择“否”将放弃等待此记录（卸载程序不会被终止），"
           u"该记录按卸载失败处理，不会继续清理残留。";
}

// Titles the confirmation lists before it only counts the rest.
constexpr size_t kTitlesShown = 15;

struct RunState {
    explicit RunState(Platform& platform, const std::u16string& product)
        : log(platform, product + u" 一键卸载日志") {}
    // Titled for the outcome of a failed uninstall until every uninstaller has succeeded.
    RunLogFile log;
    size_t uninstallFailures = 0;
    bool restartNeeded = false;
};

// B. The product's own processes would hold its files open during the uninstall.
void EndOwnProcesses(Platform& platform, const ItemList& items, RunState& run) {
    for (const auto& item : items) {
        if (item->kind != ItemKind::Process || item->risk != RiskLevel::Safe) {
            continue;
        }
        CreateBackupFolder(platform);
        const ActionResult result = EndProcess(platform, *item);
        run.log.append(u"[结束进程] " + item->title + u"：" + result.message + u"\r\n");
    }
}

std::u16string RecordKey(const ResidueItem& record) {
    return ToDecimal(static_cast<uint32_t>(record.registryRoot)) + u"|" +
           ToDecimal(static_cast<uint32_t>(record.registryView)) + u"|" +
           ToLower(record.registryPath);
}

// A. The product's install records in list order, each registry key once: it is uninstalled
// once, however many times the scan met it.
std::vector<ResidueItem*> ProductRecords(const ScanSession& session) {
    std::vector<ResidueItem*> records;
    std::set<std::u16string> seen;
    for (const auto& item : session.items) {
        if (item->kind != ItemKind::InstallRecord ||
            !isProductInstallRecord(*item, session.product)) {
            continue;
        }
        if (seen.insert(RecordKey(*item)).second) {
            records.push_back(item.get());
        }
    }
    return records;
}

// A. The question names every record that will run: a title match may take in products the
// user never meant to remove.
std::u16string Confirmation(const std::u16string& product,
                            const std::vector<ResidueItem*>& records) {
    std::u16string text = u"此操作只卸载检测到的 " + product +
                          u" 产品，并清理其专属残留。\r\n不会自动删除标记为共享组件或共享许可的"
                          u"数据。\r\n\r\n检测到 " +
                          Count(records.size()) + u" 个安装记录：";
    const size_t shown = std::min(records.size(), kTitlesShown);
    for (size_t i = 0; i < shown; ++i) {
        text += u"\r\n  " + records[i]->title;
    }
    if (records.size() > shown) {
        text += u"\r\n  ……共 " + Count(records.size()) + u" 个";
    }
    return text + u"\r\n\r\n是否继续？";
}

// C. Why an uninstaller did not run to its end: the system's text, or the refusal's own.
std::u16string NotRunReason(Platform& platform, ChildRights rights, const ChildRun& child) {
    switch (child.refusal) {
    case ProgramRefusal::NotInSystemFolders:
        return u"卸载命令中的程序 " + child.program + u" 不在系统目录中，已拒绝启动";
    case ProgramRefusal::RelativePath:
        return u"卸载命令中的程序 " + child.program + u" 不是完整路径，已拒绝启动";
    case ProgramRefusal::None:
        break;
    }
    switch (child.shellToken) {
    case ShellTokenProblem::OtherUser:
        return u"此产品按用户安装，而桌面的用户不是运行本程序的账户（提升权限时输入了其他账户），"
               u"未启动卸载程序，请由桌面的用户自行卸载";
    case ShellTokenProblem::Elevated:
        return u"此产品按用户安装，而桌面（资源管理器）以管理员权限运行，卸载程序无法以普通权限"
               u"启动，已拒绝启动";
    case ShellTokenProblem::Unavailable:
        return u"无法以当前用户身份启动卸载程序（" + SystemErrorText(platform, child.error) + u"）";
    case ShellTokenProblem::None:
        break;
    }
    // Starting with another user's token goes through the Secondary Logon service.
    if (rights == ChildRights::ShellUser && child.error == codes::kServiceDisabled) {
        return u"无法以当前用户身份启动卸载程序：Secondary Logon（seclogon）服务已禁用（" +
               SystemErrorText(platform, child.error) + u"）";
    }
    return SystemErrorText(platform, child.error);
}

// C. One uninstaller, waited for to its end.
void Uninstall(Platform& platform, const ResidueItem& record, RunState& run) {
    // A suite's main uninstaller often removes its siblings' records before their turn comes;
    // their own uninstallers would then fail or no longer exist.
    if (platform.openKeyForRead(record.registryRoot, record.registryView, record.registryPath) ==
        codes::kFileNotFound) {
        run.log.append(u"[卸载成功] " + record.title + u"：安装记录已被移除，无需再卸载\r\n");
        return;
    }
    if (record.uninstallCommand.empty()) {
        ++run.uninstallFailures;
        run.log.append(u"[卸载失败] " + record.title + u"：未找到卸载命令\r\n");
        return;
    }
    // Any program the user runs can write a per-user record: its uninstaller gets no more
    // rights than the user has.
    const ChildRights rights = record.registryRoot == RegistryRoot::CurrentUser
                                   ? ChildRights::ShellUser
                                   : ChildRights::Program;
    uint32_t exitCode = 1;
    const ChildRun child = RunProcessAndWaitPatiently(
        platform, BuildSilentUninstallCommand(record.uninstallCommand), rights, exitCode,
        platform.uninstallerQuestionInterval(), [&](uint64_t waited) {
            // An uninstaller that never ends must not hold the window for ever.
            return platform.askYesNo(StillRunningQuestion(record, waited), u"卸载仍在进行",
                                     NoticeIcon::Question, true);
        });
    if (child.givenUp) {
        ++run.uninstallFailures;
        run.log.append(u"[卸载失败] " + record.title + u"：已放弃等待卸载程序（已等待 " +
                       Minutes(child.waited) + u" 分钟，卸载程序未被终止）\r\n");
        return;
    }
    if (!child.ended) {
        ++run.uninstallFailures;
        run.log.append(u"[卸载失败] " + record.title + u"：" +
                       NotRunReason(platform, rights, child) + u"\r\n");
        return;
    }
    const bool succeeded = IsSuccessfulExitCode(exitCode);
    run.restartNeeded = run.restartNeeded || exitCode == codes::kSuccessRebootRequired;
    // A cancelled uninstaller, or one that did nothing, often says 0 all the same: the record
    // tells. 1605 (not installed) leaves a stale record, which the clean then removes.
    if (succeeded && exitCode != codes::kUnknownProduct &&
        platform.openKeyForRead(record.registryRoot, record.registryView, record.registryPath) !=
            codes::kFileNotFound) {
        ++run.uninstallFailures;
        run.log.append(u"[卸载失败] " + record.title + u"：卸载程序已结束（退出代码 " +
                       ToDecimal(exitCode) + u"），但安装记录仍在，产品可能未被卸载\r\n");
        return;
    }
    run.uninstallFailures += succeeded ? 0 : 1;
    run.log.append((succeeded ? u"[卸载成功] " : u"[卸载失败] ") + record.title + u"：退出代码 " +
                   ToDecimal(exitCode) + u"\r\n");
}

// E. What the fresh scan still finds, less what the run leaves to the user and the install
// records it did not run: deleting the entry of a product that stays installed hides it from
// Programs and Features while Windows Installer still holds it.
std::vector<ResidueItem*> CleanList(const ItemList& items, const std::set<std::u16string>& ran,
                                    std::vector<ResidueItem*>& left) {
    std::vector<ResidueItem*> list;
    for (const auto& item : items) {
        const bool notRun =
            item->kind == ItemKind::InstallRecord && ran.count(RecordKey(*item)) == 0;
        (notRun || LeftByOneClick(*item) ? left : list).push_back(item.get());
    }
    return list;
}

// E. Each item the run leaves, and why, after the cleaned ones.
std::u16string LeftLogEntry(const ResidueItem& item) {
    std::u16string reason = LeftByOneClickBecause(item);
    if (reason.empty()) {
        reason = u"本次未运行此安装记录的卸载程序，对应产品可能仍然安装";
    }
    return u"[保留] " + item.title + u"\r\n  " + item.location + u"\r\n  " + reason + u"\r\n";
}

} // namespace

std::u16string LeftByOneClickBecause(const ResidueItem& item) {
    const bool notSafe = item.risk != RiskLevel::Safe;
    if (item.kind == ItemKind::Service) {
        return u"服务只停止、不删除，一键卸载不处理服务";
    }
    if (IsSharedCategory(item.category)) {
        return u"共享数据，其他产品可能使用";
    }
    if (item.kind == ItemKind::Process && notSafe) {
        return u"共享进程、服务进程或其他用户的进程";
    }
    if (item.category == u"临时文件" && notSafe) {
        return u"TEMP 指向系统目录或根目录，此项未必是临时文件";
    }
    if (item.category == u"环境变量目录") {
        // A client home that other programs load, with no service and no record of its own.
        return u"ORACLE_HOME 指向的目录，其他程序可能仍在使用";
    }
    if (item.category == u"Oracle 主目录") {
        return u"Oracle 注册的主目录，其他程序可能仍在使用";
    }
    if (item.kind == ItemKind::EnvironmentValue && notSafe) {
        return u"环境变量仍指向存在的目录，其他程序可能仍在使用";
    }
    return item.inUse;
}

bool LeftByOneClick(const ResidueItem& item) {
    return !LeftByOneClickBecause(item).empty();
}

void OneClickUninstall(Platform& platform, WorkflowWindow& window) {
    ScanSession& session = window.session();
    const std::u16string product = productName(session.product);

    // A. The product's install records, and the user's consent.
    if (session.items.empty()) {
        session.runScan();
    }
    const std::vector<ResidueItem*> records = ProductRecords(session);
    if (records.empty()) {
        platform.showNotice(u"未检测到可调用卸载器的 " + product +
                                u" 安装记录。\r\n\r\n如需处理孤立残留，请先扫描并人工勾选。为了避免"
                                u"误删，程序不会在此情况下自动清理全部项目。",
                            u"未发现可卸载产品", NoticeIcon::Information);
        return;
    }
    if (!platform.askYesNo(Confirmation(product, records), u"一键卸载并清理 " + product,
                           NoticeIcon::Warning, false)) {
        return;
    }
    window.setBusy(true, u"正在卸载 " + product + u"，请勿关闭程序...");
    RunState run(platform, product);

    // B-C. End the product's processes, then run every uninstaller.
    EndOwnProcesses(platform, session.items, run);
    std::set<std::u16string> ran;
    for (const ResidueItem* record : records) {
        Uninstall(platform, *record, run);
        ran.insert(RecordKey(*record));
    }

    // D. A failed uninstall leaves everything else in place: the installation may still work.
    if (run.uninstallFailures > 0) {
        run.log.append(u"\r\n因卸载失败，为避免破坏仍有效的安装，本次未继续自动删除残留。");
        const std::u16string logPath = run.log.finish();
        window.setBusy(false, product + u" 卸载未全部成功，已停止残留清理");
        platform.showNotice(u"有 " + Count(run.uninstallFailures) + u" 个 " + product +
                                u" 产品卸载失败，未继续删除残留。\r\n\r\n日志：\r\n" +
                                LogPathOrFailure(logPath),
                            u"卸载未完成", NoticeIcon::Error);
        return;
    }

    // E. Everything uninstalled: remove what the fresh scan still finds.
    run.log.retitle(product + u" 一键卸载并清理日志");
    session.runScan();
    std::vector<ResidueItem*> left;
    const std::vector<ResidueItem*> cleanList = CleanList(session.items, ran, left);
    // Shared data inside a removed folder (Oracle's Inventory in its program folder) stays.
    const std::vector<std::u16string> kept = KeptLocations(session.items, cleanList);
    const std::u16string backupFolder = CreateBackupFolder(platform);
    std::vector<RestoreEntry> restores;
    size_t succeeded = 0;
    size_t failed = 0;
    for (size_t i = 1; i <= cleanList.size(); ++i) {
        const ResidueItem& item = *cleanList[i - 1];
        window.setProgress(static_cast<int>(i * 100 / cleanList.size()));
        const ActionResult result = CleanItem(platform, backupFolder, item, kept);
        (result.success ? succeeded : failed) += 1;
        run.restartNeeded = run.restartNeeded || result.rebootPending;
        run.log.append(CleanLogEntry(item, result, u"[清理成功] ", u"[清理失败] "));
        NoteRestore(platform, backupFolder, item, result, restores);
    }
    for (const ResidueItem* item : left) {
        run.log.append(LeftLogEntry(*item));
    }
    run.log.append(u"\r\n注册表备份：" + backupFolder);
    const std::u16string logPath = run.log.finish();
    session.runScan();

    const std::u16string summary =
        u"一键卸载并清理完成：清理成功 " + Count(succeeded) + u"，失败 " + Count(failed);
    window.setBusy(false, summary);
    std::u16string message = summary;
    if (run.restartNeeded) {
        message += u"\r\n部分操作需要重启 Windows 后完成。";
    }
    message += u"\r\n\r\n日志已保存到桌面：\r\n" + LogPathOrFailure(logPath);
    platform.showNotice(message, u"操作完成",
                        run.restartNeeded ? NoticeIcon::Warning : NoticeIcon::Information);
}

} // namespace tidewell
