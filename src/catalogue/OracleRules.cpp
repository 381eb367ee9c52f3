#include "catalogue/ScanCollector.h"

#include "platform/SystemCodes.h"
#include "support/PathFolding.h"
#include "support/PathList.h"
#include "support/ProtectedFolders.h"
#include "support/RegistryText.h"
#include "support/Text.h"

#include <algorithm>
#include <map>
#include <memory>
#include <vector>

namespace tidewell {

namespace {

const char16_t kOracleKey[] = u"SOFTWARE\\ORACLE";
const char16_t kMachineEnvironment[] =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char16_t kUserEnvironment[] = u"Environment";
const char16_t kEnvironmentCategory[] = u"环境变量";

// The values Oracle's installer and its users set. All but ORACLE_SID name a folder.
const char16_t* const kOracleValueNames[] = {u"ORACLE_HOME", u"ORACLE_BASE", u"ORACLE_SID",
                                             u"TNS_ADMIN"};

struct EnvironmentScope {
    RegistryRoot root;
    const char16_t* path;
    const char16_t* label; // in the title: ORACLE_HOME（系统）
    ValueListing values;
};

std::vector<RegistryView> ViewsOf(Platform& platform) {
    std::vector<RegistryView> views{RegistryView::Bits32};
    if (platform.runsOn64BitWindows()) {
        views.push_back(RegistryView::Bits64);
    }
    return views;
}

bool IsOracleValueName(const std::u16string& name) {
    for (const char16_t* known : kOracleValueNames) {
        if (ToLower(name) == ToLower(known)) {
            return true;
        }
    }
    return false;
}

std::u16string TextOf(const NamedValue& value) {
    return DecodeRegistryText(codes::kSuccess, value.type, value.data);
}

// Oracle's own layout, ORACLE_BASE\product\<version>\<home>: a component "oracle" followed by
// "product" marks a home wherever the base is.
bool HasOracleProductComponents(const std::u16string& canonical) {
    std::u16string previous;
    size_t start = 0;
    while (start <= canonical.size()) {
        size_t end = canonical.find(u'\\', start);
        if (end == std::u16string::npos) {
            end = canonical.size();
        }
        const std::u16string part = canonical.substr(start, end - start);
        if (previous == u"oracle" && part == u"product") {
            return true;
        }
        previous = part;
        start = end + 1;
    }
    return false;
}

bool IsInside(const std::u16string& canonical, const std::u16string& folder) {
    if (folder.empty() || canonical.size() < folder.size() ||
        canonical.compare(0, folder.size(), folder) != 0) {
        return false;
    }
    return canonical.size() == folder.size() || folder.back() == u'\\' ||
           canonical[folder.size()] == u'\\';
}

// A value or key that names a drive, a system folder or a profile ("C:\\", ProgramData) would
// make every Path entry below it Oracle's: only an ordinary folder marks Oracle's entries.
void AddOracleFolder(Platform& platform, const LocalNames& local, const std::u16string& path,
                     std::vector<std::u16string>& folders) {
    const std::u16string canonical = CanonicalPath(path, local);
    if (!canonical.empty() && StandingOf(platform, path) == FolderStanding::Ordinary) {
        folders.push_back(canonical);
    }
}

// Only "not found" proves a folder gone; an unreachable share or a denied folder does not.
bool IsCertainlyGone(Platform& platform, const std::u16string& path) {
    const uint32_t error = platform.fileAttributes(path).error;
    return error == codes::kFileNotFound || error == codes::kPathNotFound;
}

} // namespace

void ScanCollector::scanOracleRecords() {
    const std::vector<RegistryView> views = ViewsOf(platform);
    const LocalNames local = ReadLocalNames(platform);
    std::vector<std::u16string> oracleFolders; // canonical

    // The central inventory where Oracle's installer says it is, wherever that is.
    for (RegistryView view : views) {
        const RegistryValues read =
            platform.readValues(RegistryRoot::LocalMachine, view, kOracleKey, {u"inst_loc"});
        if (read.error != codes::kSuccess || read.values.size() != 1) {
            continue;
        }
        const RegistryValue& value = read.values[0];
        const std::u16string path =
            DropTrailingSeparators(DecodeRegistryText(value.error, value.type, value.data));
        if (!path.empty()) {
            addFolderIfExists(path, u"共享安装组件", RiskLevel::HighRisk, false,
                              u"Oracle Universal Installer 产品清单（注册表 inst_loc 所指位置），"
                              u"多个 Oracle Home 可能共用。");
        }
    }

    scanOracleHomes(views, local, oracleFolders);

    // The machine's and the user's environment as stored, unexpanded.
    const RegistryView view = views.back();
    EnvironmentScope scopes[] = {
        {RegistryRoot::LocalMachine, kMachineEnvironment, u"系统", {}},
        {RegistryRoot::CurrentUser, kUserEnvironment, u"用户", {}},
    };
    for (EnvironmentScope& scope : scopes) {
        scope.values = platform.listValues(scope.root, view, scope.path);
    }
    // A reference means what Windows makes of it: the user's own value first, then the
    // machine's, then what this program was started with.
    const auto lookupIn = [&](size_t scopeIndex) {
        return [&, scopeIndex](const std::u16string& name) -> std::optional<std::u16string> {
            for (size_t i = scopeIndex + 1; i-- > 0;) {
                for (const NamedValue& value : scopes[i].values.values) {
                    if (ToLower(value.name) == ToLower(name)) {
                        return TextOf(value);
                    }
                }
            }
            return platform.environmentVariable(name);
        };
    };
    for (size_t i = 0; i < 2; ++i) {
        for (const NamedValue& value : scopes[i].values.values) {
            if (IsOracleValueName(value.name) && ToLower(value.name) != u"oracle_sid") {
                AddOracleFolder(platform, local, ExpandReferences(TextOf(value), lookupIn(i)).text,
                                oracleFolders);
            }
        }
    }
    const std::optional<std::u16string> ownHome = platform.environmentVariable(u"ORACLE_HOME");
    if (ownHome) {
        AddOracleFolder(platform, local, *ownHome, oracleFolders);
    }

    for (size_t i = 0; i < 2; ++i) {
        const EnvironmentScope& scope = scopes[i];
        const std::u16string keyLocation = rootPrefix(scope.root) + scope.path + u"\\";
        const auto makeItem = [&](const NamedValue& value) {
            auto item = std::make_unique<ResidueItem>();
            item->category = kEnvironmentCategory;
            item->kind = ItemKind::EnvironmentValue;
            item->registryRoot = scope.root;
            item->registryView = view;
            item->registryPath = scope.path;
            item->valueName = value.name;
            return item;
        };
        for (const NamedValue& value : scope.values.values) {
            if (!IsOracleValueName(value.name)) {
                continue;
            }
            auto item = makeItem(value);
            item->title = value.name + u"（" + scope.label + u"）";
            item->location = keyLocation + value.name;
            const Expansion folder = ExpandReferences(TextOf(value), lookupIn(i));
            const std::u16string path = DropTrailingSeparators(folder.text);
            const bool namesFolder = ToLower(value.name) != u"oracle_sid";
            if (namesFolder && folder.resolved && !CanonicalPath(path, local).empty() &&
                IsCertainlyGone(platform, path)) {
                item->risk = RiskLevel::Safe;
                item->checked = true;
                item->note = u"指向的目录已不存在：" + path + u"。删除前自动备份。";
            } else {
                item->risk = RiskLevel::NeedsConfirm;
                item->checked = false;
                item->note = namesFolder ? u"指向 " + path +
                                               u"；其他程序可能仍在使用此 Oracle 目录，因此默认"
                                               u"不选。删除前自动备份。"
                                         : u"Oracle 默认实例名“" + TextOf(value) +
                                               u"”；无法确定是否仍在使用，因此默认不选。删除前"
                                               u"自动备份。";
            }
            addItem(std::move(item));
        }
        for (const NamedValue& value : scope.values.values) {
            if (ToLower(value.name) != u"path") {
                continue;
            }
            std::vector<std::u16string> seen;
            for (const std::u16string& entry : SplitPathList(TextOf(value))) {
                const std::u16string identity = PathEntryIdentity(entry);
                if (entry.empty() || std::find(seen.begin(), seen.end(), identity) != seen.end()) {
                    continue;
                }
                seen.push_back(identity);
                const Expansion expanded = ExpandReferences(entry, lookupIn(i));
                const std::u16string path = DropTrailingSeparators(expanded.text);
                const std::u16string canonical = CanonicalPath(path, local);
                bool oracle = !canonical.empty() && HasOracleProductComponents(canonical);
                for (const std::u16string& folder : oracleFolders) {
                    oracle = oracle || IsInside(canonical, folder);
                }
                if (!oracle) {
                    continue;
                }
                auto item = makeItem(value);
                item->pathEntry = entry;
                item->title = value.name + u"（" + scope.label + u"）：" + entry;
                item->location = keyLocation + value.name + u"：" + entry;
                const std::u16string rest =
                    u"清理时只移除此条目，Path 的其他条目保持不变；修改前自动备份。";
                if (expanded.resolved && IsCertainlyGone(platform, path)) {
                    item->risk = RiskLevel::Safe;
                    item->checked = true;
                    item->note = u"指向的目录已不存在：" + path + u"。" + rest;
                } else {
                    item->risk = RiskLevel::NeedsConfirm;
                    item->checked = false;
                    item->note = u"指向 Oracle 目录 " + path +
                                 u"；其他程序可能仍从此目录加载 Oracle 客户端，因此默认不选。" +
                                 rest;
                }
                addItem(std::move(item));
            }
        }
    }
}

// Oracle's installer registers each home under a KEY_<home name> key, in the view of the home's
// bitness; a home outside the default folders is found only there.
void ScanCollector::scanOracleHomes(const std::vector<RegistryView>& views, const LocalNames& local,
                                    std::vector<std::u16string>& oracleFolders) {
    for (RegistryView view : views) {
        const SubkeyValuesListing keys = platform.readSubkeyValues(
            RegistryRoot::LocalMachine, view, kOracleKey, {u"ORACLE_HOME", u"ORACLE_HOME_NAME"});
        if (keys.error != codes::kSuccess) {
            continue;
        }
        for (const SubkeyValues& key : keys.subkeys) {
            if (!StartsWithNoCase(key.name, u"KEY_") || key.values.error != codes::kSuccess ||
                key.values.values.size() != 2) {
                continue;
            }
            const RegistryValue& homeValue = key.values.values[0];
            const RegistryValue& nameValue = key.values.values[1];
            const std::u16string home = DropTrailingSeparators(
                DecodeRegistryText(homeValue.error, homeValue.type, homeValue.data));
            if (CanonicalPath(home, local).empty()) {
                continue;
            }
            AddOracleFolder(platform, local, home, oracleFolders);
            std::u16string name =
                DecodeRegistryText(nameValue.error, nameValue.type, nameValue.data);
            if (name.empty()) {
                name = key.name.substr(4);
            }
            addFolderIfExists(home, u"Oracle 主目录", RiskLevel::HighRisk, false,
                              u"Oracle 在注册表 HKLM\\SOFTWARE\\ORACLE\\" + key.name +
                                  viewSuffix(view) + u" 中登记的主目录“" + name +
                                  u"”；可能仍在使用，因此默认不选。");
        }
    }
}

} // namespace tidewell
