#include "clean/EnvironmentRemoval.h"

#include "clean/RegistryRemoval.h"
#include "platform/SystemCodes.h"
#include "support/PathList.h"
#include "support/RegFile.h"
#include "support/Text.h"

#include <algorithm>

namespace tidewell {

namespace {

const char16_t kBackupFailed[] = u"环境变量备份失败，已取消修改";

struct StoredValue {
    uint32_t error = 0;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

StoredValue ReadStored(Platform& platform, const ResidueItem& item) {
    const RegistryValues read = platform.readValues(item.registryRoot, item.registryView,
                                                    item.registryPath, {item.valueName});
    if (read.error != codes::kSuccess) {
        return {read.error, 0, {}};
    }
    if (read.values.size() != 1) {
        return {codes::kFileNotFound, 0, {}};
    }
    const RegistryValue& value = read.values[0];
    return {value.error, value.type, value.data};
}

// The Path value without the item's entry: the text up to its first zero unit loses the entry,
// and whatever follows that zero (the terminator, stray bytes) stays as stored.
std::vector<uint8_t> WithoutEntry(const std::vector<uint8_t>& data, const std::u16string& entry) {
    std::u16string text;
    size_t end = 0;
    for (; end + 1 < data.size(); end += 2) {
        const char16_t unit = static_cast<char16_t>(data[end] | (data[end + 1] << 8));
        if (unit == 0) {
            break;
        }
        text += unit;
    }
    const std::u16string kept = WithoutPathEntry(text, PathEntryIdentity(entry));
    std::vector<uint8_t> result;
    for (char16_t unit : kept) {
        result.push_back(static_cast<uint8_t>(unit & 0xFF));
        result.push_back(static_cast<uint8_t>(unit >> 8));
    }
    result.insert(result.end(), data.begin() + static_cast<std::ptrdiff_t>(end), data.end());
    return result;
}

bool HoldsExactly(const std::string& fileBytes, const std::u16string& keyName,
                  const ResidueItem& item, const StoredValue& stored) {
    const RegFile file = ParseRegFile(fileBytes);
    if (!file.parsed || file.keys.size() != 1 || ToLower(file.keys[0].name) != ToLower(keyName) ||
        file.keys[0].values.size() != 1) {
        return false;
    }
    const RegFileValue& value = file.keys[0].values[0];
    return ToLower(value.name) == ToLower(item.valueName) && value.type == stored.type &&
           value.data == stored.data;
}

} // namespace

ActionResult BackupAndRemoveEnvironmentValue(Platform& platform, const std::u16string& backupFolder,
                                             const ResidueItem& item) {
    const bool entryOnly = !item.pathEntry.empty();
    const StoredValue stored = ReadStored(platform, item);
    if (stored.error == codes::kFileNotFound) {
        return {true, u"环境变量已不存在", false};
    }
    if (stored.error != codes::kSuccess) {
        return {false, SystemErrorText(platform, stored.error), false};
    }
    std::vector<uint8_t> changed;
    if (entryOnly) {
        if (stored.type != codes::kRegSz && stored.type != codes::kRegExpandSz) {
            return {false, u"Path 的值不是文本，未修改", false};
        }
        changed = WithoutEntry(stored.data, item.pathEntry);
        if (changed == stored.data) {
            return {true, u"Path 中已没有此条目", false};
        }
    }

    // The backup holds this one value as it is stored now, and must read back as exactly that.
    const std::u16string keyName =
        (item.registryRoot == RegistryRoot::CurrentUser ? u"HKEY_CURRENT_USER\\"
                                                        : u"HKEY_LOCAL_MACHINE\\") +
        item.registryPath;
    // The restore note's command runs in a command prompt, which would expand a %NAME% of the
    // file's name; a Path entry's title often holds one.
    std::u16string fileTitle = item.title;
    std::replace(fileTitle.begin(), fileTitle.end(), u'%', u'_');
    const std::u16string backupFile = BackupFilePath(platform, backupFolder, fileTitle);
    if (platform.writeFile(backupFile, RegFileOfValue(keyName, item.valueName, stored.type,
                                                      stored.data)) != codes::kSuccess) {
        return {false, kBackupFailed, false};
    }
    const FileContents written = platform.readFile(backupFile);
    if (written.error != codes::kSuccess || !HoldsExactly(written.bytes, keyName, item, stored)) {
        return {false, kBackupFailed, false};
    }
    // Changed by someone else meanwhile: the backup would not bring back what is there.
    const StoredValue now = ReadStored(platform, item);
    if (now.error != codes::kSuccess || now.type != stored.type || now.data != stored.data) {
        return {false, u"环境变量在备份期间被修改，已取消修改", false};
    }

    const uint32_t outcome =
        entryOnly ? platform.writeValue(item.registryRoot, item.registryView, item.registryPath,
                                        item.valueName, stored.type, changed)
                  : platform.deleteValue(item.registryRoot, item.registryView, item.registryPath,
                                         item.valueName);
    if (outcome == codes::kFileNotFound && !entryOnly) {
        return {true, u"环境变量已不存在", false};
    }
    if (outcome != codes::kSuccess) {
        return {false, SystemErrorText(platform, outcome), false};
    }
    std::u16string message =
        entryOnly ? u"已从 Path 中移除此条目，原值已备份" : u"环境变量已备份并删除";
    // A program that never answers must not hold the run: each window gets a time limit.
    const uint32_t announced = platform.announceEnvironmentChange(kEnvironmentAnnounceMilliseconds);
    if (announced != codes::kSuccess) {
        message += u"；未能及时通知所有正在运行的程序（" + SystemErrorText(platform, announced) +
                   u"），之后启动的程序会使用新的值";
    }
    return {true, message, false, backupFile};
}

} // namespace tidewell
