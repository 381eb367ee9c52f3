#include "clean/RegistryRemoval.h"

#include "clean/RegistryBackupCheck.h"
#include "platform/SystemCodes.h"
#include "support/ChildProcess.h"
#include "support/Text.h"

namespace tidewell {

namespace {

constexpr uint32_t kExportTimeLimitMilliseconds = 20000;
constexpr size_t kFileNameLimit = 70;
const std::u16string kBackupFailed = u"注册表备份失败，已取消删除";

// A free name for the backup in the folder: two branches with the same title (an install record
// in both views, say) must not share one file, because the export overwrites.
std::u16string FreeBackupPath(Platform& platform, const std::u16string& backupFolder,
                              const std::u16string& baseName) {
    std::u16string path = JoinPath(backupFolder, baseName + u".reg");
    for (int number = 2; platform.fileAttributes(path).exists(); ++number) {
        path = JoinPath(backupFolder, baseName + u" (" + ToDecimal(number) + u").reg");
    }
    return path;
}

// A double quote would end a quoted argument early and hand reg.exe other arguments. An empty
// leaf would make the deletion reach the parent's whole content.
bool SafeToExport(const std::u16string& registryPath, const std::u16string& backupFile) {
    if (registryPath.find(u'"') != std::u16string::npos ||
        backupFile.find(u'"') != std::u16string::npos) {
        return false;
    }
    return !registryPath.empty() && registryPath.back() != u'\\';
}

// Windows reads a name whose stem (up to the first dot, trailing blanks dropped) is a device
// name as that device: reg.exe would "export" into NUL or CON, exit with 0 and leave no backup.
bool IsDeviceName(const std::u16string& fileName) {
    std::u16string stem = fileName.substr(0, fileName.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') {
        stem.pop_back();
    }
    stem = ToLower(stem);
    for (const char16_t* device : {u"con", u"prn", u"aux", u"nul", u"conin$", u"conout$"}) {
        if (stem == device) {
            return true;
        }
    }
    return stem.size() == 4 && (stem.rfind(u"com", 0) == 0 || stem.rfind(u"lpt", 0) == 0) &&
           stem[3] >= u'1' && stem[3] <= u'9';
}

// The sanitized title, with a leading '_' when it would name a device.
std::u16string BackupBaseName(const std::u16string& title) {
    const std::u16string name = SanitizeFileName(title);
    return IsDeviceName(name + u".reg") ? u"_" + name : name;
}

bool IsWrittenFile(Platform& platform, const std::u16string& path) {
    const FileAttributes attributes = platform.fileAttributes(path);
    return attributes.exists() && !attributes.isDirectory();
}

} // namespace

std::u16string BackupFilePath(Platform& platform, const std::u16string& backupFolder,
                              const std::u16string& title) {
    return FreeBackupPath(platform, backupFolder, BackupBaseName(title));
}

std::u16string SanitizeFileName(const std::u16string& text) {
    std::u16string name = text;
    for (char16_t& unit : name) {
        if (std::u16string(u"<>:\"/\\|?*").find(unit) != std::u16string::npos) {
            unit = u'_';
        }
    }
    if (name.size() > kFileNameLimit) {
        name.resize(kFileNameLimit);
    }
    return name;
}

ExportedKey ExportedKeyOf(const ResidueItem& item, bool on64BitWindows) {
    const bool user = item.registryRoot == RegistryRoot::CurrentUser;
    const bool bits64 = item.registryView == RegistryView::Bits64;
    ExportedKey key{user ? u"HKCU" : u"HKLM", item.registryPath, bits64 ? u"/reg:64" : u"/reg:32"};
    const std::u16string software = u"software\\";
    const std::u16string path = ToLower(item.registryPath);
    const bool underSoftware =
        path.size() > software.size() && path.compare(0, software.size(), software) == 0;
    const std::u16string next =
        underSoftware
            ? path.substr(software.size(), path.find(u'\\', software.size()) - software.size())
            : std::u16string();
    if (!on64BitWindows) {
        // One view only: reg.exe of 32-bit Windows knows no view switch.
        key.viewSwitch.clear();
        return key;
    }
    if (!user && !bits64 && underSoftware && next != u"wow6432node") {
        key.path = item.registryPath.substr(0, software.size()) + u"WOW6432Node\\" +
                   item.registryPath.substr(software.size());
        key.viewSwitch = u"/reg:64";
    }
    return key;
}

std::u16string RegistryExportCommand(const std::u16string& windowsDirectory, const ExportedKey& key,
                                     const std::u16string& backupFile) {
    const std::u16string tool = JoinPath(windowsDirectory, u"System32\\reg.exe");
    return u"\"" + tool + u"\" export \"" + key.rootName + u"\\" + key.path + u"\" \"" +
           backupFile + u"\" /y" + (key.viewSwitch.empty() ? u"" : u" " + key.viewSwitch);
}

ActionResult BackupAndDeleteRegistryKey(Platform& platform, const std::u16string& backupFolder,
                                        const ResidueItem& item) {
    // Absence is success. The export tool fails for a missing branch, so look first: the branch
    // both views share is listed twice and is already gone when its second copy comes up.
    if (platform.openKeyForRead(item.registryRoot, item.registryView, item.registryPath) ==
        codes::kFileNotFound) {
        return {true, u"注册表项已不存在", false};
    }

    const std::u16string backupFile = BackupFilePath(platform, backupFolder, item.title);
    if (!SafeToExport(item.registryPath, backupFile)) {
        return {false, kBackupFailed, false};
    }

    // Never delete without a backup: only an export that ended with 0 in time, left its file
    // and holds what the branch holds counts. The window goes on repainting during the export,
    // which may take up to the limit.
    const ExportedKey key = ExportedKeyOf(item, platform.runsOn64BitWindows());
    uint32_t exitCode = 1;
    const ChildRun run = RunProcessAndWait(
        platform, RegistryExportCommand(platform.windowsDirectory(), key, backupFile), exitCode,
        kExportTimeLimitMilliseconds, true);
    if (!run.ended || exitCode != 0 || !IsWrittenFile(platform, backupFile)) {
        return {false, kBackupFailed, false};
    }
    const FileContents written = platform.readFile(backupFile);
    if (written.error != codes::kSuccess) {
        return {false, kBackupFailed, false};
    }
    const std::u16string longRoot =
        key.rootName == u"HKCU" ? u"HKEY_CURRENT_USER\\" : u"HKEY_LOCAL_MACHINE\\";
    const BackupCheck check =
        CheckRegistryBackup(platform, written.bytes, item.registryRoot, item.registryView,
                            item.registryPath, longRoot + key.path);
    if (check.readError != codes::kSuccess) {
        // Gone since the export: absence is success, as it is for the deletion itself.
        if (platform.openKeyForRead(item.registryRoot, item.registryView, item.registryPath) ==
            codes::kFileNotFound) {
            return {true, u"注册表项已不存在", false};
        }
        return {false,
                u"注册表备份无法核对，已取消删除：" + SystemErrorText(platform, check.readError),
                false};
    }
    if (!check.matches) {
        return {false, check.problem, false};
    }

    const size_t separator = item.registryPath.rfind(u'\\');
    const std::u16string parent = separator == std::u16string::npos
                                      ? std::u16string()
                                      : item.registryPath.substr(0, separator);
    const std::u16string leaf = separator == std::u16string::npos
                                    ? item.registryPath
                                    : item.registryPath.substr(separator + 1);
    const uint32_t outcome =
        platform.deleteTree(item.registryRoot, item.registryView, parent, leaf);
    if (outcome == codes::kFileNotFound) {
        return {true, u"注册表项已不存在", false};
    }
    if (outcome != codes::kSuccess) {
        // The deletion may have taken part of the branch: its backup is needed all the more.
        return {false, SystemErrorText(platform, outcome), false, backupFile};
    }
    return {true, u"注册表已备份并删除", false, backupFile};
}

} // namespace tidewell
