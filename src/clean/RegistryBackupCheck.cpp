#include "clean/RegistryBackupCheck.h"

#include "platform/SystemCodes.h"
#include "support/RegFile.h"
#include "support/Text.h"

#include <map>

namespace tidewell {

namespace {

const std::u16string kMismatch = u"注册表备份与注册表内容不一致，已取消删除：";

bool IsStringType(uint32_t type) {
    return type == codes::kRegSz || type == codes::kRegExpandSz || type == codes::kRegMultiSz;
}

// A string value as text: its code units without the terminating zero (a REG_MULTI_SZ ends in
// two), whether or not the stored data carries it.
std::vector<uint8_t> AsText(uint32_t type, std::vector<uint8_t> data) {
    if (data.size() % 2 != 0) {
        return data;
    }
    for (int zeros = type == codes::kRegMultiSz ? 2 : 1; zeros > 0; --zeros) {
        const size_t size = data.size();
        if (size < 2 || data[size - 1] != 0 || data[size - 2] != 0) {
            break;
        }
        data.resize(size - 2);
    }
    return data;
}

bool SameData(uint32_t type, const std::vector<uint8_t>& stored,
              const std::vector<uint8_t>& exported) {
    return IsStringType(type) ? AsText(type, stored) == AsText(type, exported) : stored == exported;
}

std::u16string ValueLabel(const std::u16string& name) {
    return name.empty() ? u"默认值" : u"值“" + name + u"”";
}

struct Walk {
    Platform& platform;
    RegistryRoot root;
    RegistryView view;
    std::map<std::u16string, const RegFileKey*> sections; // folded name -> section not matched yet
    BackupCheck result;

    // False with result filled in as soon as something differs or cannot be read.
    bool compareKey(const std::u16string& path, const std::u16string& shownName) {
        const ValueListing values = platform.listValues(root, view, path);
        const SubkeyListing subkeys = platform.listSubkeys(root, view, path);
        if (values.error != codes::kSuccess || subkeys.error != codes::kSuccess) {
            result.readError = values.error != codes::kSuccess ? values.error : subkeys.error;
            result.problem = shownName;
            return false;
        }
        const auto section = sections.find(ToLower(shownName));
        if (section == sections.end()) {
            result.problem = u"备份中缺少 " + shownName;
            return false;
        }
        const RegFileKey& key = *section->second;
        sections.erase(section);
        std::map<std::u16string, const RegFileValue*> exported;
        for (const RegFileValue& value : key.values) {
            if (!exported.emplace(ToLower(value.name), &value).second) {
                result.problem = u"备份中" + ValueLabel(value.name) + u"重复（" + shownName + u"）";
                return false;
            }
        }
        for (const NamedValue& value : values.values) {
            const auto found = exported.find(ToLower(value.name));
            if (found == exported.end()) {
                result.problem = u"备份中缺少" + ValueLabel(value.name) + u"（" + shownName + u"）";
                return false;
            }
            if (found->second->type != value.type ||
                !SameData(value.type, value.data, found->second->data)) {
                result.problem = ValueLabel(value.name) + u"与备份不同（" + shownName + u"）";
                return false;
            }
            exported.erase(found);
        }
        if (!exported.empty()) {
            result.problem = u"备份中多出" + ValueLabel(exported.begin()->second->name) + u"（" +
                             shownName + u"）";
            return false;
        }
        for (const std::u16string& subkey : subkeys.names) {
            if (!compareKey(path + u"\\" + subkey, shownName + u"\\" + subkey)) {
                return false;
            }
        }
        return true;
    }
};

} // namespace

BackupCheck CheckRegistryBackup(Platform& platform, const std::string& fileBytes, RegistryRoot root,
                                RegistryView view, const std::u16string& path,
                                const std::u16string& exportedName) {
    const RegFile file = ParseRegFile(fileBytes);
    if (!file.parsed) {
        BackupCheck unparsed;
        unparsed.problem = u"注册表备份文件无法解析，已取消删除：第 " +
                           ToDecimal(static_cast<int64_t>(file.errorLine)) + u" 行";
        return unparsed;
    }
    Walk walk{platform, root, view, {}, {}};
    for (const RegFileKey& key : file.keys) {
        if (!walk.sections.emplace(ToLower(key.name), &key).second) {
            walk.result.problem = kMismatch + u"备份中 " + key.name + u" 重复";
            return walk.result;
        }
    }
    if (!walk.compareKey(path, exportedName)) {
        if (walk.result.readError == codes::kSuccess) {
            walk.result.problem = kMismatch + walk.result.problem;
        }
        return walk.result;
    }
    // A section that no key of the branch matched: the file would import more than was there.
    for (const RegFileKey& key : file.keys) {
        if (walk.sections.count(ToLower(key.name)) != 0) {
            walk.result.problem = kMismatch + u"备份中多出 " + key.name;
            return walk.result;
        }
    }
    walk.result.matches = true;
    return walk.result;
}

} // namespace tidewell
